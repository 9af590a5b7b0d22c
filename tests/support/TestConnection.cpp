#include "support/TestConnection.h"

#include <QHash>
#include <QSslSocket>

namespace {

// Keeps the socket's buffers small however large the body: more is written as they drain.
constexpr qint64 chunkSize = 256 * 1024;
constexpr qint64 bufferedLimit = 1024 * 1024;

QByteArray reasonPhrase(int status) {
    static const QHash<int, QByteArray> phrases = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {410, "Gone"},
        {412, "Precondition Failed"},
        {416, "Range Not Satisfiable"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    return phrases.value(status, "Unknown");
}

bool hasHeader(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name) {
    return std::any_of(headers.begin(), headers.end(), [&](const auto &header) {
        return header.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

bool hasConnectionToken(const QByteArray &value, const QByteArray &token) {
    const QList<QByteArray> tokens = value.split(',');
    return std::any_of(tokens.begin(), tokens.end(), [&](const QByteArray &item) {
        return item.trimmed().compare(token, Qt::CaseInsensitive) == 0;
    });
}

// HTTP/1.0 clients get one answer per connection; HTTP/1.1 ones keep it unless they ask.
bool clientWantsClose(const RecordedRequest &request) {
    return request.version != "HTTP/1.1" ||
           hasConnectionToken(request.header("Connection"), "close");
}

bool responseWantsClose(const TestResponse &response) {
    return std::any_of(response.headers.begin(), response.headers.end(), [](const auto &header) {
        return header.first.compare("Connection", Qt::CaseInsensitive) == 0 &&
               hasConnectionToken(header.second, "close");
    });
}

} // namespace

TestConnection::TestConnection(QTcpSocket *socket, Responder responder, QObject *parent)
    : QObject(parent), socket_(socket), responder_(std::move(responder)) {
    socket_->setParent(this);
    connect(socket_, &QIODevice::readyRead, this, &TestConnection::readIncoming);
    connect(socket_, &QIODevice::bytesWritten, this, &TestConnection::continueWriting);
    if (auto *tls = qobject_cast<QSslSocket *>(socket_))
        connect(tls, &QSslSocket::encryptedBytesWritten, this, &TestConnection::continueWriting);
    connect(socket_, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
    connect(socket_, &QAbstractSocket::errorOccurred, this, &QObject::deleteLater);
    readIncoming(); // bytes that came with the connection
}

void TestConnection::readIncoming() {
    parser_.append(socket_->readAll());
    answerRequests();
}

void TestConnection::answerRequests() {
    while (state_ == State::Reading) {
        RecordedRequest request;
        switch (parser_.next(request)) {
        case HttpRequestParser::Result::Incomplete:
            if (parser_.takeContinueRequest())
                socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
            return;
        case HttpRequestParser::Result::Malformed:
            startResponse({400, {{"Connection", "close"}}, "Bad Request"}, request);
            break;
        case HttpRequestParser::Result::Complete:
            startResponse(responder_(request), request);
            break;
        }
        sendBody();
    }
}

void TestConnection::startResponse(const TestResponse &response, const RecordedRequest &request) {
    if (response.stallBeforeHeaders) {
        state_ = State::Stalled;
        return;
    }
    const bool close = clientWantsClose(request) || responseWantsClose(response);
    // These statuses carry no body whatever the response holds; HEAD gets only the headers.
    const bool bodiless = response.status == 204 || response.status == 304;
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status);
    for (const auto &[name, value] : response.headers)
        head += "\r\n" + name + ": " + value;
    if (!bodiless && !hasHeader(response.headers, "Content-Length"))
        head += "\r\nContent-Length: " + QByteArray::number(response.body.size());
    if (close && !responseWantsClose(response))
        head += "\r\nConnection: close";
    head += "\r\n\r\n";
    socket_->write(head);

    body_ = response.body;
    sent_ = 0;
    bodyEnd_ = bodiless || request.method == "HEAD" ? 0 : body_.size();
    ending_ = close ? Ending::Close : Ending::KeepAlive;
    if (response.cutAfterBytes >= 0) {
        bodyEnd_ = std::min(bodyEnd_, response.cutAfterBytes);
        ending_ = Ending::Close;
    } else if (response.stallAfterBytes >= 0) {
        bodyEnd_ = std::min(bodyEnd_, response.stallAfterBytes);
        ending_ = Ending::Stall;
    }
    state_ = State::Sending;
}

void TestConnection::sendBody() {
    if (state_ != State::Sending)
        return;
    while (sent_ < bodyEnd_ && unsentBytes() < bufferedLimit) {
        const qint64 size = std::min(chunkSize, bodyEnd_ - sent_);
        socket_->write(body_.constData() + sent_, size);
        sent_ += size;
    }
    if (sent_ < bodyEnd_)
        return;
    body_.clear();
    switch (ending_) {
    case Ending::KeepAlive:
        state_ = State::Reading;
        break;
    case Ending::Close:
        state_ = State::Closing;
        socket_->disconnectFromHost(); // after what is queued; a short body ends here
        break;
    case Ending::Stall:
        state_ = State::Stalled;
        break;
    }
}

void TestConnection::continueWriting() {
    sendBody();
    answerRequests(); // pipelined requests wait until the answer before them is queued
}

qint64 TestConnection::unsentBytes() const {
    const auto *tls = qobject_cast<const QSslSocket *>(socket_);
    return socket_->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}
