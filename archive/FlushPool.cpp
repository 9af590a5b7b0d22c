#include "archive/FlushPool.h"

#include "archive/SyncTree.h"
#include "platform/Log.h"

#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kMostPending = 64;

} // namespace

FlushPool::FlushPool(int threads) {
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

FlushPool::~FlushPool() {
    finish();
}

void FlushPool::flush(UniqueFd fd, std::string name) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kMostPending; });
    queue_.emplace_back(std::move(fd), std::move(name));
    lock.unlock();
    pending_.notify_one();
}

bool FlushPool::finish() {
    {
        std::scoped_lock lock(mutex_);
        finished_ = true;
    }
    pending_.notify_all();
    for (std::thread &thread : threads_)
        thread.join();
    threads_.clear();
    return !failed_;
}

void FlushPool::work() {
    for (;;) {
        std::unique_lock lock(mutex_);
        pending_.wait(lock, [this] { return finished_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        auto [fd, name] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        room_.notify_one();
        if (flushToDisk(fd.get()))
            continue;
        printErrorLine(QStringLiteral("Cannot write %1 to disk: %2")
                           .arg(QFile::decodeName(name.c_str()),
                                QString::fromLocal8Bit(std::strerror(errno))));
        lock.lock();
        failed_ = true;
    }
}
