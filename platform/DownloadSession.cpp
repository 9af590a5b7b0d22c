#include "platform/DownloadSession.h"

#include "platform/DownloadTaskTransfer.h"
#include "platform/PartialDownloads.h"

#include <QDir>

DownloadSession::DownloadSession(DownloadSessionDelegate *delegate, DownloadSessionOptions options)
    : state_(std::make_shared<State>()) {
    state_->session = this;
    state_->delegate = delegate;
    state_->relay = std::make_unique<ProgressRelay>(
        [state = state_.get()](DownloadTask *task, int64_t bytes, int64_t total, int64_t expected) {
            state->delegate->didWriteData(state->session, task, bytes, total, expected);
        });
    state_->folder =
        QDir(options.temporaryFolder.isEmpty() ? QDir::tempPath() : options.temporaryFolder)
            .absolutePath();
    state_->options = std::move(options);
}

DownloadSession::~DownloadSession() {
    state_->stop();
}

std::shared_ptr<DownloadTask> DownloadSession::downloadTask(const QUrl &url, qint64 knownLength) {
    std::shared_ptr<DownloadTask> task(new DownloadTask);
    task->transfer_ = std::make_unique<DownloadTask::Transfer>(
        task.get(), state_, url, takeKeptDownload(state_->folder, url, knownLength), knownLength);
    return task;
}

std::shared_ptr<DownloadTask>
DownloadSession::downloadTaskWithResumeData(const QByteArray &resumeData) {
    std::optional<ResumeData> resume = ResumeData::parse(resumeData);
    // Only a partial file this session could have written is ever appended to or removed.
    if (!resume || !isPartialFileOf(state_->folder, resume->partialFile))
        return nullptr;
    std::shared_ptr<DownloadTask> task(new DownloadTask);
    const QUrl url = resume->url;
    const qint64 knownLength = resume->knownLength;
    task->transfer_ = std::make_unique<DownloadTask::Transfer>(task.get(), state_, url,
                                                               std::move(resume), knownLength);
    return task;
}

DownloadTask::~DownloadTask() = default;

void DownloadTask::resume() {
    const std::shared_ptr<DownloadSession::State> state = transfer_->session.lock();
    if (!state)
        return;
    state->post([self = shared_from_this(), owner = state.get()](CurlLoop &loop) {
        self->transfer_->start(*owner, loop, self);
    });
}

const QUrl &DownloadTask::url() const {
    return transfer_->url;
}
