#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

namespace {

// Private to the user, like the lock and the socket in it.
QString runtimeFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir().mkpath(folder);
    return folder;
}

} // namespace

SingleInstance::SingleInstance()
    : folder_(runtimeFolder()), socketPath_(folder_ + QStringLiteral("/plimbo-installer.socket")),
      lock_(folder_ + QStringLiteral("/plimbo-installer.lock")) {}

bool SingleInstance::claim() {
    return lock_.tryLock(0); // a lock left by a killed installer is stale and taken over
}

void SingleInstance::askRunningToRaise() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    socket.waitForConnected(5000);
}

void SingleInstance::raiseOnRequest(QWidget *window) {
    QLocalServer::removeServer(socketPath_); // a killed installer's socket
    server_.listen(socketPath_);
    QObject::connect(&server_, &QLocalServer::newConnection, window, [this, window] {
        delete server_.nextPendingConnection();
        window->show();
        window->raise();
        window->activateWindow();
    });
}
