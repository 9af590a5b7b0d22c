#pragma once

#include "archive/FileDigest.h"
#include "archive/GrowingFile.h"

#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class PlArchive;

// The extraction of a download while it lands, on a thread of its own, into the staging folder.
// The new bundle replaces the earlier one only once the whole file was read and the verdict on
// its digest is in; abandoned, or refused, the staging folder goes and the earlier bundle stays.
class StreamedExtraction {
  public:
    // The extraction of `path` by `archive`, opened now (never through a link); nothing when it
    // cannot be. Without an archive the file is only read for its digest, when one is wanted.
    static std::unique_ptr<StreamedExtraction> start(PlArchive *archive, const QString &path,
                                                     bool withDigest);
    StreamedExtraction(PlArchive *archive, UniqueFd file, QString path, bool withDigest);
    ~StreamedExtraction(); // abandons the extraction unless it was concluded
    StreamedExtraction(const StreamedExtraction &) = delete;
    StreamedExtraction &operator=(const StreamedExtraction &) = delete;

    const QString &path() const { return path_; }
    int descriptor() const { return file_.descriptor(); }
    int64_t bytesOnDisk() const { return file_.bytesOnDisk(); }
    void grew(int64_t bytesOnDisk) { file_.grew(bytesOnDisk); }

    // The file is whole: waits until the extraction has read all it will, then gives the digest
    // (when wanted) and length of the whole file as read through the extraction's descriptor.
    std::optional<FileDigest> finish();
    // Puts the new bundle in place or discards it: the status the process should end with.
    int conclude(bool approved);

  private:
    bool awaitVerdict();

    GrowingFile file_;
    const QString path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool readingDone_ = false;
    std::optional<bool> verdict_;
    int status_ = 1;
    std::thread thread_;
};

// Follows a download as it lands, `bytesOnDisk` of `path` so far: `extraction` reads it, started
// again when the file is another or was emptied (a whole answer after a partial one), for what was
// extracted from the earlier bytes no longer stands.
void followDownload(std::unique_ptr<StreamedExtraction> &extraction, PlArchive *archive,
                    const QString &path, int64_t bytesOnDisk, bool withDigest);
