#include "archive/StreamedExtraction.h"

#include "archive/PlArchive.h"

#include <QFile>
#include <fcntl.h>

std::unique_ptr<StreamedExtraction>
StreamedExtraction::start(PlArchive *archive, const QString &path, bool withDigest) {
    UniqueFd file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file)
        return nullptr;
    return std::make_unique<StreamedExtraction>(archive, std::move(file), path, withDigest);
}

StreamedExtraction::StreamedExtraction(PlArchive *archive, UniqueFd file, QString path,
                                       bool withDigest)
    : file_(std::move(file), withDigest), path_(std::move(path)) {
    if (!archive) { // nothing to extract: only the digest is taken
        readingDone_ = true;
        status_ = 0;
        return;
    }
    thread_ = std::thread([this, archive] {
        const int status = archive->extract(file_, [this] { return awaitVerdict(); });
        std::scoped_lock lock(mutex_);
        status_ = status;
        readingDone_ = true;
        changed_.notify_all();
    });
}

StreamedExtraction::~StreamedExtraction() {
    if (!thread_.joinable())
        return;
    file_.abandon();
    conclude(false);
}

bool StreamedExtraction::awaitVerdict() {
    std::unique_lock lock(mutex_);
    readingDone_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return verdict_.has_value(); });
    return *verdict_;
}

std::optional<FileDigest> StreamedExtraction::finish() {
    file_.whole();
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return readingDone_; });
    }
    return file_.digest();
}

int StreamedExtraction::conclude(bool approved) {
    {
        std::scoped_lock lock(mutex_);
        verdict_ = approved;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    return status_;
}

void followDownload(std::unique_ptr<StreamedExtraction> &extraction, PlArchive *archive,
                    const QString &path, int64_t bytesOnDisk, bool withDigest) {
    if (extraction && (extraction->path() != path || bytesOnDisk < extraction->bytesOnDisk()))
        extraction.reset();
    if (!extraction)
        extraction = StreamedExtraction::start(archive, path, withDigest);
    if (extraction)
        extraction->grew(bytesOnDisk);
}
