#pragma once

#include "support/HttpRequestParser.h"
#include "support/TestServer.h"

#include <QObject>
#include <QTcpSocket>
#include <functional>

// One client connection of the test server: reads requests one after the other (keep-alive and
// pipelining), asks the responder for each answer and writes it in chunks as the socket drains,
// cutting or stalling where the answer says so. Deletes itself when the client goes away.
class TestConnection : public QObject {
    Q_OBJECT

  public:
    using Responder = std::function<TestResponse(const RecordedRequest &)>;

    // Takes `socket` (connected; a TLS socket has started its server handshake).
    TestConnection(QTcpSocket *socket, Responder responder, QObject *parent);

  private:
    enum class State { Reading, Sending, Stalled, Closing };
    enum class Ending { KeepAlive, Close, Stall };

    void readIncoming();
    void answerRequests();
    void startResponse(const TestResponse &response, const RecordedRequest &request);
    void sendBody();
    void continueWriting();
    qint64 unsentBytes() const;

    QTcpSocket *socket_;
    Responder responder_;
    HttpRequestParser parser_;
    State state_ = State::Reading;
    QByteArray body_;
    qint64 sent_ = 0;
    qint64 bodyEnd_ = 0; // body bytes to send before `ending_`
    Ending ending_ = Ending::KeepAlive;
};
