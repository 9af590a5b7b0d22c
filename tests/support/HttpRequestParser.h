#pragma once

#include "support/TestServer.h"

#include <QByteArray>

// Splits the bytes a client sends into HTTP/1.x requests: request line, headers, and a body sized
// by Content-Length or chunked transfer coding. Bytes may arrive in any pieces.
class HttpRequestParser {
  public:
    enum class Result { Incomplete, Complete, Malformed };

    void append(const QByteArray &bytes);

    // Takes the next whole request out of the buffer into `request`. After Malformed the parser
    // stays malformed: the connection cannot be resynchronised.
    Result next(RecordedRequest &request);

    // True once per request whose headers are in and that waits for "100 Continue".
    bool takeContinueRequest();

  private:
    enum class Stage { Head, Body, ChunkSize, ChunkData, Trailers, Broken };

    Result parseHead();
    Result readBody();
    Result readChunks();
    void takeBodyBytes();
    Result fail();
    // The line starting at `from` without its line break; returns where the next one starts, or
    // -1 when the line is not complete yet.
    qsizetype readLine(qsizetype from, QByteArray &line) const;

    QByteArray buffer_;
    qsizetype position_ = 0; // start of the unconsumed bytes in buffer_
    Stage stage_ = Stage::Head;
    RecordedRequest current_;
    qint64 remaining_ = 0; // body bytes (or bytes of the current chunk) still to come
    bool continuePending_ = false;
};
