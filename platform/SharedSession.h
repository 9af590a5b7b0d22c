#pragma once

#include "platform/CurlLoop.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

struct HttpRequest {
    QUrl url;
    QByteArray method = "GET";
    QList<QPair<QByteArray, QByteArray>> headers; // sent in this order
    int timeoutMs = 60000;
    QString extraCaFile;
    QByteArray protocols = "http,https"; // libcurl's list, for the address and every redirect
    qsizetype maxBodySize = 1 << 20;     // a longer answer fails
};

struct HttpAnswer {
    std::optional<QByteArray> body; // absent when no answer arrived; an empty body is present
    long status = 0;
    QString error;          // the transport's description when no answer arrived
    bool transient = false; // the same request may work later (isTransientFailure)
};

// The process-wide session for small requests (the release lookup, analytics hits): one thread
// running a libcurl multi handle. Completions run on that thread, never on the caller's.
class SharedSession {
  public:
    using Completion = std::function<void(const HttpAnswer &)>;

    static SharedSession &shared();

    // Returns at once; the request starts on the session's thread.
    void start(HttpRequest request, Completion completion);

    // Waits up to `timeoutMs` until every request started so far has completed; false if some
    // have not.
    bool waitForPending(int timeoutMs);

  private:
    CurlLoop loop_;
    std::mutex pendingMutex_;
    std::condition_variable settled_;
    int pending_ = 0;
};
