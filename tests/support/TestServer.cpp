#include "support/TestServer.h"

#include "support/TestListener.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <optional>
#include <thread>

namespace {

QString certificatePath(const char *name) {
    return QStringLiteral(PLIMBO_TEST_CERT_DIR "/") + QLatin1String(name);
}

QByteArray readCertificateFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("TestServer: cannot read %s (made when the tests are built)", qPrintable(path));
    return file.readAll();
}

QSslConfiguration serverConfiguration(TestServer::Tls tls) {
    if (!QSslSocket::supportsSsl())
        qFatal("TestServer: Qt has no working TLS backend (is OpenSSL installed?)");
    const char *name = tls == TestServer::Tls::On ? "server" : "untrusted";
    const QString stem = certificatePath(name);
    const QSslCertificate certificate(readCertificateFile(stem + QStringLiteral(".pem")));
    const QSslKey key(readCertificateFile(stem + QStringLiteral(".key")), QSsl::Ec);
    if (certificate.isNull() || key.isNull())
        qFatal("TestServer: the certificate or key at %s is not usable", qPrintable(stem));
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

// Routes are named by decoded path, whatever escaping the client used.
QString routeOf(const RecordedRequest &request) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(request.path));
}

// Every served file claims the same modification time; the ETag is what tells versions apart.
constexpr char lastModified[] = "Mon, 01 Jan 2024 00:00:00 GMT";

struct ByteRange {
    qint64 first = 0;
    qint64 last = -1; // -1: to the end
};

// A single "bytes=N-" or "bytes=N-M"; anything else (several ranges, suffix ranges, nonsense) is
// ignored as a server may, and the whole file goes out.
std::optional<ByteRange> parseRange(const QByteArray &value) {
    static const QByteArray unit = "bytes=";
    if (!value.startsWith(unit))
        return std::nullopt;
    const QList<QByteArray> bounds = value.mid(unit.size()).trimmed().split('-');
    if (bounds.size() != 2)
        return std::nullopt;
    bool valid = false;
    ByteRange range;
    range.first = bounds[0].toLongLong(&valid);
    if (!valid || range.first < 0)
        return std::nullopt;
    if (!bounds[1].isEmpty()) {
        range.last = bounds[1].toLongLong(&valid);
        if (!valid || range.last < range.first)
            return std::nullopt;
    }
    return range;
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray &name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

struct TestServer::Impl {
    // A plain thread running a Qt event loop (Qt adopts it): unlike QThread's, its end is joined
    // in a way the thread sanitizer sees, so tearing a server down raises no false reports.
    std::thread thread;
    bool tls = false;
    quint16 port = 0; // set before the constructor returns, constant afterwards

    mutable QMutex mutex; // guards what follows
    bool started = false;
    QString listenError;
    bool stopping = false;
    QHash<QString, TestHandler> handlers;
    QList<RecordedRequest> requests;

    void run(const std::optional<QSslConfiguration> &configuration);
    bool stopRequested() const;
    TestResponse respond(const RecordedRequest &request);
};

// The server thread: listens, reports the port, answers until the destructor asks it to stop.
void TestServer::Impl::run(const std::optional<QSslConfiguration> &configuration) {
    QEventLoop loop;
    TestListener listener(configuration,
                          [this](const RecordedRequest &request) { return respond(request); });
    const bool listening = listener.listen(QHostAddress::LocalHost, 0);
    {
        QMutexLocker lock(&mutex);
        port = listener.serverPort();
        listenError = listening ? QString() : listener.errorString();
        started = true;
    }
    if (!listening)
        return;
    // Polled rather than posted: the owner never touches this thread's event dispatcher.
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [this, &loop] {
        if (stopRequested())
            loop.quit();
    });
    stopCheck.start(std::chrono::milliseconds(5));
    loop.exec();
}

bool TestServer::Impl::stopRequested() const {
    QMutexLocker lock(&mutex);
    return stopping;
}

TestResponse TestServer::Impl::respond(const RecordedRequest &request) {
    TestHandler handler;
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        handler = handlers.value(routeOf(request));
    }
    if (!handler)
        return {404, {{"Content-Type", "text/plain"}}, "Not Found"};
    return handler(request);
}

TestServer::TestServer(Tls tls) : impl_(std::make_unique<Impl>()) {
    Impl *impl = impl_.get();
    impl->tls = tls != Tls::Off;
    std::optional<QSslConfiguration> configuration;
    if (impl->tls)
        configuration = serverConfiguration(tls);
    impl->thread = std::thread([impl, configuration] { impl->run(configuration); });
    QString error;
    for (;;) {
        {
            QMutexLocker lock(&impl->mutex);
            if (impl->started) {
                error = impl->listenError;
                break;
            }
        }
        QThread::msleep(1);
    }
    if (!error.isEmpty()) {
        impl->thread.join();
        qFatal("TestServer: cannot listen on 127.0.0.1: %s", qPrintable(error));
    }
}

TestServer::~TestServer() {
    {
        QMutexLocker lock(&impl_->mutex);
        impl_->stopping = true;
    }
    impl_->thread.join();
}

QUrl TestServer::url(const QString &pathAndQuery) const {
    const QString scheme = impl_->tls ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(scheme + QStringLiteral("://127.0.0.1:") + QString::number(impl_->port) +
                pathAndQuery);
}

quint16 TestServer::port() const {
    return impl_->port;
}

void TestServer::setResponse(const QString &path, const TestResponse &response) {
    setHandler(path, [response](const RecordedRequest &) { return response; });
}

void TestServer::setHandler(const QString &path, TestHandler handler) {
    QMutexLocker lock(&impl_->mutex);
    impl_->handlers.insert(path, std::move(handler));
}

QList<RecordedRequest> TestServer::requests() const {
    QMutexLocker lock(&impl_->mutex);
    return impl_->requests;
}

QList<RecordedRequest> TestServer::requestsTo(const QString &path) const {
    QList<RecordedRequest> matching;
    QMutexLocker lock(&impl_->mutex);
    for (const RecordedRequest &request : std::as_const(impl_->requests)) {
        if (routeOf(request) == path)
            matching.append(request);
    }
    return matching;
}

bool TestServer::waitForRequests(const QString &path, int count, int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (requestsTo(path).size() >= count)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
}

QString TestServer::caFile() {
    return certificatePath("ca.pem");
}

TestResponse serveFile(const RecordedRequest &request, const QByteArray &content,
                       const QByteArray &etag, bool acceptRanges) {
    TestResponse response;
    response.headers = {{"ETag", etag}, {"Last-Modified", lastModified}};
    if (acceptRanges)
        response.headers.emplaceBack("Accept-Ranges", "bytes");
    // If-Range takes a strong comparison: a weak tag never validates a partial answer.
    const QByteArray ifRange = request.header("If-Range");
    const bool validated = ifRange.isEmpty() || (ifRange == etag && !etag.startsWith("W/"));
    const std::optional<ByteRange> range =
        acceptRanges && validated ? parseRange(request.header("Range")) : std::nullopt;
    const qint64 size = content.size();
    if (!range) {
        response.body = content;
    } else if (range->first >= size) {
        response.status = 416;
        response.headers.emplaceBack("Content-Range", "bytes */" + QByteArray::number(size));
    } else {
        const qint64 last = range->last < 0 ? size - 1 : std::min(range->last, size - 1);
        response.status = 206;
        const QByteArray span = QByteArray::number(range->first) + '-' + QByteArray::number(last);
        response.headers.emplaceBack("Content-Range",
                                     "bytes " + span + '/' + QByteArray::number(size));
        response.body = content.mid(range->first, last - range->first + 1);
    }
    return response;
}
