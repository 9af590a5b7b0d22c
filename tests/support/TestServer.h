#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>
#include <QUrl>
#include <functional>
#include <memory>

// What the server saw of one request.
struct RecordedRequest {
    QByteArray method;
    QByteArray path;                              // without the query
    QByteArray query;                             // raw, as sent, without "?"
    QList<QPair<QByteArray, QByteArray>> headers; // in the order received
    QByteArray body;
    QByteArray version; // "HTTP/1.1" or "HTTP/1.0"

    QByteArray header(const QByteArray &name) const; // case-insensitive; empty when absent
};

// What the server answers, and how it misbehaves.
struct TestResponse {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers; // Content-Length is added unless given
    QByteArray body;
    qint64 cutAfterBytes = -1;   // close the connection after this many body bytes
    qint64 stallAfterBytes = -1; // send this many body bytes, then nothing until the server stops
    bool stallBeforeHeaders = false; // accept the request but never answer it
};

using TestHandler = std::function<TestResponse(const RecordedRequest &)>;

// A file as a range-honouring web server serves it: ETag and Accept-Ranges (when
// `acceptRanges`), 206 for a satisfiable "Range: bytes=N-" whose If-Range matches `etag`, 200
// with the whole file otherwise.
TestResponse serveFile(const RecordedRequest &request, const QByteArray &content,
                       const QByteArray &etag, bool acceptRanges = true);

// An HTTP/1.1 server on 127.0.0.1 for tests, on a thread of its own (so it answers while the test's
// main thread is blocked). Plain or TLS with a certificate signed by caFile().
class TestServer {
  public:
    enum class Tls { Off, On, Untrusted }; // Untrusted: a self-signed certificate nobody trusts

    explicit TestServer(Tls tls = Tls::Off);
    ~TestServer(); // stops the thread and closes every connection

    QUrl url(const QString &pathAndQuery = QStringLiteral("/")) const;
    quint16 port() const;

    void setResponse(const QString &path, const TestResponse &response);
    void setHandler(const QString &path, TestHandler handler); // called on the server's thread
    // Paths without a response or handler get 404.

    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requestsTo(const QString &path) const;
    // Waits (processing no events of the caller) until `count` requests to `path` arrived.
    bool waitForRequests(const QString &path, int count, int timeoutMs = 5000) const;

    static QString caFile(); // PEM of the CA behind Tls::On

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
