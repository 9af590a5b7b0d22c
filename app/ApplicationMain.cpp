#include "app/ApplicationMain.h"

#include "app/AppDelegate.h"
#include "app/InstallerWindow.h"
#include "app/SingleInstance.h"
#include "app/WindowStyle.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "ui/Accessibility.h"

#include <QApplication>
#include <QFile>
#include <QShortcut>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <utility>

namespace {

// Qt's display messages while the application object connects, held back: should the connection
// fail, one line says why instead of Qt's advice to reinstall and its abort.
QtMessageHandler qtHandler = nullptr;
QStringList heldBack;

void holdBackDisplayMessages(QtMsgType type, const QMessageLogContext &context,
                             const QString &message) {
    if (type == QtFatalMsg) {
        const bool none = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                          qEnvironmentVariableIsEmpty("DISPLAY");
        const QString reason = none ? QStringLiteral("neither WAYLAND_DISPLAY nor DISPLAY is set")
                               : heldBack.isEmpty() ? message.section(QLatin1Char('\n'), 0, 0)
                                                    : heldBack.first();
        printErrorLine(QStringLiteral("No display to show the installer on: ") + reason);
        terminateProcess(1);
    }
    if (context.category && QByteArrayView(context.category).startsWith("qt.qpa"))
        heldBack += message;
    else
        qtHandler(type, context, message);
}

// Without a session bus named, D-Bus launches one for the screen reader bridge: it forks the
// installer, the window waits for that, and a bus it did start outlives the installer while no
// screen reader is on it. A session's bus, when there is one, is in the runtime folder.
void keepToTheSessionBus(const QString &runtimeFolder) {
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") || runtimeFolder.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(runtimeFolder + QStringLiteral("/bus"));
    // Escaped as D-Bus addresses are: all but letters, digits and "-_/.\*".
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path.toPercentEncoding("/\\*", "~"));
}

std::unique_ptr<QApplication> connectToDisplay(int &argc, char **argv) {
    qtHandler = qInstallMessageHandler(holdBackDisplayMessages);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const QString &message : std::exchange(heldBack, {}))
        qWarning().noquote() << message;
    return application;
}

} // namespace

int applicationMain(int argc, char **argv) {
    // A second installer touches neither the release service, the archive nor the bundle.
    SingleInstance instance;
    keepToTheSessionBus(instance.folder());
    const bool first = !instance.anotherRuns();
    // The window's Wayland app id and X11 class, matched by the installer's desktop entry; the
    // names also place the settings and the downloads, which the lookup below may reach.
    QGuiApplication::setDesktopFileName(QStringLiteral("plimbo-installer"));
    QApplication::setApplicationName(QStringLiteral("plimbo-installer"));
    QApplication::setOrganizationName(QStringLiteral("plimbo"));
    // The controller lives until the process ends. Its lookup, and the transfer it starts, run
    // while the application object and the window are built; their news waits for the window.
    ViewController *controller = nullptr;
    if (first) {
        prepareMainQueue();
        controller = new ViewController;
        controller->lookUpAtLaunch();
    }
    const std::unique_ptr<QApplication> application = connectToDisplay(argc, argv);
#ifdef Q_OS_MACOS
    QApplication::setQuitOnLastWindowClosed(false);
#endif
    if (!first) {
        instance.askRunningToRaise();
        terminateProcess(0); // the way the installer always ends
    }
    AppDelegate delegate;
    QObject::connect(application.get(), &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    installAccessibility();

    QWidget *window = makeInstallerWindow(controller);
    instance.raiseOnRequest(window);
    auto *quit = new QShortcut(QKeySequence::Quit, window);
    quit->setContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QShortcut::activated, application.get(), &QCoreApplication::quit);
    window->show();
    if (platformPlacesWindows())  // elsewhere the compositor gives a new window the keys itself
        window->activateWindow(); // keys reach it at once, without a click first
    delegate.applicationDidFinishLaunching();
    const int status = application->exec();
    return status != 0 ? status : controller->exitStatus();
}
