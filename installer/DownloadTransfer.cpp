// The controller's side of the download: start, progress, speed line, resumption, and the
// failures told on the status line.
#include "analytics/GaEvent.h"
#include "installer/NumberText.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/ViewGeometry.h"
#include "system/Places.h"
#include "ui/Fonts.h"
#include "ui/PlProgress.h"
#include "ui/TextView.h"

#include <QDir>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>
#include <cmath>

DownloadSession *ViewController::urlSession() {
    if (!urlSession_) {
        DownloadSessionOptions options;
        options.stallTimeoutSeconds = timings_.stallTimeoutSeconds;
        options.extraCaFile = deployment_.extraCaFile;
        // Kept where the next run finds it, should this one be quit or killed half way.
        options.temporaryFolder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                                  QStringLiteral("/downloads");
        QDir().mkpath(options.temporaryFolder);
        urlSession_ = std::make_unique<DownloadSession>(this, options);
    }
    return urlSession_.get();
}

std::shared_ptr<DownloadTask> ViewController::downloadTask() const {
    std::lock_guard lock(downloadTaskMutex_);
    return downloadTask_;
}

void ViewController::setDownloadTask(std::shared_ptr<DownloadTask> task) {
    std::lock_guard lock(downloadTaskMutex_);
    downloadTask_ = std::move(task);
}

// Nothing is downloaded for a bundle that could not be put in place.
void ViewController::startInstallation(const QUrl &url) {
    const QString fault = prepareInstallFolders(deployment_.installPath, deployment_.archivePath);
    if (!fault.isEmpty())
        return tellLasting(QStringLiteral("Cannot install into ") + fault);
    startTransfer(url);
}

void ViewController::startTransfer(const QUrl &url) {
    telling_ = false;
    archiveUrl_ = url;
    if (gaEvent)
        gaEvent->send(QStringLiteral("start_download"),
                      {{QStringLiteral("url"), QString::fromUtf8(url.toEncoded())}});
    std::shared_ptr<DownloadTask> task =
        urlSession()->downloadTask(url, statement_ ? statement_->length : -1);
    task->resume();
    setDownloadTask(std::move(task));
}

void ViewController::didWriteData(DownloadSession *, DownloadTask *task, int64_t bytesWritten,
                                  int64_t written, int64_t expected) {
    if (task != downloadTask().get())
        return;
    writeInSecond += bytesWritten;
    retryDelayMs_ = timings_.resumeDelayMs; // it flows again: a later failure starts afresh
    const double fraction = double(written) / double(expected);
    totalBytesWritten = written;
    totalBytesExpectedToWrite = expected;
    runOnMainSync([this, fraction] { showProgress(fraction); });
    const int64_t ticks = ++callbackTicks;
    if (ticks % 10 == 0 && gaEvent)
        gaEvent->send(QStringLiteral("download_progress_spot"),
                      {{QStringLiteral("speed"), QString::number(speed.load())},
                       {QStringLiteral("downloaded"), QString::number(written)},
                       {QStringLiteral("total"), QString::number(expected)},
                       {QStringLiteral("ticks"), QString::number(ticks)}});
}

void ViewController::showProgress(double fraction) {
    // Without an announced length the fraction is negative, infinite or not a number: keep the
    // bar empty.
    if (!std::isfinite(fraction) || fraction < 0)
        fraction = 0;
    fraction = std::min(fraction, 1.0);
    const QString shown = fixedText(fraction * 100, 0);
    const QString percentText = shown + QLatin1Char('%');
    // Most reports leave the percentage as it was; laid out again, it would keep the download
    // waiting for nothing to see.
    if (percent()->toPlainText() != percentText)
        replaceText(percent(), percentText);
    setFrame(customProgress(), QRectF(0, 0, rootWidth() * fraction, kBarHeight));
    customProgress()->setPercent(shown.toInt());
}

void ViewController::calcSpeed() {
    const int64_t bytes = writeInSecond.exchange(0);
    speed = bytes / 1024;
    constexpr double kPerKi = 1.0 / 1024;
    const double megabytesPerSecond = double(bytes) * kPerKi * kPerKi;
    const double downloaded = double(totalBytesWritten) * kPerKi * kPerKi;
    const double total = double(totalBytesExpectedToWrite) * kPerKi * kPerKi;
    if (telling_)
        return;
    const QString downloadedText = fixedText(downloaded, 1);
    // A server that announces no length reports a negative total: show the amount alone.
    const QString totalText =
        total >= 0 ? QStringLiteral("/") + fixedText(total, 1) + QStringLiteral("MB") : QString();
    replaceText(text(), QStringLiteral("Downloading...") + downloadedText + QStringLiteral(" MB") +
                            totalText + QStringLiteral("(") + fixedText(megabytesPerSecond, 2) +
                            QStringLiteral("MB/s)"));
    setAttributes(text(), 14, int(downloadedText.size()) + 3, Qt::white,
                  namedFont(QStringLiteral("Rubik-Regular"), 14));
}

void ViewController::didCompleteWithError(DownloadSession *, DownloadTask *,
                                          const std::optional<DownloadError> &error) {
    abandonExtraction(error);
    if (error && error->wrongFile)
        return refuseRelease(error->description); // the session said why on standard error
    if (error)
        runOnMainAsync([this, error = *error] { afterFailedTransfer(error); });
}

void ViewController::afterFailedTransfer(const DownloadError &error) {
    const QString what = error.status
                             ? QStringLiteral("The download server answered %1").arg(error.status)
                             : QStringLiteral("The download failed: ") + error.description;
    if (!error.transient)
        return tellLasting(what);
    tellTransient(what, [this, resumeData = error.resumeData] { resumeTransfer(resumeData); });
}

void ViewController::resumeTransfer(const std::optional<QByteArray> &resumeData) {
    telling_ = false;
    std::shared_ptr<DownloadTask> task =
        resumeData ? urlSession()->downloadTaskWithResumeData(*resumeData)
                   : urlSession()->downloadTask(archiveUrl_, statement_ ? statement_->length : -1);
    setDownloadTask(task);
    if (task)
        task->resume();
    ++autoRetryCount;
}

void ViewController::tellTransient(const QString &what, std::function<void()> retry) {
    const int delayMs = retryDelayMs_;
    retryDelayMs_ = std::min(delayMs * 2, std::max(delayMs, timings_.longestRetryDelayMs));
    const QString next = QStringLiteral("Trying again in %1 s").arg((delayMs + 999) / 1000);
    printErrorLine(what + QStringLiteral(". ") + next);
    tell(what, next);
    runOnMainAfter(delayMs, std::move(retry));
}

void ViewController::tellLasting(const QString &what) {
    printErrorLine(what + QStringLiteral(". Installation stopped"));
    tell(what, QStringLiteral("Installation stopped"));
}

void ViewController::tell(const QString &what, const QString &next) {
    telling_ = true;
    replaceTextFitting(text(), what, QStringLiteral(". ") + next);
}

// The person gets a moment to read why before the installer ends.
void ViewController::refuseRelease(const QString &fault) {
    runOnMainAsync([this, fault] {
        tell(fault, QStringLiteral("Installation stopped"));
        QTimer::singleShot(timings_.refusalShownMs, [] { terminateProcess(1); });
    });
}
