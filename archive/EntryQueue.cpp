#include "archive/EntryQueue.h"

#include <utility>

namespace {

// A header's strings (paths of up to 4 KiB) and the like, so that a long run of empty files
// cannot pile up unbounded either.
constexpr size_t kHeaderCost = 4096;

size_t cost(const EntryPiece &piece) {
    return piece.data.size() + (piece.header ? kHeaderCost : sizeof piece);
}

} // namespace

bool EntryQueue::push(EntryPiece piece) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return stopped_ || bytes_ < capacity_; });
    if (stopped_)
        return false;
    bytes_ += cost(piece);
    pieces_.push_back(std::move(piece));
    lock.unlock();
    filled_.notify_one();
    return true;
}

bool EntryQueue::stopped() {
    std::scoped_lock lock(mutex_);
    return stopped_;
}

void EntryQueue::finish(bool complete) {
    std::deque<EntryPiece> dropped; // freed outside the lock
    {
        std::scoped_lock lock(mutex_);
        finished_ = true;
        if (!complete)
            dropped = takeAll();
    }
    filled_.notify_one();
}

std::vector<char> EntryQueue::spareBuffer() {
    std::scoped_lock lock(mutex_);
    if (spares_.empty())
        return {};
    std::vector<char> buffer = std::move(spares_.back());
    spares_.pop_back();
    spareBytes_ -= buffer.capacity();
    return buffer;
}

std::optional<EntryPiece> EntryQueue::pop() {
    std::unique_lock lock(mutex_);
    filled_.wait(lock, [this] { return finished_ || !pieces_.empty(); });
    if (pieces_.empty())
        return std::nullopt;
    EntryPiece piece = std::move(pieces_.front());
    pieces_.pop_front();
    bytes_ -= cost(piece);
    lock.unlock();
    room_.notify_one();
    return piece;
}

void EntryQueue::stop() {
    std::deque<EntryPiece> dropped; // freed outside the lock
    {
        std::scoped_lock lock(mutex_);
        stopped_ = true;
        dropped = takeAll();
    }
    room_.notify_one();
}

void EntryQueue::recycle(std::vector<char> buffer) {
    if (buffer.capacity() == 0)
        return;
    std::scoped_lock lock(mutex_);
    if (spareBytes_ + buffer.capacity() > capacity_)
        return; // freed outside the lock
    spareBytes_ += buffer.capacity();
    spares_.push_back(std::move(buffer));
}

std::deque<EntryPiece> EntryQueue::takeAll() {
    bytes_ = 0;
    return std::exchange(pieces_, {});
}
