#include "archive/TarReader.h"

#include "archive/ArchiveInput.h"
#include "archive/Extraction.h"
#include "archive/GzipInflater.h"
#include "platform/Log.h"

#include <archive.h>
#include <cerrno>
#include <cstring>

namespace {

// Inflated blocks small enough to stay in the processor's cache until they are copied on.
constexpr size_t kBlockSize = 64 << 10;

#ifdef PLIMBO_HAVE_ISAL
bool startsLikeGzip(ArchiveInput &input) {
    unsigned char magic[3] = {};
    return input.readAt(magic, sizeof magic, 0) == sizeof magic && magic[0] == 0x1f &&
           magic[1] == 0x8b && magic[2] == 8;
}
#endif

} // namespace

TarReader::TarReader(ArchiveInput &input)
    : input_(input), reader_(archive_read_new()), buffer_(kBlockSize) {}

TarReader::~TarReader() {
    archive_read_free(reader_);
}

bool TarReader::open() {
    archive_read_support_format_tar(reader_);
#ifdef PLIMBO_HAVE_ISAL
    if (startsLikeGzip(input_))
        inflater_ = newGzipInflater(input_);
#endif
    if (!inflater_)
        archive_read_support_filter_gzip(reader_);
    const auto read = [](archive *reader, void *self, const void **block) -> la_ssize_t {
        return static_cast<TarReader *>(self)->nextBlock(reader, block);
    };
    // libarchive recognises the format while opening.
    if (archive_read_open(reader_, this, nullptr, read, nullptr) == ARCHIVE_OK)
        return true;
    printArchiveError(reader_);
    return false;
}

ssize_t TarReader::nextBlock(archive *reader, const void **block) {
    *block = buffer_.data();
    if (inflater_) {
        const ssize_t inflated = inflater_->inflate(buffer_.data(), buffer_.size());
        if (inflated < 0)
            archive_set_error(reader, EILSEQ, "%s", inflater_->error().c_str());
        return inflated < 0 ? ARCHIVE_FATAL : inflated;
    }
    const ssize_t read = input_.readAt(buffer_.data(), buffer_.size(), offset_);
    if (read < 0) {
        archive_set_error(reader, errno, "Cannot read the archive: %s", std::strerror(errno));
        return ARCHIVE_FATAL;
    }
    offset_ += read;
    return read;
}

bool TarReader::finish() {
    if (!inflater_)
        return true;
    ssize_t inflated = 0;
    while ((inflated = inflater_->inflate(buffer_.data(), buffer_.size())) > 0) {
    }
    if (inflated == 0)
        return true;
    printErrorLine(QString::fromStdString(inflater_->error()));
    return false;
}
