#pragma once

#include <cstdint>
#include <memory>
#include <sys/types.h>
#include <vector>

class ArchiveInput;
class InflatedStream;
struct archive;

// A libarchive reader of the tar archive in an input. A gzip-compressed one is inflated by ISA-L,
// when the build has it, and libarchive reads the bare tar stream; anything else goes to
// libarchive's own readers.
class TarReader {
  public:
    explicit TarReader(ArchiveInput &input);
    ~TarReader();
    TarReader(const TarReader &) = delete;
    TarReader &operator=(const TarReader &) = delete;

    // Recognises the archive; false, with the reason printed, when it cannot.
    bool open();
    archive *get() const { return reader_; }
    // After the last entry: inflates what is left of the compressed stream, so that its last
    // trailer is checked as well. False, with the reason printed, when that fails.
    bool finish();

  private:
    ssize_t nextBlock(archive *reader, const void **block);

    ArchiveInput &input_;
    archive *const reader_;
    std::vector<uint8_t> buffer_;
    int64_t offset_ = 0; // of the input's next byte, when libarchive inflates
    std::unique_ptr<InflatedStream> inflater_;
};
