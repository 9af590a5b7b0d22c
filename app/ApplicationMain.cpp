#include "app/ApplicationMain.h"

#include "app/AppDelegate.h"
#include "app/InstallerWindow.h"
#include "app/SingleInstance.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "ui/Accessibility.h"

#include <QApplication>
#include <QShortcut>
#include <QWidget>

int applicationMain(int argc, char **argv) {
    // A second installer touches neither the release service, the archive nor the bundle.
    SingleInstance instance;
    const bool first = !instance.anotherRuns();
    // Asked at once, on the shared session's thread, while the application object and the window
    // are built; the start sequence waits for the answer where it always has.
    std::future<std::optional<Release>> release;
    if (first)
        release = lookUpLatestRelease(compiledDeployment(), ControllerTimings().requestTimeoutMs);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plimbo-installer"));
    QApplication::setOrganizationName(QStringLiteral("plimbo"));
#ifdef Q_OS_MACOS
    QApplication::setQuitOnLastWindowClosed(false);
#endif
    if (!first) {
        instance.askRunningToRaise();
        terminateProcess(0); // the way the installer always ends
    }
    AppDelegate delegate;
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    installAccessibility();

    // The controller and the window live until the process ends.
    auto *controller = new ViewController;
    controller->setReleaseLookup(std::move(release));
    QWidget *window = makeInstallerWindow(controller);
    instance.raiseOnRequest(window);
    auto *quit = new QShortcut(QKeySequence::Quit, window);
    quit->setContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QShortcut::activated, &application, &QCoreApplication::quit);
    window->show();
    window->activateWindow(); // keys reach it at once, without a click first
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
