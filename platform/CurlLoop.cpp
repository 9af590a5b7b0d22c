#include "platform/CurlLoop.h"

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

CurlLoop::CurlLoop() : multi_((initialiseCurlOnce(), curl_multi_init())) {
    // As the platform's default session: a few connections per host, further requests wait.
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
    thread_ = std::thread([this] { run(); });
}

CurlLoop::~CurlLoop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    thread_.join();
    for (auto &[easy, finished] : transfers_)
        curl_multi_remove_handle(multi_, easy);
    curl_multi_cleanup(multi_);
}

void CurlLoop::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    curl_multi_wakeup(multi_);
}

void CurlLoop::add(CURL *easy, Finished finished) {
    transfers_.emplace(easy, std::move(finished));
    curl_multi_add_handle(multi_, easy);
}

void CurlLoop::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        runPosted();
        int running = 0;
        curl_multi_perform(multi_, &running);
        collectFinished();
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
}

void CurlLoop::runPosted() {
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(mutex_);
        work.swap(posted_);
    }
    for (auto &item : work)
        item();
}

void CurlLoop::collectFinished() {
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multi_, easy);
        const auto found = transfers_.find(easy);
        Finished finished = std::move(found->second);
        transfers_.erase(found);
        finished(result);
    }
}
