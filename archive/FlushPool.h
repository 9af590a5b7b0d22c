#pragma once

#include "archive/UniqueFd.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Flushes files and folders to disk on a few threads. The file system commits flushes that wait
// at the same time together, where one after another each would wait for a commit of its own.
class FlushPool {
  public:
    explicit FlushPool(int threads);
    ~FlushPool(); // waits for every flush handed over
    FlushPool(const FlushPool &) = delete;
    FlushPool &operator=(const FlushPool &) = delete;

    // Hands over an open file or folder, named `name` in messages; waits while many are pending,
    // so that few descriptors are open at a time.
    void flush(UniqueFd fd, std::string name);
    // Waits for every flush handed over; false, with the reasons printed, when one failed.
    bool finish();

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable pending_;
    std::condition_variable room_;
    std::deque<std::pair<UniqueFd, std::string>> queue_;
    bool finished_ = false;
    bool failed_ = false;
    std::vector<std::thread> threads_;
};
