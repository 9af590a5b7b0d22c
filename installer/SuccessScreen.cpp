// The success panel that replaces the progress screen, and the launch its button starts.
#include "analytics/GaEvent.h"
#include "app/WindowStyle.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/SharedSession.h"
#include "platform/ViewAnimations.h"
#include "platform/ViewGeometry.h"
#include "system/DesktopEntry.h"
#include "system/Launch.h"
#include "system/Places.h"
#include "ui/Colors.h"
#include "ui/Fonts.h"
#include "ui/ImageView.h"
#include "ui/PlProgress.h"
#include "ui/TextView.h"

#include <QFileInfo>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTextEdit>
#include <cmath>

namespace {

const QSize kPanelSize(378, 166);

// Moves and resizes `window` to `target`, animated; the window stays fixed-size at the end.
void animateWindowFrame(QWidget *window, const QRect &target, int durationMs) {
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto *animation = new QPropertyAnimation(window, "geometry", window);
    animation->setDuration(durationMs);
    animation->setStartValue(window->geometry());
    animation->setEndValue(target);
    QObject::connect(animation, &QPropertyAnimation::finished, window,
                     [window, target] { window->setFixedSize(target.size()); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

QPushButton *makeOkButton() {
    auto *button = new QPushButton(QStringLiteral("Ok"));
    button->setFont(namedFont(QStringLiteral("Rubik-SemiBold"), 14));
    button->setCursor(Qt::PointingHandCursor);
    const QColor yellow = hexColor(QStringLiteral("#FFC200"), 1.0);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background-color: %2; border: none;"
                       " border-radius: 16px; }"
                       "QPushButton:pressed { background-color: %3; }")
            .arg(hexColor(QStringLiteral("#1D1E25"), 1.0).name(), yellow.name(),
                 yellow.darker(115).name()));
    setFrame(button, QRectF(144, 32, 90, 32));
    return button;
}

QTextEdit *makeCentredLine(const QString &text, const QString &font, double size,
                           const QColor &color, const QRectF &frame) {
    QTextEdit *view = makeTextView(text, namedFont(font, size), color,
                                   hexColor(QStringLiteral("#191B1D"), 1.0), Qt::AlignCenter);
    setFrame(view, frame);
    return view;
}

// The installed application in the menu; not where a desktop has none or nothing was installed.
void addInstalledToMenu(const QString &installPath) {
#ifndef Q_OS_MACOS
    if (!QFileInfo(bundleProgram(installPath)).isExecutable())
        return;
    const QString fault =
        addToApplicationMenu(installPath, resolvePlace(QStringLiteral("$XDG_DATA_HOME")));
    if (!fault.isEmpty())
        printErrorLine(QStringLiteral("Plimbo could not be added to the application menu: ") +
                       fault);
#else
    Q_UNUSED(installPath);
#endif
}

} // namespace

void ViewController::showSuccessScreen() {
    addInstalledToMenu(deployment_.installPath);
    QWidget *window = view()->window();
    const QRect old = window->geometry();
    // About the old centre, truncated toward zero like the window system's own arithmetic.
    QRect target(int(std::trunc(old.x() + (old.width() - kPanelSize.width()) * 0.5)),
                 int(std::trunc(old.y() + (old.height() - kPanelSize.height()) * 0.5)),
                 kPanelSize.width(), kPanelSize.height());
    if (!platformPlacesWindows())
        target.moveTopLeft(old.topLeft());

    removeAnimation(imageView(), QStringLiteral("rotateAnimation"));
    const QList<QWidget *> kept = {imageView_, text_, percent_, customProgress_};
    for (QWidget *child : view()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        child->hide();
        child->setParent(nullptr);
        if (!kept.contains(child))
            delete child; // the track and anything else only the root view held
    }

    if (window != view())
        animateWindowFrame(window, target, timings_.windowAnimationMs);

    QPushButton *button = makeOkButton();
    connect(button, &QPushButton::clicked, this, [this, button] { launchPlimbo(button); });
    addSubview(view(), button);
    // Return, Enter and Space press it, and a screen reader reads the panel with it.
    button->setDefault(true);
    button->setAccessibleDescription(QStringLiteral(
        "The installation was successful. Click OK and start to explore spaces in Plimbo"));
    button->setFocus(Qt::OtherFocusReason);
    successSubtitle_ =
        makeCentredLine(QStringLiteral("Click OK and start to explore spaces in Plimbo"),
                        QStringLiteral("Rubik-Regular"), 14,
                        hexColor(QStringLiteral("#FFFFFF"), 0.6), QRectF(0, 84, 378, 14));
    addSubview(view(), successSubtitle_);
    addSubview(view(), makeCentredLine(QStringLiteral("The installation was successful"),
                                       QStringLiteral("Rubik-Medium"), 16, Qt::white,
                                       QRectF(0, 110, 378, 16)));
}

void ViewController::launchPlimbo(QObject *) {
    if (launchFailed_)
        terminateProcess(exitStatus()); // the person has read why
    if (gaEvent)
        gaEvent->send(QStringLiteral("launch_plimbo"));
    const QString fault = launchApplication(deployment_.installPath, deployment_.launchCommand);
    if (!fault.isEmpty()) {
        launchFailed_ = true;
        printErrorLine(QStringLiteral("Plimbo could not be started: ") + fault);
        if (successSubtitle_)
            replaceTextFitting(successSubtitle_,
                               QStringLiteral("Plimbo could not be started: ") + fault, {});
        return;
    }
    // The application is on its way; the hits still travelling (this one among them) get a
    // moment to leave before the installer ends, the window already gone.
    view()->window()->hide();
    SharedSession::shared().waitForPending(2000);
    terminateProcess(0);
}
