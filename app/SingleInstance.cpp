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
    : socketPath_(runtimeFolder() + QStringLiteral("/plimbo-installer.socket")),
      lock_(runtimeFolder() + QStringLiteral("/plimbo-installer.lock")) {}

bool SingleInstance::claim() {
    // A lock left by a killed installer is stale and taken over.
    if (!lock_.tryLock(0)) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        socket.waitForConnected(5000);
        return false;
    }
    QLocalServer::removeServer(socketPath_); // a killed installer's socket
    server_.listen(socketPath_);
    return true;
}

void SingleInstance::raiseOnRequest(QWidget *window) {
    QObject::connect(&server_, &QLocalServer::newConnection, window, [this, window] {
        delete server_.nextPendingConnection();
        window->show();
        window->raise();
        window->activateWindow();
    });
}
