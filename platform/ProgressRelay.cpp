#include "platform/ProgressRelay.h"

#include <utility>

ProgressRelay::ProgressRelay(Deliver deliver)
    : deliver_(std::move(deliver)), thread_([this] { run(); }) {}

ProgressRelay::~ProgressRelay() {
    {
        std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ProgressRelay::report(DownloadTask *task, int64_t bytesWritten, int64_t totalBytesWritten,
                           int64_t totalBytesExpected) {
    {
        std::scoped_lock lock(mutex_);
        if (!waiting_.empty() && waiting_.back().task == task) {
            Report &last = waiting_.back();
            last.bytesWritten += bytesWritten;
            last.totalBytesWritten = totalBytesWritten;
            last.totalBytesExpected = totalBytesExpected;
        } else {
            waiting_.push_back({task, bytesWritten, totalBytesWritten, totalBytesExpected});
        }
    }
    changed_.notify_all();
}

void ProgressRelay::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && !delivering_; });
}

void ProgressRelay::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_)
            break;
        const Report next = waiting_.front();
        waiting_.pop_front();
        delivering_ = true;
        lock.unlock();
        deliver_(next.task, next.bytesWritten, next.totalBytesWritten, next.totalBytesExpected);
        lock.lock();
        delivering_ = false;
        changed_.notify_all();
    }
}
