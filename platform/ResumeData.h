#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// What a broken download leaves behind for a later task: where the partial file is, how much of it
// is good, and the validator that must still match for the server to continue it.
struct ResumeData {
    QUrl url;
    QString partialFile;
    qint64 bytesWritten = 0;
    QByteArray validator;    // strong ETag, else Last-Modified
    qint64 knownLength = -1; // what the file must come to, when known beforehand

    QByteArray serialise() const;
    // Empty for data this version did not write, or that makes no sense.
    static std::optional<ResumeData> parse(const QByteArray &data);
};
