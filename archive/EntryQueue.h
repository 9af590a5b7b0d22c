#pragma once

#include <archive_entry.h>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct EntryFree {
    void operator()(archive_entry *entry) const { archive_entry_free(entry); }
};
using EntryPtr = std::unique_ptr<archive_entry, EntryFree>;

// An entry's header, or a block of the data of the entry before it, at its offset in the file.
struct EntryPiece {
    EntryPtr header; // null for a block of data
    std::vector<char> data;
    la_int64_t offset = 0;
};

// Carries the entries from the thread that reads and inflates the archive to the one that writes
// them to disk. It holds about `capacity` bytes at most, so memory stays bounded whichever side is
// slower, and neither side waits on the other once that one has ended.
class EntryQueue {
  public:
    explicit EntryQueue(size_t capacity) : capacity_(capacity) {}

    // Reader side. Waits for room; false once the writer side has stopped, when the reader stops
    // too.
    bool push(EntryPiece piece);
    // Whether the writer side has stopped, for a reader about to skip data it hands nothing of.
    bool stopped();
    // A buffer the writer side is done with, to fill rather than a new one (empty when there is
    // none): memory the allocator has just given back to the system costs a fault on every page.
    std::vector<char> spareBuffer();
    // No more pieces; unless `complete`, those still queued are dropped.
    void finish(bool complete);

    // Writer side. The next piece, waiting for it; nothing once the reader has finished and all
    // it queued was taken.
    std::optional<EntryPiece> pop();
    // Takes no more pieces; those queued are dropped.
    void stop();
    // Hands back a written block's buffer, kept while the spares hold about `capacity` at most.
    void recycle(std::vector<char> buffer);

  private:
    std::deque<EntryPiece> takeAll(); // with the lock held

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable room_;
    std::condition_variable filled_;
    std::deque<EntryPiece> pieces_;
    size_t bytes_ = 0;
    std::vector<std::vector<char>> spares_;
    size_t spareBytes_ = 0;
    bool finished_ = false;
    bool stopped_ = false;
};
