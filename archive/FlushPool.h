#pragma once

#include "archive/UniqueFd.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

// Flushes files and folders to disk on a few threads. The file system commits flushes that wait
// at the same time together, where one after another each would wait for a commit of its own.
class FlushPool {
  public:
    // Flushes wait for the disk, not the processor: a few more threads than cores still gain.
    static constexpr int kThreads = 4;
    // Files handed over by `flushFile` are flushed together once they hold this many bytes, or
    // are this many.
    static constexpr long long kBatchBytes = 16LL << 20;
    static constexpr size_t kBatchFiles = 128;

    explicit FlushPool(int threads = kThreads);
    ~FlushPool(); // waits for every flush handed over
    FlushPool(const FlushPool &) = delete;
    FlushPool &operator=(const FlushPool &) = delete;

    // Hands over an open file or folder, named `name` in messages; waits while many are pending,
    // so that few descriptors are open at a time.
    void flush(UniqueFd fd, std::string name);
    // Opens the file at `path`, never through a link, and hands it over; a file that cannot be
    // opened is left for a later pass. Its writing out starts at once (on Linux), and it is
    // flushed with a batch of others: a journaling file system commits a batch once, where file by
    // file it would commit once per file, and the writer of the next files would wait for each.
    void flushFile(const char *path);
    // Waits for every flush handed over; false, with the reasons printed, when one failed.
    bool finish();
    // Once finished: whether the regular file `info` describes was flushed as it is, unchanged
    // since (a new link to it changes it, as does a new file that took its inode number).
    bool flushed(const struct stat &info) const;

  private:
    struct Handed {
        UniqueFd fd;
        std::string name;
        bool whole; // flushed now, rather than written out to join a batch
    };

    void hand(Handed handed);
    void work();
    void writeOut(Handed handed);
    void queueBatch(); // with the lock held

    std::mutex mutex_;
    std::condition_variable pending_;
    std::condition_variable room_;
    std::deque<Handed> queue_;
    std::vector<Handed> batch_;
    long long batchBytes_ = 0;
    bool finished_ = false;
    bool failed_ = false;
    std::unordered_map<ino_t, timespec> flushedFiles_; // inode and change time, once flushed
    std::vector<std::thread> threads_;
};
