// The controller's side of the finished download: report it, move it where the extractor expects
// it, and extract it away from the main thread.
#include "analytics/GaEvent.h"
#include "archive/PlArchive.h"
#include "installer/NumberText.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

namespace {

void removeWhateverIsAt(const QString &path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

} // namespace

void ViewController::didFinishDownloadingTo(DownloadSession *, DownloadTask *,
                                            const QString &path) {
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::system_clock::now() - startTime;
    if (gaEvent)
        gaEvent->send(
            QStringLiteral("finish_download"),
            {{QStringLiteral("duration"), shortestDecimalText(elapsed.count())},
             {QStringLiteral("auto_retry_count"), QString::number(autoRetryCount.load())}});

    removeWhateverIsAt(deployment_.archivePath);
    // Renames where it can, copies and removes across file systems.
    QFile delivered(path);
    if (!delivered.rename(deployment_.archivePath)) {
        printLine(delivered.errorString());
        nsLog(QStringLiteral("move to dst error"));
        return;
    }
    nsLog(QStringLiteral("Download finish start to untar"));
    QThreadPool::globalInstance()->start([this] { extractAndShowSuccess(); });
}

void ViewController::extractAndShowSuccess() {
    if (gaEvent)
        gaEvent->send(QStringLiteral("ungzip"));
    if (plArchive)
        plArchive->untar();
    runOnMainAsync([this] { showSuccessScreen(); });
}
