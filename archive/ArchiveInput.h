#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Where an archive's bytes come from. They are read at an offset, not from a position of the
// source's own, so that one open file serves every reader, and a file still being written can be
// read as it grows.
class ArchiveInput {
  public:
    virtual ~ArchiveInput() = default;
    // Up to `size` bytes from `offset` into `buffer`: how many, 0 at the end, -1 with errno set.
    virtual ssize_t readAt(void *buffer, size_t size, int64_t offset) = 0;
};

// A complete file, through a descriptor that the caller keeps open.
class FileInput final : public ArchiveInput {
  public:
    explicit FileInput(int descriptor) : descriptor_(descriptor) {}
    ssize_t readAt(void *buffer, size_t size, int64_t offset) override;

  private:
    const int descriptor_;
};
