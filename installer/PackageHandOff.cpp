// The controller's side of the finished download: report it, check it, put it where the archive
// is kept, and extract it away from the main thread.
#include "analytics/GaEvent.h"
#include "archive/FileDigest.h"
#include "archive/PlArchive.h"
#include "archive/PlaceArchive.h"
#include "archive/UniqueFd.h"
#include "installer/NumberText.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

#include <QFile>
#include <QThreadPool>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>

void ViewController::didFinishDownloadingTo(DownloadSession *, DownloadTask *,
                                            const QString &path) {
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::system_clock::now() - startTime;
    if (gaEvent)
        gaEvent->send(
            QStringLiteral("finish_download"),
            {{QStringLiteral("duration"), shortestDecimalText(elapsed.count())},
             {QStringLiteral("auto_retry_count"), QString::number(autoRetryCount.load())}});

    // One descriptor for the check and the extraction: the bytes unpacked are the bytes checked,
    // whatever happens to the file's name meanwhile.
    UniqueFd archive(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!archive) {
        printErrorLine(QStringLiteral("Cannot open the download %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    // Only the archive the maker's statement names is ever unpacked.
    if (statement_) {
        const std::optional<FileDigest> digest = fileDigest(archive.get());
        const QString fault =
            digest ? archiveFault(*statement_, digest->length, digest->sha512)
                   : QStringLiteral("Cannot read the archive to check it: ") +
                         QString::fromLocal8Bit(std::strerror(errno));
        if (!fault.isEmpty()) {
            printErrorLine(fault);
            QFile::remove(path);
            return refuseRelease(fault);
        }
    }
    if (!placeArchive(path, archive.get(), deployment_.archivePath)) {
        nsLog(QStringLiteral("move to dst error"));
        // The descriptor keeps the download for the extraction; its name is not needed any more.
        QFile::remove(path);
        printLine(QStringLiteral("Extracting the download from the installer's own copy"));
    }
    nsLog(QStringLiteral("Download finish start to untar"));
    QThreadPool::globalInstance()->start(
        [this, fd = std::make_shared<UniqueFd>(std::move(archive))] {
            extractAndShowSuccess(fd->get());
        });
}

void ViewController::extractAndShowSuccess(int archive) {
    if (gaEvent)
        gaEvent->send(QStringLiteral("ungzip"));
    if (plArchive)
        plArchive->untar(archive);
    if (statement_)
        recordInstalledVersion(statement_->version);
    runOnMainAsync([this] { showSuccessScreen(); });
}
