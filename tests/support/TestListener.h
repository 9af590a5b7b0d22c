#pragma once

#include "support/TestConnection.h"

#include <QSslConfiguration>
#include <QTcpServer>
#include <optional>

// The test server's listening socket: hands each accepted connection, after starting TLS when
// configured, to a TestConnection that it owns.
class TestListener : public QTcpServer {
    Q_OBJECT

  public:
    TestListener(std::optional<QSslConfiguration> tls, TestConnection::Responder responder);

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    std::optional<QSslConfiguration> tls_;
    TestConnection::Responder responder_;
};
