#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class DownloadTask;

// Hands a session's progress reports to its delegate on a thread of their own, in order: a
// delegate that waits in its progress callback (for the main thread to draw it) holds back
// neither the network nor the file. Reports for the same task that arrive meanwhile are added up.
class ProgressRelay {
  public:
    using Deliver = std::function<void(DownloadTask *task, int64_t bytesWritten,
                                       int64_t totalBytesWritten, int64_t totalBytesExpected)>;

    explicit ProgressRelay(Deliver deliver);
    ~ProgressRelay(); // a report being delivered finishes; those still waiting are dropped
    ProgressRelay(const ProgressRelay &) = delete;
    ProgressRelay &operator=(const ProgressRelay &) = delete;

    void report(DownloadTask *task, int64_t bytesWritten, int64_t totalBytesWritten,
                int64_t totalBytesExpected);
    // Returns once every report made so far was delivered.
    void drain();

  private:
    struct Report {
        DownloadTask *task;
        int64_t bytesWritten, totalBytesWritten, totalBytesExpected;
    };
    void run();

    const Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Report> waiting_;
    bool delivering_ = false;
    bool stopping_ = false;
    std::thread thread_; // last: starts once the rest is in place
};
