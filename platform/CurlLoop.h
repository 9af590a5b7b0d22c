#pragma once

#include <curl/curl.h>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

// One thread driving a libcurl multi handle: the queue on which a session's transfers run and
// their callbacks are delivered. Work posted from any thread runs there in order.
class CurlLoop {
  public:
    using Finished = std::function<void(CURLcode)>;

    CurlLoop();
    ~CurlLoop();
    CurlLoop(const CurlLoop &) = delete;
    CurlLoop &operator=(const CurlLoop &) = delete;

    // Thread-safe: runs `work` on the loop thread.
    void post(std::function<void()> work);

    // Loop thread only. Starts `easy`; `finished` runs on the loop thread when it ends, after
    // the handle has left the multi handle. The caller keeps ownership of `easy`.
    void add(CURL *easy, Finished finished);

    bool onLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void run();
    void runPosted();
    void collectFinished();

    CURLM *multi_;
    std::unordered_map<CURL *, Finished> transfers_;
    std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
    bool stopping_ = false;
    std::thread thread_;
};
