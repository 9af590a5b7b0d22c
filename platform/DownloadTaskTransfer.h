#pragma once

// The session's state and a task's transfer, shared by the session's two files and no others.

#include "platform/CurlLoop.h"
#include "platform/DownloadSession.h"
#include "platform/ProgressRelay.h"
#include "platform/ResponseHead.h"
#include "platform/ResumeData.h"

#include <QFile>
#include <chrono>
#include <memory>
#include <mutex>

struct DownloadSession::State {
    DownloadSession *session;
    DownloadSessionDelegate *delegate;
    DownloadSessionOptions options;
    QString folder; // absolute; every partial file of the session lives here

    std::mutex mutex;
    std::unique_ptr<CurlLoop> loop = std::make_unique<CurlLoop>(); // null once stopped
    std::unique_ptr<ProgressRelay> relay;

    // Thread-safe: runs `work` on the loop thread, unless the session is going away.
    void post(std::function<void(CurlLoop &)> work) {
        std::lock_guard lock(mutex);
        if (!loop)
            return;
        CurlLoop *target = loop.get();
        target->post([target, work = std::move(work)] { work(*target); });
    }

    // Joins the loop thread; afterwards nothing runs there. Never called on that thread.
    void stop() {
        {
            std::unique_ptr<CurlLoop> stopping; // destroyed after the lock is released
            std::lock_guard lock(mutex);
            stopping = std::move(loop);
        }
        relay.reset(); // nothing reports once the loop thread is gone
    }
};

// One transfer. Fixed at creation, then touched only on the loop thread from start() on.
struct DownloadTask::Transfer {
    using Clock = std::chrono::steady_clock;

    Transfer(DownloadTask *task, std::weak_ptr<DownloadSession::State> session, QUrl url,
             std::optional<ResumeData> resumeFrom, qint64 knownLength)
        : task(task), session(std::move(session)), url(std::move(url)),
          resumeFrom(std::move(resumeFrom)), knownLength(knownLength) {}
    ~Transfer();

    DownloadTask *const task;
    const std::weak_ptr<DownloadSession::State> session;
    const QUrl url;
    const std::optional<ResumeData> resumeFrom;
    const qint64 knownLength; // -1: whatever the server sends

    DownloadSession::State *state = nullptr; // outlives the loop thread's work
    bool started = false;
    CURL *easy = nullptr;
    curl_slist *requestHeaders = nullptr;
    char curlError[CURL_ERROR_SIZE] = {};
    ResponseHead head;

    std::unique_ptr<QFile> file;
    bool ownsFile = false; // removed when the transfer ends without handing it on
    std::unique_ptr<char[]> buffer;
    qsizetype buffered = 0;

    bool answerChecked = false; // the final response's status was checked before its body
    qint64 offset = 0;          // bytes of the file before this response's body
    qint64 received = 0;        // body bytes of this response
    qint64 onDisk = 0;          // bytes of the file written so far
    qint64 expected = -1;
    qint64 unreported = 0;
    Clock::time_point lastReport;
    Clock::time_point lastByte;
    bool timedOut = false;
    QString failure;        // why the session itself ended the transfer; never resumable
    bool wrongFile = false; // the server's file is not the one known beforehand
    QString errorAnswer;    // the server answered with an error; what was on disk still holds

    void start(DownloadSession::State &owner, CurlLoop &loop, std::shared_ptr<DownloadTask> self);
    bool openFile();
    void configure();

    static size_t receiveBody(char *data, size_t size, size_t count, void *transfer);
    static size_t receiveHeader(char *data, size_t size, size_t count, void *transfer);
    static int tick(void *transfer, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    size_t receive(const char *data, size_t size);
    bool checkAnswer();
    bool checkLength();
    bool refuse(const QString &why);
    bool refuseWrongFile(const QString &why);
    bool store(const char *data, qsizetype size);
    bool flush();
    bool written(qsizetype size);
    QString writeFailure() const;
    void reportIfDue();
    void report();

    void finish(CURLcode result);
    void deliver();
    void fail(CURLcode result);
    std::optional<QByteArray> resumeDataAfterFailure() const;
    void releaseCurl();
    void discardFile();
    void complete(const std::optional<DownloadError> &error);
};
