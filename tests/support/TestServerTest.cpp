#include "support/TestServer.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <atomic>
#include <curl/curl.h>
#include <functional>
#include <gtest/gtest.h>

namespace {

// What libcurl got back from one transfer.
struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    long newConnections = 0;
    QByteArray body;
    QList<QByteArray> headerLines; // of the final response

    QByteArray header(const QByteArray &name) const {
        for (const QByteArray &line : headerLines) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

// One libcurl easy handle; transfers on the same client reuse its connection when they can.
class Client {
  public:
    Client() : easy_(curl_easy_init()) {}
    ~Client() {
        curl_slist_free_all(headers_);
        curl_easy_cleanup(easy_);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    CURL *easy() const { return easy_; }

    void addHeader(const char *line) {
        headers_ = curl_slist_append(headers_, line);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    }

    Fetched fetch(const QUrl &url) {
        Fetched fetched;
        const QByteArray address = url.toEncoded();
        curl_easy_setopt(easy_, CURLOPT_URL, address.constData());
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Client::onBody);
        Sink sink{&fetched, sink_};
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &sink);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Client::onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &fetched);
        if (!timeoutSet_)
            curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, 10000L);
        fetched.code = curl_easy_perform(easy_);
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &fetched.status);
        curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &fetched.newConnections);
        return fetched;
    }

    // Hands the body over piece by piece instead of keeping it.
    void streamBodyTo(std::function<void(QByteArrayView)> sink) { sink_ = std::move(sink); }

    void setTimeoutMs(long timeout) {
        timeoutSet_ = true;
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, timeout);
    }

  private:
    struct Sink {
        Fetched *fetched;
        const std::function<void(QByteArrayView)> &stream;
    };

    static size_t onBody(char *data, size_t size, size_t count, void *target) {
        const auto *sink = static_cast<Sink *>(target);
        const QByteArrayView piece(data, qsizetype(size * count));
        if (sink->stream)
            sink->stream(piece);
        else
            sink->fetched->body.append(piece);
        return size * count;
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *target) {
        auto *fetched = static_cast<Fetched *>(target);
        const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
        if (line.startsWith("HTTP/"))
            fetched->headerLines.clear(); // an interim answer's headers do not count
        if (!line.isEmpty())
            fetched->headerLines.append(line);
        return size * count;
    }

    CURL *easy_;
    curl_slist *headers_ = nullptr;
    std::function<void(QByteArrayView)> sink_;
    bool timeoutSet_ = false;
};

// Bytes whose period (a prime) is no divisor of any write size, so a lost or repeated piece shows.
QByteArray pattern(qsizetype size) {
    QByteArray period(4093, Qt::Uninitialized);
    for (qsizetype i = 0; i < period.size(); ++i)
        period[i] = char('a' + (i * 7 + i / 26) % 26);
    QByteArray bytes = period.repeated(size / period.size() + 1);
    bytes.truncate(size);
    return bytes;
}

// A raw connection for what libcurl would never send.
QByteArray exchangeRaw(const TestServer &server, const QByteArray &bytes) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    if (!socket.waitForConnected(5000))
        return "not connected";
    socket.write(bytes);
    QByteArray received;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        received += socket.readAll();
    return received + socket.readAll();
}

TEST(TestServerTest, TlsBackendIsAvailable) {
    // The certificate-only backend cannot serve TLS; the server needs OpenSSL's.
    EXPECT_TRUE(QSslSocket::supportsSsl());
    EXPECT_EQ(QSslSocket::activeBackend(), QStringLiteral("openssl"));
}

TEST(TestServerTest, RecordsRequestAndAnswersWithFixedResponse) {
    TestServer server;
    server.setResponse("/items", {200, {{"X-Answer", "42"}}, "hello"});
    Client client;
    client.addHeader("X-One: 1");
    client.addHeader("X-Two: 2");
    const Fetched fetched = client.fetch(server.url("/items?x=1&y=%20z"));

    EXPECT_EQ(fetched.code, CURLE_OK);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, "hello");
    EXPECT_EQ(fetched.header("X-Answer"), "42");
    EXPECT_EQ(fetched.headerLines.first(), "HTTP/1.1 200 OK");
    const QList<RecordedRequest> requests = server.requestsTo("/items");
    ASSERT_EQ(requests.size(), 1);
    const RecordedRequest &request = requests.first();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/items");
    EXPECT_EQ(request.query, "x=1&y=%20z");
    EXPECT_EQ(request.header("host"), "127.0.0.1:" + QByteArray::number(server.port()));
    QList<QByteArray> names;
    for (const auto &header : request.headers)
        names.append(header.first);
    EXPECT_GT(names.indexOf("X-Two"), names.indexOf("X-One"));
    EXPECT_GE(names.indexOf("X-One"), 0);
}

TEST(TestServerTest, UnknownPathGets404AndIsRecorded) {
    TestServer server;
    server.setResponse("/known", {200, {}, "x"});
    Client client;
    const Fetched fetched = client.fetch(server.url("/unknown"));
    EXPECT_EQ(fetched.code, CURLE_OK);
    EXPECT_EQ(fetched.status, 404);
    EXPECT_EQ(fetched.headerLines.first(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requestsTo("/unknown").size(), 1);
    EXPECT_TRUE(server.requestsTo("/known").isEmpty());
}

TEST(TestServerTest, RecordsPostBodies) {
    // 2 MiB makes libcurl ask for "100 Continue" and wait far longer than the transfer may take.
    const QList<QByteArray> bodies = {QByteArray(""), QByteArray("a=1&b=2"), pattern(2 << 20)};
    for (const QByteArray &body : bodies) {
        TestServer server;
        server.setResponse("/post", {204, {}, {}});
        Client client;
        curl_easy_setopt(client.easy(), CURLOPT_POST, 1L);
        curl_easy_setopt(client.easy(), CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(client.easy(), CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(client.easy(), CURLOPT_EXPECT_100_TIMEOUT_MS, 60000L);
        client.setTimeoutMs(5000);
        const Fetched fetched = client.fetch(server.url("/post"));

        EXPECT_EQ(fetched.code, CURLE_OK) << body.size();
        EXPECT_EQ(fetched.status, 204);
        const QList<RecordedRequest> requests = server.requestsTo("/post");
        ASSERT_EQ(requests.size(), 1);
        EXPECT_EQ(requests.first().method, "POST");
        EXPECT_EQ(requests.first().header("Content-Length"), QByteArray::number(body.size()));
        EXPECT_TRUE(requests.first().body == body) << body.size();
    }
}

TEST(TestServerTest, HandlerAnswersOnTheServerThread) {
    TestServer server;
    std::atomic<QThread *> handlerThread = nullptr; // ordered through the socket only
    server.setHandler("/echo", [&handlerThread](const RecordedRequest &request) {
        handlerThread = QThread::currentThread();
        return TestResponse{201, {{"Content-Type", "text/plain"}}, request.query};
    });
    Client client;
    const Fetched fetched = client.fetch(server.url("/echo?said=this"));
    EXPECT_EQ(fetched.status, 201);
    EXPECT_EQ(fetched.body, "said=this");
    EXPECT_NE(handlerThread.load(), nullptr);
    EXPECT_NE(handlerThread.load(), QThread::currentThread());
}

TEST(TestServerTest, RoutesByDecodedPath) {
    TestServer server;
    server.setResponse("/with space", {200, {}, "found"});
    Client client;
    EXPECT_EQ(client.fetch(server.url("/with%20space")).body, "found");
    EXPECT_EQ(server.requestsTo("/with space").first().path, "/with%20space");
}

TEST(TestServerTest, TlsIsVerifiedAgainstTheTestCa) {
    struct Case {
        TestServer::Tls tls;
        CURLcode expected;
    };
    for (const Case &test : {Case{TestServer::Tls::On, CURLE_OK},
                             Case{TestServer::Tls::Untrusted, CURLE_PEER_FAILED_VERIFICATION}}) {
        TestServer server(test.tls);
        server.setResponse("/secure", {200, {}, "secret"});
        EXPECT_EQ(server.url("/secure").scheme(), "https");
        Client client;
        const QByteArray caFile = TestServer::caFile().toLocal8Bit();
        curl_easy_setopt(client.easy(), CURLOPT_CAINFO, caFile.constData());
        curl_easy_setopt(client.easy(), CURLOPT_CAPATH, nullptr);
        const Fetched fetched = client.fetch(server.url("/secure"));
        EXPECT_EQ(fetched.code, test.expected) << curl_easy_strerror(fetched.code);
        EXPECT_EQ(fetched.body, test.expected == CURLE_OK ? "secret" : "");
    }
}

TEST(TestServerTest, CutAfterBytesEndsWithShortBody) {
    const QByteArray body = pattern(100000);
    for (TestServer::Tls tls : {TestServer::Tls::Off, TestServer::Tls::On}) {
        TestServer server(tls);
        TestResponse response{200, {}, body};
        response.cutAfterBytes = 1000;
        server.setResponse("/cut", response);
        Client client;
        const QByteArray caFile = TestServer::caFile().toLocal8Bit();
        curl_easy_setopt(client.easy(), CURLOPT_CAINFO, caFile.constData());
        const Fetched fetched = client.fetch(server.url("/cut"));
        EXPECT_EQ(fetched.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(fetched.code);
        EXPECT_EQ(fetched.header("Content-Length"), "100000");
        EXPECT_EQ(fetched.body, body.left(1000));
    }
}

TEST(TestServerTest, StallAfterBytesTimesOutWithWhatWasSent) {
    TestServer server;
    TestResponse response{200, {}, pattern(5000)};
    response.stallAfterBytes = 300;
    server.setResponse("/stall", response);
    Client client;
    // libcurl averages the speed over several seconds: a high floor makes the stall show at once.
    curl_easy_setopt(client.easy(), CURLOPT_LOW_SPEED_LIMIT, 100000L);
    curl_easy_setopt(client.easy(), CURLOPT_LOW_SPEED_TIME, 1L);
    const Fetched fetched = client.fetch(server.url("/stall"));
    EXPECT_EQ(fetched.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(fetched.body, response.body.left(300));
}

TEST(TestServerTest, StallBeforeHeadersRecordsButNeverAnswers) {
    TestServer server;
    TestResponse response{200, {}, "never"};
    response.stallBeforeHeaders = true;
    server.setResponse("/silent", response);
    Client client;
    client.setTimeoutMs(300);
    const Fetched fetched = client.fetch(server.url("/silent"));
    EXPECT_EQ(fetched.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(fetched.status, 0);
    EXPECT_TRUE(server.waitForRequests("/silent", 1, 1000));
}

TEST(TestServerTest, DestructorClosesStalledConnections) {
    auto server = std::make_unique<TestServer>();
    TestResponse response{200, {}, "abc"};
    response.stallAfterBytes = 1;
    server->setResponse("/stall", response);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server->port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("GET /stall HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(socket.waitForBytesWritten(5000));
    ASSERT_TRUE(server->waitForRequests("/stall", 1));
    server.reset();
    while (socket.state() == QAbstractSocket::ConnectedState)
        ASSERT_TRUE(socket.waitForReadyRead(5000) || socket.state() != QTcpSocket::ConnectedState);
    EXPECT_TRUE(socket.readAll().endsWith("\r\n\r\na"));
}

TEST(TestServerTest, WaitForRequestsTimesOutWithoutThem) {
    TestServer server;
    EXPECT_FALSE(server.waitForRequests("/nothing", 1, 50));
}

struct RangeCase {
    const char *name;
    QList<const char *> requestHeaders;
    bool acceptRanges;
    long status;
    QByteArray contentRange;
    qsizetype first; // of the body, in the file
    qsizetype length;
};

TEST(TestServerTest, ServeFileHonoursRangesAndIfRange) {
    const QByteArray content = pattern(100);
    const QList<RangeCase> cases = {
        {"no range", {}, true, 200, {}, 0, 100},
        {"open range", {"Range: bytes=10-"}, true, 206, "bytes 10-99/100", 10, 90},
        {"closed range", {"Range: bytes=10-19"}, true, 206, "bytes 10-19/100", 10, 10},
        {"range past end", {"Range: bytes=90-500"}, true, 206, "bytes 90-99/100", 90, 10},
        {"if-range match",
         {"Range: bytes=50-", "If-Range: \"v1\""},
         true,
         206,
         "bytes 50-99/100",
         50,
         50},
        {"if-range mismatch", {"Range: bytes=50-", "If-Range: \"v0\""}, true, 200, {}, 0, 100},
        {"ranges refused", {"Range: bytes=50-"}, false, 200, {}, 0, 100},
        {"unsatisfiable", {"Range: bytes=100-"}, true, 416, "bytes */100", 0, 0},
        {"reversed range", {"Range: bytes=20-10"}, true, 200, {}, 0, 100},
        {"several ranges", {"Range: bytes=0-1,5-6"}, true, 200, {}, 0, 100},
    };
    for (const RangeCase &test : cases) {
        TestServer server;
        server.setHandler("/file", [&](const RecordedRequest &request) {
            return serveFile(request, content, "\"v1\"", test.acceptRanges);
        });
        Client client;
        for (const char *line : test.requestHeaders)
            client.addHeader(line);
        const Fetched fetched = client.fetch(server.url("/file"));
        EXPECT_EQ(fetched.status, test.status) << test.name;
        EXPECT_EQ(fetched.header("Content-Range"), test.contentRange) << test.name;
        EXPECT_EQ(fetched.body, content.mid(test.first, test.length)) << test.name;
        EXPECT_EQ(fetched.header("ETag"), "\"v1\"") << test.name;
        EXPECT_FALSE(fetched.header("Last-Modified").isEmpty()) << test.name;
        EXPECT_EQ(fetched.header("Accept-Ranges"), test.acceptRanges ? "bytes" : "") << test.name;
    }
}

TEST(TestServerTest, KeepsConnectionsAliveUnlessClosed) {
    for (bool close : {false, true}) {
        TestServer server;
        server.setResponse("/a", {200, {}, "first"});
        server.setResponse("/b", {200, {}, "second"});
        Client client;
        if (close)
            client.addHeader("Connection: close");
        const Fetched first = client.fetch(server.url("/a"));
        const Fetched second = client.fetch(server.url("/b"));
        EXPECT_EQ(first.body, "first");
        EXPECT_EQ(second.body, "second");
        EXPECT_EQ(first.header("Connection"), close ? "close" : "");
        EXPECT_EQ(second.newConnections, close ? 1 : 0) << "close: " << close;
    }
}

TEST(TestServerTest, HeadAnswersHeadersOnlyAndKeepsTheConnectionUsable) {
    TestServer server;
    server.setResponse("/doc", {200, {}, "document"});
    Client client;
    curl_easy_setopt(client.easy(), CURLOPT_NOBODY, 1L);
    const Fetched head = client.fetch(server.url("/doc"));
    curl_easy_setopt(client.easy(), CURLOPT_HTTPGET, 1L);
    const Fetched get = client.fetch(server.url("/doc"));
    EXPECT_EQ(head.header("Content-Length"), "8");
    EXPECT_TRUE(head.body.isEmpty());
    EXPECT_EQ(get.code, CURLE_OK);
    EXPECT_EQ(get.body, "document");
    EXPECT_EQ(get.newConnections, 0);
    EXPECT_EQ(server.requestsTo("/doc").first().method, "HEAD");
}

TEST(TestServerTest, StreamsLargeBodies) {
    TestServer server;
    const QByteArray body = pattern(64 << 20);
    server.setResponse("/large", {200, {}, body});
    Client client;
    qsizetype received = 0;
    qsizetype firstDifference = -1;
    client.streamBodyTo([&](QByteArrayView piece) {
        const bool fits = received + piece.size() <= body.size();
        if (firstDifference < 0 &&
            (!fits || piece != QByteArrayView(body).sliced(received, piece.size())))
            firstDifference = received;
        received += piece.size();
    });
    const Fetched fetched = client.fetch(server.url("/large"));
    EXPECT_EQ(fetched.code, CURLE_OK);
    EXPECT_EQ(received, body.size());
    EXPECT_EQ(firstDifference, -1);
}

TEST(TestServerTest, AnswersPipelinedRequestsInOrder) {
    TestServer server;
    server.setResponse("/one", {200, {}, "1"});
    server.setResponse("/two", {200, {}, "22"});
    const QByteArray received = exchangeRaw(server, "GET /one HTTP/1.1\r\nHost: x\r\n\r\n"
                                                    "GET /two HTTP/1.1\r\nHost: x\r\n"
                                                    "Connection: close\r\n\r\n");
    const qsizetype first = received.indexOf("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n1");
    const qsizetype second = received.indexOf("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"
                                              "Connection: close\r\n\r\n22");
    EXPECT_EQ(first, 0) << received.constData();
    EXPECT_GT(second, first) << received.constData();
}

TEST(TestServerTest, AnswersBadRequestsWith400AndCloses) {
    TestServer server;
    const QByteArray received = exchangeRaw(server, "NONSENSE\r\n\r\n");
    EXPECT_TRUE(received.startsWith("HTTP/1.1 400 Bad Request\r\n")) << received.constData();
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(TestServerTest, ClosesAfterAnHttp10Request) {
    TestServer server;
    server.setResponse("/old", {200, {}, "old"});
    const QByteArray received = exchangeRaw(server, "GET /old HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(received.startsWith("HTTP/1.1 200 OK\r\n")) << received.constData();
    EXPECT_TRUE(received.contains("\r\nConnection: close\r\n")) << received.constData();
    EXPECT_TRUE(received.endsWith("\r\n\r\nold")) << received.constData();
}

} // namespace
