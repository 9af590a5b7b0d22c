#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class ArchiveInput;
struct inflate_state;

// Inflates a gzip stream with ISA-L, member after member, each checked against the CRC-32 and the
// length in its trailer. Bytes after a member that do not start another one are left unread, as
// gzip readers do.
class GzipInflater {
  public:
    explicit GzipInflater(ArchiveInput &input);
    ~GzipInflater();

    // Inflates up to `capacity` bytes into `out`: how many, 0 once the stream has ended whole, -1
    // when it is damaged, cut short or cannot be read (error() says which); a failure is final.
    ssize_t inflate(uint8_t *out, size_t capacity);
    const std::string &error() const { return error_; }

  private:
    ssize_t fail(std::string error);
    // Reads on after the compressed bytes not used yet; false at the end of the input, or when it
    // cannot be read (then with error_ set).
    bool refill();
    bool nextMemberFollows();

    ArchiveInput &input_;
    std::unique_ptr<inflate_state> state_;
    std::vector<uint8_t> in_;
    int64_t offset_ = 0; // of the input's first byte not yet in in_
    bool ended_ = false;
    std::string error_;
};
