#pragma once

#include "installer/ReleaseLookup.h"
#include "installer/ReleaseStatement.h"
#include "platform/Deployment.h"
#include "platform/DownloadSession.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class GaEvent;
class ImageView;
class PlArchive;
class PlProgress;
class StreamedExtraction;
class QLabel;
class QProgressBar;
class QTextEdit;

// Waits the installer uses; tests shorten them.
struct ControllerTimings {
    int requestTimeoutMs = 60000;    // the release lookup
    int stallTimeoutSeconds = 60;    // a transfer with no bytes for this long fails
    int resumeDelayMs = 5000;        // from a failed lookup or transfer to the first try again
    int longestRetryDelayMs = 60000; // each later try waits twice as long, up to this
    int windowAnimationMs = 200;     // the shrink to the success panel
    int refusalShownMs = 3000;       // a refused release on the status line, before the end
};

// The installer: the content controller of the one window. The whole installation runs as its
// start sequence (viewDidLoad) and the callbacks that sequence sets going.
class ViewController : public QObject, public DownloadSessionDelegate {
    Q_OBJECT
  public:
    // Makes its own root view (on first use), as when the window is built in code.
    explicit ViewController(Deployment deployment = compiledDeployment(),
                            ControllerTimings timings = {});
    // Takes a root view made elsewhere, as when an interface file supplies it.
    ViewController(QWidget *rootView, Deployment deployment = compiledDeployment(),
                   ControllerTimings timings = {});
    ~ViewController() override;

    // Made on first use when none was given: the controller may start before the application
    // object, which widgets need.
    QWidget *view();

    // Asks for the latest release at once, before the window exists: a release that may be
    // installed starts the transfer on the lookup's thread as soon as the answer is in, while the
    // window is still being built. Anything else waits for the start sequence, which tells it.
    void lookUpAtLaunch();
    void viewDidLoad();
    void viewWillAppear();
    void calcSpeed();
    // Waits for the lookup (lookUpAtLaunch's, or one of its own): the archive's address, or none
    // when there is no release to install (told) or its transfer started from the answer.
    std::optional<QUrl> fetchLatestReleaseURL();
    void showSuccessScreen();
    // 1 once the installed application could not be started, else 0: how the process ends.
    int exitStatus() const { return launchFailed_ ? 1 : 0; }
    // From any thread: tells why the release is refused, then ends the installer with status 1.
    void refuseRelease(const QString &fault);

    // The download session's callbacks, on its own thread.
    void didWriteData(DownloadSession *session, DownloadTask *task, int64_t bytesWritten,
                      int64_t totalBytesWritten, int64_t totalBytesExpectedToWrite) override;
    void didFinishDownloadingTo(DownloadSession *session, DownloadTask *task,
                                const QString &path) override;
    void didStoreData(DownloadSession *session, DownloadTask *task, const QString &path,
                      int64_t bytesOnDisk) override;
    void didCompleteWithError(DownloadSession *session, DownloadTask *task,
                              const std::optional<DownloadError> &error) override;

  public slots:
    void launchPlimbo(QObject *sender);
    void untar(QObject *sender);

  public:
    // Built on first use and kept for the controller's life.
    ImageView *imageView();
    QTextEdit *text();
    QTextEdit *percent();
    PlProgress *customProgress();
    DownloadSession *urlSession();

    // The current task; progress from any other task is ignored.
    std::shared_ptr<DownloadTask> downloadTask() const;
    void setDownloadTask(std::shared_ptr<DownloadTask> task);

    std::unique_ptr<PlArchive> plArchive;
    std::unique_ptr<GaEvent> gaEvent;
    const std::chrono::system_clock::time_point startTime;
    std::atomic<int64_t> autoRetryCount{0};
    std::atomic<int64_t> callbackTicks{0};
    std::atomic<int64_t> speed{0};
    std::atomic<int64_t> writeInSecond{0};
    std::atomic<int64_t> totalBytesWritten{0};
    std::atomic<int64_t> totalBytesExpectedToWrite{0};
    QPointer<QProgressBar> progressIndicator;
    QPointer<QLabel> myLabel;

  private:
    static constexpr double kBarHeight = 17.0; // the progress bar and its track

    double rootWidth();
    // The archive and the analytics, which the transfer needs; once.
    void prepareInstallation();
    // Without a key built in, every release may be installed; with one, what its statement allows.
    StatementCheck checkRelease(const Release &release) const;
    bool startFromAnswer(const LookupOutcome &outcome);
    std::optional<QUrl> takeLookupOutcome(const LookupOutcome &outcome);
    void lookUpAgain();
    void startInstallation(const QUrl &url);
    void startTransfer(const QUrl &url);
    void showProgress(double fraction);
    void afterFailedTransfer(const DownloadError &error);
    // Without resume data the transfer starts over from the archive's address.
    void resumeTransfer(const std::optional<QByteArray> &resumeData);
    // What went wrong, on standard error and on the status line, with what the installer does
    // next: `retry` after a delay that doubles each time, or nothing more.
    void tellTransient(const QString &what, std::function<void()> retry);
    void tellLasting(const QString &what);
    // The status line only, `what` cut short so that `next` fits.
    void tell(const QString &what, const QString &next);
    void abandonExtraction(const std::optional<DownloadError> &error);
    // The new bundle put in place, once the extraction read the whole download, then success.
    void extractAndShowSuccess(StreamedExtraction &extraction);

    const Deployment deployment_;
    const ControllerTimings timings_;
    QPointer<QWidget> view_;
    QPointer<ImageView> imageView_;
    QPointer<QTextEdit> text_;
    QPointer<QTextEdit> percent_;
    QPointer<PlProgress> customProgress_;
    std::unique_ptr<DownloadSession> urlSession_;
    mutable std::mutex downloadTaskMutex_;
    std::shared_ptr<DownloadTask> downloadTask_;
    // Reading the current download as it lands; on the session's thread only.
    std::unique_ptr<StreamedExtraction> extraction_;
    std::future<LookupOutcome> releaseLookup_;
    bool startedFromAnswer_ = false; // set before releaseLookup_ has its answer
    // The maker's word on the archive, from the release answer, before the transfer starts.
    std::optional<ReleaseStatement> statement_;
    QUrl archiveUrl_;
    std::atomic<int> retryDelayMs_;
    bool telling_ = false; // a failure is on the status line: the speed tick leaves it there
    bool launchFailed_ = false;
    QPointer<QTextEdit> successSubtitle_; // where a failed launch is told
};
