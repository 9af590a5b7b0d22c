#include "archive/FlushPool.h"

#include "archive/SyncTree.h"
#include "platform/Log.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

constexpr size_t kMostPending = 64;

timespec changeTime(const struct stat &info) {
#ifdef Q_OS_MACOS
    return info.st_ctimespec;
#else
    return info.st_ctim;
#endif
}

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

void FlushPool::flushFile(const char *path) {
    UniqueFd file(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file)
        flush(std::move(file), path);
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

bool FlushPool::flushed(const struct stat &info) const {
    const auto file = flushedFiles_.find(info.st_ino);
    const timespec changed = changeTime(info);
    return file != flushedFiles_.end() && file->second.tv_sec == changed.tv_sec &&
           file->second.tv_nsec == changed.tv_nsec;
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
        struct stat info {};
        if (flushToDisk(fd.get())) {
            if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode)) {
                lock.lock();
                flushedFiles_.insert_or_assign(info.st_ino, changeTime(info));
            }
            continue;
        }
        printErrorLine(QStringLiteral("Cannot write %1 to disk: %2")
                           .arg(QFile::decodeName(name.c_str()),
                                QString::fromLocal8Bit(std::strerror(errno))));
        lock.lock();
        failed_ = true;
    }
}
