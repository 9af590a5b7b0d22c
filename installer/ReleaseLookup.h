#pragma once

#include "platform/Deployment.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <future>
#include <optional>

struct Release {
    QUrl archiveUrl;
    // As published, base64; empty when the answer names none.
    QByteArray statement;
    QByteArray signature;
};

// What the lookup asks the release service for; a signed statement must name the same.
inline const QString releaseStore = QStringLiteral("CONSOLE_ZIP");
inline const QString releasePlatform = QStringLiteral("CONSOLE_OSX");

// The release in a release service's answer: the text under "updateUrl" of a JSON object, if it
// is well-formed Unicode and an absolute https address (the archive is code the user will run),
// and the texts under "statement" and "signature". A body that is not JSON prints
// "Failed to load: " and the parser's reason on standard output; anything else unusable prints
// nothing.
std::optional<Release> releaseFromAnswer(const QByteArray &body);

// Asks the release service for the latest release and returns at once; the answer arrives on
// the shared session's thread. The installer starts it when the process starts, so that it runs
// while the application and its window are built.
std::future<std::optional<Release>> lookUpLatestRelease(const Deployment &deployment,
                                                        int timeoutMs);
