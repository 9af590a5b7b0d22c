#include "app/ApplicationMain.h"

#include "app/AppDelegate.h"
#include "app/InstallerWindow.h"
#include "app/SingleInstance.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "ui/Accessibility.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QShortcut>
#include <QWidget>

int applicationMain(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plimbo-installer"));
    QApplication::setOrganizationName(QStringLiteral("plimbo"));
#ifdef Q_OS_MACOS
    QApplication::setQuitOnLastWindowClosed(false);
#endif
    // A second installer touches neither the archive nor the bundle, and ends the way the
    // installer always does.
    SingleInstance instance;
    if (!instance.claim())
        terminateProcess(0);
    AppDelegate delegate;
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    registerFonts();
    installAccessibility();

    // The controller and the window live until the process ends.
    QWidget *window = makeInstallerWindow(new ViewController);
    instance.raiseOnRequest(window);
    auto *quit = new QShortcut(QKeySequence::Quit, window);
    quit->setContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QShortcut::activated, &application, &QCoreApplication::quit);
    window->show();
    window->activateWindow(); // keys reach it at once, without a click first
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
