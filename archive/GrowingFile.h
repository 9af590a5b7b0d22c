#pragma once

#include "archive/ArchiveInput.h"
#include "archive/FileDigest.h"
#include "archive/UniqueFd.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <openssl/evp.h>
#include <optional>

// A download read while it lands: a read past the bytes on disk waits until more land, the file
// is whole, or it is abandoned. When a digest is wanted, every byte read is hashed once, in order,
// so that it is of the very bytes the extraction consumed.
class GrowingFile final : public ArchiveInput {
  public:
    GrowingFile(UniqueFd file, bool withDigest);

    // From the writer's side, any thread.
    void grew(int64_t bytesOnDisk);
    void whole();   // no byte beyond those on disk
    void abandon(); // reads fail from now on, with ECANCELED

    ssize_t readAt(void *buffer, size_t size, int64_t offset) override;
    int descriptor() const { return file_.get(); }
    int64_t bytesOnDisk() const;
    // Once the file is whole and nobody reads it any more: reads whatever was not read yet, so
    // that the digest (empty when none is wanted) and the length cover the whole file. Nothing
    // when it cannot be read.
    std::optional<FileDigest> digest();

  private:
    bool hashUpTo(int64_t end); // reads and hashes the bytes from hashed_ to `end`
    void hash(const void *bytes, ssize_t size, int64_t offset);

    const UniqueFd file_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int64_t onDisk_ = 0;
    bool whole_ = false;
    bool abandoned_ = false;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha512_; // null: no digest
    int64_t hashed_ = 0; // bytes from the start, read and hashed; by the reading thread only
};
