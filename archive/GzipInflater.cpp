#include "archive/GzipInflater.h"

#include "archive/ArchiveInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <isa-l/igzip_lib.h>
#include <vector>

namespace {

constexpr size_t kInputChunk = 256 << 10;

std::string describe(int result) {
    switch (result) {
    case ISAL_INCORRECT_CHECKSUM:
        return "Damaged archive: the inflated data does not match the gzip checksum or length";
    case ISAL_INVALID_WRAPPER:
    case ISAL_UNSUPPORTED_METHOD:
        return "Damaged archive: invalid gzip header";
    default:
        return "Damaged archive: invalid compressed data";
    }
}

class GzipInflater final : public InflatedStream {
  public:
    explicit GzipInflater(ArchiveInput &input);

    ssize_t inflate(uint8_t *out, size_t capacity) override;
    const std::string &error() const override { return error_; }

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

GzipInflater::GzipInflater(ArchiveInput &input)
    : input_(input), state_(std::make_unique<inflate_state>()), in_(kInputChunk) {
    isal_inflate_init(state_.get());
    state_->crc_flag = ISAL_GZIP;
    state_->next_in = in_.data();
}

ssize_t GzipInflater::fail(std::string error) {
    if (error_.empty())
        error_ = std::move(error);
    return -1;
}

bool GzipInflater::refill() {
    inflate_state &s = *state_;
    std::memmove(in_.data(), s.next_in, s.avail_in);
    s.next_in = in_.data();
    const ssize_t read = input_.readAt(in_.data() + s.avail_in, in_.size() - s.avail_in, offset_);
    if (read < 0) {
        fail(std::string("Cannot read the archive: ") + std::strerror(errno));
        return false;
    }
    s.avail_in += uint32_t(read);
    offset_ += read;
    return read > 0;
}

bool GzipInflater::nextMemberFollows() {
    inflate_state &s = *state_;
    while (s.avail_in < 2 && refill()) {
    }
    return s.avail_in >= 2 && s.next_in[0] == 0x1f && s.next_in[1] == 0x8b;
}

ssize_t GzipInflater::inflate(uint8_t *out, size_t capacity) {
    if (!error_.empty())
        return -1;
    inflate_state &s = *state_;
    s.next_out = out;
    s.avail_out = uint32_t(std::min<size_t>(capacity, UINT32_MAX));
    while (s.avail_out > 0 && !ended_) {
        if (s.block_state == ISAL_BLOCK_FINISH) {
            // The member's trailer was checked; the stream ends unless another member follows.
            ended_ = !nextMemberFollows();
            if (!error_.empty())
                return -1;
            if (ended_)
                break;
            isal_inflate_reset(&s); // keeps the buffers and the gzip wrapper
        }
        if (s.avail_in == 0 && !refill())
            return fail(error_.empty() ? "Damaged archive: the compressed data is cut short"
                                       : error_);
        const uint32_t inBefore = s.avail_in;
        const uint32_t outBefore = s.avail_out;
        const isal_block_state stateBefore = s.block_state;
        const int result = isal_inflate(&s);
        // A call that neither reads, writes nor moves on would be repeated forever.
        if (result < 0 ||
            (s.avail_in == inBefore && s.avail_out == outBefore && s.block_state == stateBefore))
            return fail(describe(result));
    }
    return s.next_out - out;
}

} // namespace

std::unique_ptr<InflatedStream> newGzipInflater(ArchiveInput &input) {
    return std::make_unique<GzipInflater>(input);
}
