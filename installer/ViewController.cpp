#include "installer/ViewController.h"

#include "analytics/GaEvent.h"
#include "app/WindowStyle.h"
#include "archive/PlArchive.h"
#include "archive/StreamedExtraction.h"
#include "platform/ViewGeometry.h"
#include "ui/Backgroud.h"
#include "ui/Colors.h"
#include "ui/Fonts.h"
#include "ui/ImageView.h"
#include "ui/PlProgress.h"
#include "ui/RootView.h"
#include "ui/TextView.h"

#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>

namespace {

constexpr double kLogoSide = 68;
constexpr double kLogoRoom = 96; // the logo turned by 45 degrees

} // namespace

ViewController::ViewController(Deployment deployment, ControllerTimings timings)
    : ViewController(nullptr, std::move(deployment), timings) {}

ViewController::ViewController(QWidget *rootView, Deployment deployment, ControllerTimings timings)
    : startTime(std::chrono::system_clock::now()), deployment_(std::move(deployment)),
      timings_(timings), view_(rootView), retryDelayMs_(timings.resumeDelayMs) {}

// Once in a window the root view belongs to it, and a view on screen to its parent; whatever is
// in neither (never shown, or taken off by the success panel) is deleted here, the root last.
ViewController::~ViewController() {
    const QList<QPointer<QWidget>> views = {imageView_.data(), text_.data(), percent_.data(),
                                            customProgress_.data(), view_};
    for (const QPointer<QWidget> &view : views)
        if (view && !view->parent())
            delete view;
}

QWidget *ViewController::view() {
    if (!view_)
        view_ = new RootView;
    return view_;
}

double ViewController::rootWidth() {
    return view()->width();
}

void ViewController::prepareInstallation() {
    if (plArchive)
        return;
    plArchive = std::make_unique<PlArchive>(deployment_.archivePath, deployment_.installPath);

    GaEvent::Environment analytics;
    analytics.analyticsEndpoint = deployment_.analyticsEndpoint;
    analytics.extraCaFile = deployment_.extraCaFile;
    gaEvent =
        std::make_unique<GaEvent>(deployment_.measurementId, QStringLiteral("2oe4k0"),
                                  QStringLiteral("ccd.NbB"), QStringLiteral("Plimbo Mac Installer"),
                                  deployment_.siteOrigin, QStringLiteral("1.0.0"), analytics);
}

// The transfer starts before the views are built: its first news reaches them through the main
// queue, once the window is up.
void ViewController::viewDidLoad() {
    prepareInstallation();
    if (const std::optional<QUrl> url = fetchLatestReleaseURL())
        startInstallation(*url);

    addSubview(view(), imageView());
    startSpinning(imageView());
    addSubview(view(), text());
    addSubview(view(), percent());
    auto *track = new Backgroud;
    setFrame(track, QRectF(0, 0, rootWidth(), kBarHeight));
    addSubview(view(), track);
    addSubview(view(), customProgress());

    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ViewController::calcSpeed);
    timer->start(1000);
}

void ViewController::viewWillAppear() {
    QWidget *root = view();
    styleInstallerWindow(root);
    QPalette palette = root->palette();
    palette.setColor(QPalette::Window, hexColor(QStringLiteral("#191B1D"), 1.0));
    root->setPalette(palette);
    root->setAutoFillBackground(true);
}

ImageView *ViewController::imageView() {
    if (!imageView_) {
        imageView_ = new ImageView(QStringLiteral(":/plimbo.svg"), QSizeF(kLogoSide, kLogoSide));
        imageView_->setAccessibleName(QStringLiteral("Plimbo"));
        // Centred on (W/2, 209), with room to turn.
        setFrame(imageView_, QRectF(rootWidth() / 2 - kLogoRoom / 2, 209 - kLogoRoom / 2, kLogoRoom,
                                    kLogoRoom));
    }
    return imageView_;
}

QTextEdit *ViewController::text() {
    if (!text_) {
        text_ = makeTextView(
            QStringLiteral("Downloading..."), namedFont(QStringLiteral("Rubik-Regular"), 14),
            hexColor(QStringLiteral("#FFFFFF"), 0.6), Qt::transparent, Qt::AlignCenter);
        setFrame(text_, QRectF(rootWidth() / 2 - 200, 27, 400, 14));
    }
    return text_;
}

QTextEdit *ViewController::percent() {
    if (!percent_) {
        percent_ = makeTextView(QStringLiteral("0%"), namedFont(QStringLiteral("Rubik-Bold"), 32),
                                hexColor(QStringLiteral("#FFFFFF"), 0.2), Qt::transparent,
                                Qt::AlignCenter);
        setFrame(percent_, QRectF(rootWidth() / 2 - 60, 140, 120, 47));
    }
    return percent_;
}

PlProgress *ViewController::customProgress() {
    if (!customProgress_) {
        customProgress_ = new PlProgress;
        setFrame(customProgress_, QRectF(0, 0, 0, kBarHeight));
    }
    return customProgress_;
}

void ViewController::untar(QObject *) {
    if (!progressIndicator)
        return;
    progressIndicator->setRange(0, 0); // indeterminate, animated
}
