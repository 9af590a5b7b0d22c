#pragma once

#include "platform/ResponseHead.h"
#include "platform/ResumeData.h"

#include <QString>
#include <QUrl>
#include <optional>

// The partial files of a download folder. Beside each lies a record of what a later session
// needs to carry it on (its address and validator), so that even a killed run leaves them usable.

// A new, empty partial file in `folder`; empty when none can be made.
QString createPartialFile(const QString &folder);

// Whether `path` is a partial file of `folder` (an absolute path).
bool isPartialFileOf(const QString &folder, const QString &path);

// The partial file an earlier session kept of `url`, to be continued from the bytes that reached
// it, and fewer than `knownLength` when that is known; every other partial file and record in
// `folder` goes.
std::optional<ResumeData> takeKeptDownload(const QString &folder, const QUrl &url,
                                           qint64 knownLength);

// Records, before the first body byte, what continues `path` later; removes the record when the
// answer cannot be continued.
void recordPartialFile(const QString &path, const QUrl &url, const ResponseHead &head);

// The record goes (the file is whole, or gone); with `file`, the partial file too.
void forgetPartialFile(const QString &path, bool file);
