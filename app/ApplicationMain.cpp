#include "app/ApplicationMain.h"

#include "app/AppDelegate.h"
#include "installer/ViewController.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QSize kContentSize(500, 300);

// Without a window manager a new window sits at (0, 0).
void centreOnScreen(QWidget *window) {
    const QRect available = window->screen()->availableGeometry();
    window->move(available.center() - window->rect().center());
}

} // namespace

int applicationMain(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plimbo-installer"));
    QApplication::setOrganizationName(QStringLiteral("plimbo"));
#ifdef Q_OS_MACOS
    QApplication::setQuitOnLastWindowClosed(false);
#endif
    AppDelegate delegate;
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    registerFonts();

    // The controller and the window live until the process ends.
    auto *controller = new ViewController;
    auto *window = new QWidget;
    window->setWindowTitle(QStringLiteral("Plimbo Installer"));
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(controller->view());
    window->resize(kContentSize);
    controller->view()->resize(kContentSize);
    auto *quit = new QShortcut(QKeySequence::Quit, window);
    quit->setContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QShortcut::activated, &application, &QCoreApplication::quit);

    controller->viewDidLoad();
    controller->viewWillAppear();
    centreOnScreen(window);
    window->show();
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
