#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>
#include <condition_variable>
#include <mutex>
#include <thread>

// A plain-HTTP peer on 127.0.0.1 for what a real server cannot be made to do: a cut at an exact
// byte, a stall, a malformed partial answer. Each connection reads one request head and gets the
// next reply byte for byte (the last one again once they run out), then is closed, or held open
// without another byte until the stub goes.
class RawStub {
  public:
    struct Reply {
        QByteArray bytes;
        bool hold = false;
        QByteArray trickle = {}; // then sent a byte every 100 ms, until the peer or the stub goes
    };
    // A whole answer: status line, header lines, "Connection: close", the body.
    static QByteArray answer(const QByteArray &status, const QByteArray &headers,
                             const QByteArray &body);

    explicit RawStub(QList<Reply> replies);
    ~RawStub();

    QUrl url(const QString &path) const;
    // Request heads in arrival order; waits up to 10 s for at least `count` of them.
    QList<QByteArray> requests(int count = 0) const;

  private:
    void serve();

    QList<Reply> replies_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    quint16 port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    QList<QByteArray> requests_;
    std::thread thread_;
};
