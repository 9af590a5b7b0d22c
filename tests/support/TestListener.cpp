#include "support/TestListener.h"

#include <QSslSocket>

TestListener::TestListener(std::optional<QSslConfiguration> tls,
                           TestConnection::Responder responder)
    : tls_(std::move(tls)), responder_(std::move(responder)) {}

void TestListener::incomingConnection(qintptr descriptor) {
    QTcpSocket *socket = tls_ ? new QSslSocket : new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning("TestServer: cannot take connection: %s", qPrintable(socket->errorString()));
        delete socket;
        return;
    }
    if (auto *secure = qobject_cast<QSslSocket *>(socket)) {
        secure->setSslConfiguration(*tls_);
        secure->startServerEncryption();
    }
    new TestConnection(socket, responder_, this);
}
