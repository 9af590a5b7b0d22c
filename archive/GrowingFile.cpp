#include "archive/GrowingFile.h"

#include <algorithm>
#include <cerrno>
#include <vector>

GrowingFile::GrowingFile(UniqueFd file, bool withDigest)
    : file_(std::move(file)), sha512_(withDigest ? EVP_MD_CTX_new() : nullptr, EVP_MD_CTX_free) {
    if (sha512_)
        EVP_DigestInit_ex(sha512_.get(), EVP_sha512(), nullptr);
}

void GrowingFile::grew(int64_t bytesOnDisk) {
    {
        std::scoped_lock lock(mutex_);
        onDisk_ = std::max(onDisk_, bytesOnDisk);
    }
    changed_.notify_all();
}

void GrowingFile::whole() {
    {
        std::scoped_lock lock(mutex_);
        whole_ = true;
    }
    changed_.notify_all();
}

void GrowingFile::abandon() {
    {
        std::scoped_lock lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
}

int64_t GrowingFile::bytesOnDisk() const {
    std::scoped_lock lock(mutex_);
    return onDisk_;
}

ssize_t GrowingFile::readAt(void *buffer, size_t size, int64_t offset) {
    int64_t available = 0;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return abandoned_ || whole_ || offset < onDisk_; });
        if (abandoned_) {
            errno = ECANCELED;
            return -1;
        }
        available = std::max<int64_t>(onDisk_ - offset, 0);
    }
    // Bytes skipped over are still part of what was consumed.
    if (offset > hashed_ && !hashUpTo(offset))
        return -1;
    ssize_t read = 0;
    do
        read = ::pread(file_.get(), buffer, std::min<int64_t>(int64_t(size), available), offset);
    while (read < 0 && errno == EINTR);
    if (read > 0)
        hash(buffer, read, offset);
    return read;
}

void GrowingFile::hash(const void *bytes, ssize_t size, int64_t offset) {
    const int64_t end = offset + size;
    if (end <= hashed_)
        return; // read again: hashed already
    const int64_t skip = hashed_ - offset;
    if (sha512_)
        EVP_DigestUpdate(sha512_.get(), static_cast<const char *>(bytes) + skip,
                         size_t(end - hashed_));
    hashed_ = end;
}

bool GrowingFile::hashUpTo(int64_t end) {
    // Usually the extraction has read it all. Memory new to the process costs a fault on every
    // page, and this runs between the last byte and the new bundle.
    if (hashed_ >= end)
        return true;
    std::vector<char> block(64 << 10);
    while (hashed_ < end) {
        const ssize_t read =
            ::pread(file_.get(), block.data(),
                    size_t(std::min<int64_t>(int64_t(block.size()), end - hashed_)), hashed_);
        if (read == 0)
            return true; // a file that ended short of `end`: the rest is read as its end
        if (read < 0 && errno != EINTR)
            return false;
        if (read > 0)
            hash(block.data(), read, hashed_);
    }
    return true;
}

std::optional<FileDigest> GrowingFile::digest() {
    if (!hashUpTo(bytesOnDisk()))
        return std::nullopt;
    if (!sha512_)
        return FileDigest{{}, hashed_};
    QByteArray sha512(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    EVP_DigestFinal_ex(sha512_.get(), reinterpret_cast<unsigned char *>(sha512.data()), &size);
    sha512.truncate(int(size));
    return FileDigest{sha512, hashed_};
}
