#include "installer/ViewController.h"

#include "archive/PlArchive.h"
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

constexpr double kBarHeight = 17.0;
constexpr double kLogoSide = 68;
constexpr double kLogoRoom = 96; // the logo turned by 45 degrees

void addSubview(QWidget *parent, QWidget *child) {
    child->setParent(parent);
    setFrame(child, frame(child));
    child->show();
}

QString formatFixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

} // namespace

ViewController::ViewController(Deployment deployment, ControllerTimings timings)
    : ViewController(new RootView, std::move(deployment), timings) {}

ViewController::ViewController(QWidget *rootView, Deployment deployment, ControllerTimings timings)
    : startTime(std::chrono::system_clock::now()), deployment_(std::move(deployment)),
      timings_(timings), view_(rootView) {}

// Once in a window the root view belongs to it; a view that never was is deleted here.
ViewController::~ViewController() {
    if (!view_->parent())
        delete view_;
}

double ViewController::rootWidth() const { return view_->width(); }

void ViewController::viewDidLoad() {
    plArchive = std::make_unique<PlArchive>(deployment_.archivePath, deployment_.installPath);

    addSubview(view_, imageView());
    startSpinning(imageView());
    addSubview(view_, text());
    addSubview(view_, percent());
    auto *track = new Backgroud;
    setFrame(track, QRectF(0, 0, rootWidth(), kBarHeight));
    addSubview(view_, track);
    addSubview(view_, customProgress());

    // The analytics sender comes with the analytics module; until then no event is sent.

    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ViewController::calcSpeed);
    timer->start(1000);

    releaseUrl = fetchLatestReleaseURL();
}

void ViewController::viewWillAppear() {
    QWidget *window = view_->window();
    if (window != view_) {
        // No title bar, no close, minimise, zoom or resize controls; the title stays for the
        // window system's lists.
        window->setWindowFlags((window->windowFlags() | Qt::FramelessWindowHint) &
                               ~(Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint |
                                 Qt::WindowFullscreenButtonHint));
        window->setFixedSize(window->size());
    }
    QPalette palette = view_->palette();
    palette.setColor(QPalette::Window, hexColor(QStringLiteral("#191B1D"), 1.0));
    view_->setPalette(palette);
    view_->setAutoFillBackground(true);
}

ImageView *ViewController::imageView() {
    if (!imageView_) {
        imageView_ = new ImageView(QStringLiteral(":/plimbo.svg"), QSizeF(kLogoSide, kLogoSide));
        // Centred on (W/2, 209), with room to turn.
        setFrame(imageView_, QRectF(rootWidth() / 2 - kLogoRoom / 2, 209 - kLogoRoom / 2,
                                    kLogoRoom, kLogoRoom));
    }
    return imageView_;
}

QTextEdit *ViewController::text() {
    if (!text_) {
        text_ = makeTextView(QStringLiteral("Downloading..."),
                             namedFont(QStringLiteral("Rubik-Regular"), 14),
                             hexColor(QStringLiteral("#FFFFFF"), 0.6), Qt::transparent,
                             Qt::AlignCenter);
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

void ViewController::calcSpeed() {
    const int64_t bytes = writeInSecond.exchange(0);
    speed = bytes / 1024;
    constexpr double kPerKi = 1.0 / 1024;
    const double megabytesPerSecond = double(bytes) * kPerKi * kPerKi;
    const double downloaded = double(totalBytesWritten) * kPerKi * kPerKi;
    const double total = double(totalBytesExpectedToWrite) * kPerKi * kPerKi;
    const QString downloadedText = formatFixed(downloaded, 1);
    // A server that announces no length reports a negative total: show the amount alone.
    const QString totalText =
        total >= 0 ? QStringLiteral("/") + formatFixed(total, 1) + QStringLiteral("MB")
                   : QString();
    replaceText(text(), QStringLiteral("Downloading...") + downloadedText + QStringLiteral(" MB") +
                            totalText + QStringLiteral("(") + formatFixed(megabytesPerSecond, 2) +
                            QStringLiteral("MB/s)"));
    setAttributes(text(), 14, int(downloadedText.size()) + 3, Qt::white,
                  namedFont(QStringLiteral("Rubik-Regular"), 14));
}

void ViewController::untar(QObject *) {
    if (!progressIndicator)
        return;
    progressIndicator->setRange(0, 0); // indeterminate, animated
}
