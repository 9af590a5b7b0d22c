#include "app/SingleInstance.h"

#include "platform/Log.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

namespace {

// Private to the user, like the lock and the socket in it. Empty when there is none the user
// owns (Qt has said why on standard error).
QString runtimeFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    return folder;
}

} // namespace

SingleInstance::SingleInstance()
    : folder_(runtimeFolder()), socketPath_(folder_ + QStringLiteral("/plimbo-installer.socket")),
      lock_(folder_ + QStringLiteral("/plimbo-installer.lock")) {}

bool SingleInstance::anotherRuns() {
    // A lock left by a killed installer is stale and taken over.
    if (!folder_.isEmpty() && lock_.tryLock(0)) {
        guarded_ = true;
        return false;
    }
    if (!folder_.isEmpty() && lock_.error() == QLockFile::LockFailedError)
        return true;
    // Ending here would install nothing while no other installer runs.
    const QString problem =
        folder_.isEmpty()
            ? QStringLiteral("No runtime folder of the user's own")
            : QStringLiteral("The runtime folder %1 cannot hold the installer's lock").arg(folder_);
    printErrorLine(problem + QStringLiteral("; going on without checking for another installer."));
    return false;
}

void SingleInstance::askRunningToRaise() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    socket.waitForConnected(5000);
}

void SingleInstance::raiseOnRequest(QWidget *window) {
    if (!guarded_)
        return; // without the lock, a socket there is not this installer's to replace
    QLocalServer::removeServer(socketPath_); // a killed installer's socket
    server_.listen(socketPath_);
    QObject::connect(&server_, &QLocalServer::newConnection, window, [this, window] {
        delete server_.nextPendingConnection();
        window->show();
        window->raise();
        window->activateWindow();
    });
}
