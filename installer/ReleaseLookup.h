#pragma once

#include "platform/Deployment.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <future>
#include <optional>

struct Release {
    QUrl archiveUrl;
    // As published, base64; empty when the answer names none.
    QByteArray statement;
    QByteArray signature;
};

// The product the lookup asks the release service for (the platform is the deployment's); a
// signed statement must name the same.
inline const QString releaseStore = QStringLiteral("CONSOLE_ZIP");

// The release in a release service's answer: the text under "updateUrl" of a JSON object, if it
// is well-formed Unicode and an absolute https address (the archive is code the user will run),
// and the texts under "statement" and "signature". A body that is not JSON prints
// "Failed to load: " and the parser's reason on standard output; anything else unusable prints
// nothing.
std::optional<Release> releaseFromAnswer(const QByteArray &body);

// What one lookup came to: the release, or what went wrong and whether asking again may help.
struct LookupOutcome {
    std::optional<Release> release;
    QString failure;        // when there is no release
    bool transient = false; // the service was unreachable or busy: a later lookup may succeed
};

// Asks the release service for the latest release of the deployment's platform and returns at
// once; `done` runs on the shared session's thread.
void lookUpLatestRelease(const Deployment &deployment, int timeoutMs,
                         std::function<void(const LookupOutcome &)> done);
// The same as a future.
std::future<LookupOutcome> lookUpLatestRelease(const Deployment &deployment, int timeoutMs);
