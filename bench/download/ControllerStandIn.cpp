#include "ControllerStandIn.h"

#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

ControllerStandIn::ControllerStandIn(const QUrl &url, const QString &destination,
                                     const QString &extraCaFile)
    : url_(url), destination_(destination), percent_(this), bar_(this), status_(this) {
    resize(480, 200);
    percent_.setGeometry(10, 10, 100, 30);
    status_.setGeometry(10, 50, 460, 60);
    bar_.setAutoFillBackground(true);
    bar_.setGeometry(0, 183, 0, 17);
    connect(&speedTimer_, &QTimer::timeout, this, &ControllerStandIn::calcSpeed);
    DownloadSessionOptions options;
    options.extraCaFile = extraCaFile;
    options.temporaryFolder = QFileInfo(destination).absolutePath(); // a rename, not a copy
    session_ = std::make_unique<DownloadSession>(this, options);
}

void ControllerStandIn::start() {
    show();
    speedTimer_.start(1000);
    std::shared_ptr<DownloadTask> task = session_->downloadTask(url_);
    task->resume();
    setTask(std::move(task));
}

void ControllerStandIn::didWriteData(DownloadSession *, DownloadTask *task, int64_t bytesWritten,
                                     int64_t written, int64_t expected) {
    if (!isCurrent(task))
        return;
    writeInSecond_ += bytesWritten;
    totalBytesWritten_ = written;
    totalBytesExpectedToWrite_ = expected;
    const double fraction = double(written) / double(expected);
    runOnMainSync([this, fraction] { showProgress(fraction); });
}

void ControllerStandIn::didFinishDownloadingTo(DownloadSession *, DownloadTask *,
                                               const QString &path) {
    QFile::remove(destination_);
    if (!QFile::rename(path, destination_))
        std::fprintf(stderr, "cannot move %s to %s\n", qPrintable(path), qPrintable(destination_));
}

void ControllerStandIn::didCompleteWithError(DownloadSession *session, DownloadTask *,
                                             const std::optional<DownloadError> &error) {
    if (error && error->resumeData) {
        const QByteArray resumeData = *error->resumeData;
        runOnMainAsync([this, session, resumeData] {
            std::shared_ptr<DownloadTask> task = session->downloadTaskWithResumeData(resumeData);
            if (task)
                task->resume();
            setTask(std::move(task));
            ++retries_;
        });
        return;
    }
    if (error)
        std::fprintf(stderr, "download failed: %s\n", qPrintable(error->description));
    runOnMainAsync([this, done = !error] {
        succeeded_ = done;
        QCoreApplication::quit();
    });
}

void ControllerStandIn::showProgress(double fraction) {
    if (!(fraction >= 0))
        fraction = 0;
    fraction = std::min(fraction, 1.0);
    percent_.setText(QString::asprintf("%.0f%%", fraction * 100));
    bar_.setGeometry(0, 183, int(width() * fraction), 17);
}

void ControllerStandIn::calcSpeed() {
    const int64_t bytes = writeInSecond_.exchange(0);
    constexpr double perMebibyte = 1.0 / (1024 * 1024);
    status_.setPlainText(QString::asprintf(
        "Downloading...%.1f MB/%.1fMB(%.2fMB/s)", double(totalBytesWritten_) * perMebibyte,
        double(totalBytesExpectedToWrite_) * perMebibyte, double(bytes) * perMebibyte));
}

void ControllerStandIn::setTask(std::shared_ptr<DownloadTask> task) {
    std::lock_guard lock(taskMutex_);
    task_ = std::move(task);
}

bool ControllerStandIn::isCurrent(DownloadTask *task) {
    std::lock_guard lock(taskMutex_);
    return task == task_.get();
}
