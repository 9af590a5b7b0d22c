// The controller's side of the finished download: report it, move it where the extractor expects
// it, and extract it away from the main thread.
#include "analytics/GaEvent.h"
#include "archive/PlArchive.h"
#include "archive/RemoveTree.h"
#include "installer/ArchiveSignature.h"
#include "installer/NumberText.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

#include <QFile>
#include <QThreadPool>

void ViewController::didFinishDownloadingTo(DownloadSession *, DownloadTask *,
                                            const QString &path) {
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::system_clock::now() - startTime;
    if (gaEvent)
        gaEvent->send(
            QStringLiteral("finish_download"),
            {{QStringLiteral("duration"), shortestDecimalText(elapsed.count())},
             {QStringLiteral("auto_retry_count"), QString::number(autoRetryCount.load())}});

    // Only what the maker published is ever unpacked.
    if (!deployment_.updatePublicKey.isEmpty()) {
        const QString fault =
            archiveSignatureFault(path, deployment_.updatePublicKey, archiveSignature_);
        if (!fault.isEmpty()) {
            printErrorLine(fault);
            showRefusal(fault);
            QFile::remove(path);
            terminateProcess(1);
        }
    }
    removeTree(QFile::encodeName(deployment_.archivePath).toStdString());
    // Renames where it can, copies and removes across file systems.
    QFile delivered(path);
    QString archivePath = deployment_.archivePath;
    if (!delivered.rename(archivePath)) {
        printLine(delivered.errorString());
        nsLog(QStringLiteral("move to dst error"));
        // The session removes the download once this returns, so it is kept under a name of its
        // own beside it and extracted from there.
        archivePath = path + QStringLiteral(".tar.gz");
        if (!delivered.rename(archivePath))
            return;
        printLine(QStringLiteral("Extracting the download where it lies: ") + archivePath);
    }
    nsLog(QStringLiteral("Download finish start to untar"));
    QThreadPool::globalInstance()->start(
        [this, archivePath] { extractAndShowSuccess(archivePath); });
}

void ViewController::extractAndShowSuccess(const QString &archivePath) {
    if (gaEvent)
        gaEvent->send(QStringLiteral("ungzip"));
    if (plArchive && archivePath == deployment_.archivePath) {
        plArchive->untar();
    } else if (plArchive) {
        const int status = PlArchive(archivePath, deployment_.installPath).extract();
        QFile::remove(archivePath);
        if (status != 0)
            terminateProcess(status);
    }
    runOnMainAsync([this] { showSuccessScreen(); });
}
