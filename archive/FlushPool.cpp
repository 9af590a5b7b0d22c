#include "archive/FlushPool.h"

#include "archive/SyncTree.h"
#include "platform/Log.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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
    hand({std::move(fd), std::move(name), true});
}

void FlushPool::flushFile(const char *path) {
    UniqueFd file(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
#ifdef Q_OS_LINUX
    constexpr bool whole = false;
#else
    constexpr bool whole = true;
#endif
    if (file)
        hand({std::move(file), path, whole});
}

void FlushPool::hand(Handed handed) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kMostPending; });
    queue_.push_back(std::move(handed));
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
        auto [fd, name, whole] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        room_.notify_one();
        struct stat info {};
        if (!whole && writeOut(fd.get()))
            continue;
        if (whole && flushToDisk(fd.get())) {
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

// Writing out starts at once, without waiting; whoever takes the count past `kCommitEvery` waits
// for the commit of everything written so far on the file system, which also reports any file
// of it that could not be written.
bool FlushPool::writeOut(int fd) {
#ifdef Q_OS_LINUX
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); // a head start; the commit decides
    {
        std::scoped_lock lock(mutex_);
        uncommitted_ += info.st_size;
        if (uncommitted_ < kCommitEvery)
            return true;
        uncommitted_ = 0;
    }
    return ::syncfs(fd) == 0;
#else
    return flushToDisk(fd);
#endif
}
