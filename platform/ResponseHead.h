#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <optional>

// The status and header lines of the latest response of a transfer, fed line by line as libcurl
// receives them; a status line starts a new response (redirects, 100 Continue).
class ResponseHead {
  public:
    struct ContentRange {
        qint64 first = 0;
        qint64 last = 0;
        qint64 completeLength = -1; // -1: "*", unknown
    };

    void addLine(QByteArrayView line);

    int status() const { return status_; }       // 0 before a status line
    QByteArray value(QByteArrayView name) const; // first field of that name, trimmed; empty if none

    qint64 contentLength() const; // -1 when unknown, also when a transfer coding overrides it
    std::optional<ContentRange> contentRange() const; // a well-formed "bytes first-last/length"
    bool acceptsByteRanges() const;
    QByteArray validator() const; // strong ETag, else Last-Modified; empty when neither

  private:
    int status_ = 0;
    QList<QPair<QByteArray, QByteArray>> fields_;
};
