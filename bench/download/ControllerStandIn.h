#pragma once

#include "platform/DownloadSession.h"

#include <QLabel>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>

// Does per callback what the installer's controller does: a synchronous hop to the main thread to
// show the percentage and the bar, a once-a-second status line, and an immediate resumption
// whenever a failure carries resume data. Moves the finished file to `destination`.
class ControllerStandIn : public QWidget, public DownloadSessionDelegate {
  public:
    ControllerStandIn(const QUrl &url, const QString &destination, const QString &extraCaFile);

    void start();
    int retries() const { return retries_; }
    bool succeeded() const { return succeeded_; }

    void didWriteData(DownloadSession *session, DownloadTask *task, int64_t bytesWritten,
                      int64_t totalBytesWritten, int64_t totalBytesExpectedToWrite) override;
    void didFinishDownloadingTo(DownloadSession *session, DownloadTask *task,
                                const QString &path) override;
    void didCompleteWithError(DownloadSession *session, DownloadTask *task,
                              const std::optional<DownloadError> &error) override;

  private:
    void showProgress(double fraction);
    void calcSpeed();
    void setTask(std::shared_ptr<DownloadTask> task);
    bool isCurrent(DownloadTask *task);

    const QUrl url_;
    const QString destination_;
    QLabel percent_;
    QWidget bar_;
    QTextEdit status_;
    QTimer speedTimer_;
    std::atomic<int64_t> writeInSecond_ = 0;
    std::atomic<int64_t> totalBytesWritten_ = 0;
    std::atomic<int64_t> totalBytesExpectedToWrite_ = 0;
    int retries_ = 0; // main thread
    bool succeeded_ = false;
    std::mutex taskMutex_;
    std::shared_ptr<DownloadTask> task_;
    std::unique_ptr<DownloadSession> session_; // last: stopped before the rest goes
};
