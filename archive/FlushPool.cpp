#include "archive/FlushPool.h"

#include "archive/SyncTree.h"
#include "platform/Log.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>

namespace {

// Room for two full batches besides the files being handed over.
constexpr size_t kMostPending = 2 * FlushPool::kBatchFiles;

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
    if (file)
        hand({std::move(file), path, false});
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
        if (queue_.empty() && !batch_.empty())
            queueBatch(); // the last files: nothing more is coming
        if (queue_.empty())
            return;
        Handed handed = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        room_.notify_one();
        if (!handed.whole) {
            writeOut(std::move(handed));
            continue;
        }
        const UniqueFd &fd = handed.fd;
        const std::string &name = handed.name;
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

// Writing out starts at once, without waiting; the file then joins the batch, which the threads
// flush together once it is full, or once nothing more is coming.
void FlushPool::writeOut(Handed handed) {
    struct stat info {};
    if (::fstat(handed.fd.get(), &info) != 0)
        return; // left for the pass over the whole tree
#ifdef Q_OS_LINUX
    ::sync_file_range(handed.fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE); // a head start only
#endif // macOS has no way to start the writing out alone
    handed.whole = true;
    std::scoped_lock lock(mutex_);
    batch_.push_back(std::move(handed));
    batchBytes_ += info.st_size;
    if (batchBytes_ >= kBatchBytes || batch_.size() >= kBatchFiles)
        queueBatch();
}

void FlushPool::queueBatch() {
    std::move(batch_.begin(), batch_.end(), std::back_inserter(queue_));
    batch_.clear();
    batchBytes_ = 0;
    pending_.notify_all();
}
