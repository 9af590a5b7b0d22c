#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

class ArchiveInput;

// A compressed stream, inflated block by block.
class InflatedStream {
  public:
    virtual ~InflatedStream() = default;
    // Inflates up to `capacity` bytes into `out`: how many, 0 once the stream has ended whole, -1
    // when it is damaged, cut short or cannot be read (error() says which); a failure is final.
    virtual ssize_t inflate(uint8_t *out, size_t capacity) = 0;
    virtual const std::string &error() const = 0;
};

// The gzip stream in `input`, inflated by ISA-L member after member, each checked against the
// CRC-32 and the length in its trailer. Bytes after a member that do not start another one are
// left unread, as gzip readers do. Only in builds with ISA-L.
std::unique_ptr<InflatedStream> newGzipInflater(ArchiveInput &input);
