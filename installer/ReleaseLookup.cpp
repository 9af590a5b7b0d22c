#include "installer/ReleaseLookup.h"

#include "installer/ReleaseStatement.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/SharedSession.h"
#include "system/Places.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <future>

std::optional<Release> releaseFromAnswer(const QByteArray &body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        printLine(QStringLiteral("Failed to load: ") + error.errorString());
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QString text = object.value(QLatin1String("updateUrl")).toString();
    // A lone surrogate from a "\u" escape passes QUrl, but its encoded form, which the
    // transfer is given, names another address.
    if (!text.isValidUtf16())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"https" || url.host().isEmpty())
        return std::nullopt;
    return Release{url, object.value(QLatin1String("statement")).toString().toLatin1(),
                   object.value(QLatin1String("signature")).toString().toLatin1()};
}

void lookUpLatestRelease(const Deployment &deployment, int timeoutMs,
                         std::function<void(const LookupOutcome &)> done) {
    HttpRequest request;
    request.url = QUrl(deployment.releaseService + QStringLiteral("/v1/apps/latest?store=") +
                       releaseStore + QStringLiteral("&platform=") + deployment.releasePlatform);
    request.timeoutMs = timeoutMs;
    // The service's own scheme, which every deployment makes https, also after a redirect.
    request.protocols = request.url.scheme().toLatin1();
    request.extraCaFile = deployment.extraCaFile;
    SharedSession::shared().start(request, [done](const HttpAnswer &answer) {
        LookupOutcome outcome;
        outcome.transient = answer.transient;
        if (!answer.body) {
            printLine(QStringLiteral("Failed to load: ") + answer.error);
            outcome.failure = QStringLiteral("Cannot reach the release service: ") + answer.error;
        } else if ((outcome.release = releaseFromAnswer(*answer.body))) {
            outcome.transient = false;
        } else if (answer.status >= 400) {
            outcome.failure = QStringLiteral("The release service answered %1").arg(answer.status);
        } else {
            outcome.failure = QStringLiteral("The release service named no usable release");
        }
        done(outcome);
    });
}

std::future<LookupOutcome> lookUpLatestRelease(const Deployment &deployment, int timeoutMs) {
    auto holder = std::make_shared<std::promise<LookupOutcome>>();
    lookUpLatestRelease(deployment, timeoutMs,
                        [holder](const LookupOutcome &outcome) { holder->set_value(outcome); });
    return holder->get_future();
}

void ViewController::lookUpAtLaunch() {
    prepareInstallation();
    auto answered = std::make_shared<std::promise<LookupOutcome>>();
    releaseLookup_ = answered->get_future();
    lookUpLatestRelease(deployment_, timings_.requestTimeoutMs,
                        [this, answered](const LookupOutcome &outcome) {
                            startedFromAnswer_ = startFromAnswer(outcome);
                            answered->set_value(outcome);
                        });
}

// On the lookup's thread, before the start sequence has its answer: nothing here is told, for
// the window may not be up yet. A release refused, or a bundle that cannot be put in place, is
// looked at again by the start sequence, which tells why.
bool ViewController::startFromAnswer(const LookupOutcome &outcome) {
    if (!outcome.release)
        return false;
    StatementCheck check = checkRelease(*outcome.release);
    if (!check.fault.isEmpty() ||
        !prepareInstallFolders(deployment_.installPath, deployment_.archivePath).isEmpty())
        return false;
    statement_ = std::move(check.statement);
    startTransfer(outcome.release->archiveUrl);
    return true;
}

std::optional<QUrl> ViewController::fetchLatestReleaseURL() {
    // The main thread really waits here, with no event loop, until the session's thread answers.
    std::future<LookupOutcome> answered =
        releaseLookup_.valid() ? std::move(releaseLookup_)
                               : lookUpLatestRelease(deployment_, timings_.requestTimeoutMs);
    const LookupOutcome outcome = answered.get();
    if (startedFromAnswer_)
        return std::nullopt;
    return takeLookupOutcome(outcome);
}

StatementCheck ViewController::checkRelease(const Release &release) const {
    if (deployment_.updatePublicKey.isEmpty())
        return {};
    return checkStatement(release.statement, release.signature, deployment_.updatePublicKey,
                          {releaseStore, deployment_.releasePlatform, highestInstalledVersion(),
                           QDateTime::currentDateTimeUtc()});
}

std::optional<QUrl> ViewController::takeLookupOutcome(const LookupOutcome &outcome) {
    if (!outcome.release) {
        if (outcome.transient)
            tellTransient(outcome.failure, [this] { lookUpAgain(); });
        else
            tellLasting(outcome.failure);
        return std::nullopt;
    }
    // With a key built in, only a release the maker signed for this installer, no older than
    // what it installed before and not expired, is downloaded at all.
    StatementCheck check = checkRelease(*outcome.release);
    if (!check.fault.isEmpty()) {
        printErrorLine(check.fault);
        refuseRelease(check.fault);
        return std::nullopt;
    }
    statement_ = std::move(check.statement);
    return outcome.release->archiveUrl;
}

void ViewController::lookUpAgain() {
    lookUpLatestRelease(deployment_, timings_.requestTimeoutMs,
                        [this](const LookupOutcome &outcome) {
                            runOnMainAsync([this, outcome] {
                                if (const std::optional<QUrl> url = takeLookupOutcome(outcome))
                                    startInstallation(*url);
                            });
                        });
}
