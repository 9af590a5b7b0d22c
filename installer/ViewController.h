#pragma once

#include "platform/Deployment.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

class GaEvent;
class ImageView;
class PlArchive;
class PlProgress;
class QLabel;
class QProgressBar;
class QTextEdit;
class QWidget;

// Waits the installer uses; tests shorten them.
struct ControllerTimings {
    int requestTimeoutMs = 60000; // the release lookup
};

// The installer: the content controller of the one window. The whole installation runs as its
// start sequence (viewDidLoad) and the callbacks that sequence sets going.
class ViewController : public QObject {
    Q_OBJECT
  public:
    // Makes its own root view, as when the window is built in code.
    explicit ViewController(Deployment deployment = compiledDeployment(),
                            ControllerTimings timings = {});
    // Takes a root view made elsewhere, as when an interface file supplies it.
    ViewController(QWidget *rootView, Deployment deployment = compiledDeployment(),
                   ControllerTimings timings = {});
    ~ViewController() override;

    QWidget *view() const { return view_; }

    void viewDidLoad();
    void viewWillAppear();
    void calcSpeed();
    std::optional<QUrl> fetchLatestReleaseURL();

  public slots:
    void untar(QObject *sender);

  public:
    // Built on first use and kept for the controller's life.
    ImageView *imageView();
    QTextEdit *text();
    QTextEdit *percent();
    PlProgress *customProgress();

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

    // The archive address the lookup gave, if any.
    std::optional<QUrl> releaseUrl;

  private:
    double rootWidth() const;

    const Deployment deployment_;
    const ControllerTimings timings_;
    QWidget *view_;
    ImageView *imageView_ = nullptr;
    QTextEdit *text_ = nullptr;
    QTextEdit *percent_ = nullptr;
    PlProgress *customProgress_ = nullptr;
};
