// The controller's side of the finished download: report it, check it, put it where the archive
// is kept, and extract it away from the main thread.
#include "analytics/GaEvent.h"
#include "archive/FileDigest.h"
#include "archive/PlArchive.h"
#include "archive/PlaceArchive.h"
#include "archive/StreamedExtraction.h"
#include "installer/NumberText.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

#include <QFile>
#include <QThreadPool>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

void ViewController::didFinishDownloadingTo(DownloadSession *, DownloadTask *,
                                            const QString &path) {
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::system_clock::now() - startTime;
    if (gaEvent)
        gaEvent->send(
            QStringLiteral("finish_download"),
            {{QStringLiteral("duration"), shortestDecimalText(elapsed.count())},
             {QStringLiteral("auto_retry_count"), QString::number(autoRetryCount.load())}});

    // The extraction has read the download as it landed, through one descriptor: the bytes
    // unpacked are the bytes checked, whatever happens to the file's name meanwhile.
    std::unique_ptr<StreamedExtraction> extraction = std::move(extraction_);
    if (!extraction || extraction->path() != path)
        extraction = StreamedExtraction::start(plArchive.get(), path, statement_.has_value());
    if (!extraction) {
        printErrorLine(QStringLiteral("Cannot open the download %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    struct stat info {};
    if (::fstat(extraction->descriptor(), &info) == 0)
        extraction->grew(info.st_size);
    const std::optional<FileDigest> digest = extraction->finish();
    // Only the archive the maker's statement names is ever put in place.
    if (statement_) {
        const QString fault = digest ? archiveFault(*statement_, digest->length, digest->sha512)
                                     : QStringLiteral("Cannot read the archive to check it: ") +
                                           QString::fromLocal8Bit(std::strerror(errno));
        if (!fault.isEmpty()) {
            extraction->conclude(false);
            printErrorLine(fault);
            QFile::remove(path);
            return refuseRelease(fault);
        }
    }
    if (!placeArchive(path, extraction->descriptor(), deployment_.archivePath)) {
        nsLog(QStringLiteral("move to dst error"));
        // The descriptor keeps the download for the extraction; its name is not needed any more.
        QFile::remove(path);
        printLine(QStringLiteral("Extracting the download from the installer's own copy"));
    }
    nsLog(QStringLiteral("Download finish start to untar"));
    QThreadPool::globalInstance()->start(
        [this, done = std::shared_ptr<StreamedExtraction>(std::move(extraction))] {
            extractAndShowSuccess(*done);
        });
}

void ViewController::didStoreData(DownloadSession *, DownloadTask *task, const QString &path,
                                  int64_t bytesOnDisk) {
    if (task == downloadTask().get())
        followDownload(extraction_, plArchive.get(), path, bytesOnDisk, statement_.has_value());
}

// The staging folder goes, unless the transfer can carry on with the same file.
void ViewController::abandonExtraction(const std::optional<DownloadError> &error) {
    if (error && !error->resumeData)
        extraction_.reset();
}

void ViewController::extractAndShowSuccess(StreamedExtraction &extraction) {
    if (gaEvent)
        gaEvent->send(QStringLiteral("ungzip"));
    if (extraction.conclude(true) != 0)
        terminateProcess(1);
    if (statement_)
        recordInstalledVersion(statement_->version);
    runOnMainAsync([this] { showSuccessScreen(); });
}
