#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <optional>

class CurlLoop;
class DownloadSession;
class DownloadTask;

// Why a transfer ended early. Resume data, when present, lets a new task carry on from the bytes
// already on disk; it is opaque to everyone but the session.
struct DownloadError {
    QString description;
    std::optional<QByteArray> resumeData;
    bool wrongFile = false; // the server's file is not the one known beforehand
    long status = 0;        // of the server's error answer; 0 when it gave none
    bool transient = false; // the same request may work later (isTransientFailure)
};

// The session's callbacks, in order and never on the main thread. The progress callback runs on a
// thread of its own, so that a delegate waiting in it holds back neither the network nor the
// file; the others run on the session's own thread, each after the progress reported before it.
class DownloadSessionDelegate {
  public:
    virtual ~DownloadSessionDelegate() = default;
    // Coalesced to about ten a second, plus one when the body is complete. Totals count the whole
    // file, also for a task resumed from resume data; `totalBytesExpectedToWrite` is -1 when the
    // server announced no length.
    virtual void didWriteData(DownloadSession *session, DownloadTask *task, int64_t bytesWritten,
                              int64_t totalBytesWritten, int64_t totalBytesExpectedToWrite) = 0;
    // After bytes of the body reach the file at `path`, which then holds `bytesOnDisk` from its
    // start; also before the first body byte, with the bytes kept from before (none when a whole
    // answer after a partial one emptied the file).
    virtual void didStoreData(DownloadSession *, DownloadTask *, const QString & /*path*/,
                              int64_t /*bytesOnDisk*/) {}
    // The complete file; `path` is valid until this returns.
    virtual void didFinishDownloadingTo(DownloadSession *session, DownloadTask *task,
                                        const QString &path) = 0;
    // Last callback of every task: no error after a delivered file.
    virtual void didCompleteWithError(DownloadSession *session, DownloadTask *task,
                                      const std::optional<DownloadError> &error) = 0;
};

struct DownloadSessionOptions {
    // No byte for this long, or less than 1 KiB a second over it, fails like a request timeout.
    int stallTimeoutSeconds = 60;
    QString extraCaFile;
    // Where partial files live, with what a later session needs to continue them; empty: the
    // system's temporary folder.
    QString temporaryFolder;
    QByteArray protocols = "https"; // libcurl's list, for the address and every redirect
};

// Downloads files to temporary files, one libcurl multi handle on a thread of its own.
class DownloadSession {
  public:
    DownloadSession(DownloadSessionDelegate *delegate, DownloadSessionOptions options = {});
    ~DownloadSession(); // stops the session's thread; callbacks in progress finish first
    DownloadSession(const DownloadSession &) = delete;
    DownloadSession &operator=(const DownloadSession &) = delete;

    // New tasks are suspended until resume(). A task for an address whose partial file an
    // earlier session kept carries on from it. A task from resume data the session cannot read
    // is null. With a `knownLength`, a server that announces another length is refused before
    // the first byte, and one that sends more is cut at the first extra byte; both fail with
    // `wrongFile`. Whatever the length, a file that does not fit in the free space of the
    // session's folder is refused before its first byte.
    std::shared_ptr<DownloadTask> downloadTask(const QUrl &url, qint64 knownLength = -1);
    std::shared_ptr<DownloadTask> downloadTaskWithResumeData(const QByteArray &resumeData);

  private:
    friend class DownloadTask;
    struct State;
    std::shared_ptr<State> state_;
};

class DownloadTask : public std::enable_shared_from_this<DownloadTask> {
  public:
    ~DownloadTask();
    void resume();
    const QUrl &url() const;

  private:
    friend class DownloadSession;
    struct Transfer;
    DownloadTask() = default;
    std::unique_ptr<Transfer> transfer_;
};
