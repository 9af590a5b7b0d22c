#include "installer/ReleaseLookup.h"

#include "installer/ReleaseStatement.h"
#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/SharedSession.h"

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

std::future<std::optional<Release>> lookUpLatestRelease(const Deployment &deployment,
                                                        int timeoutMs) {
    HttpRequest request;
    request.url = QUrl(deployment.releaseService + QStringLiteral("/v1/apps/latest?store=") +
                       releaseStore + QStringLiteral("&platform=") + releasePlatform);
    request.timeoutMs = timeoutMs;
    // The service's own scheme, which every deployment makes https, also after a redirect.
    request.protocols = request.url.scheme().toLatin1();
    request.extraCaFile = deployment.extraCaFile;
    auto holder = std::make_shared<std::promise<std::optional<Release>>>();
    SharedSession::shared().start(request, [holder](const HttpAnswer &answer) {
        if (answer.body) {
            holder->set_value(releaseFromAnswer(*answer.body));
            return;
        }
        printLine(QStringLiteral("Failed to load: ") + answer.error);
        holder->set_value(std::nullopt);
    });
    return holder->get_future();
}

void ViewController::setReleaseLookup(std::future<std::optional<Release>> lookup) {
    releaseLookup_ = std::move(lookup);
}

std::optional<QUrl> ViewController::fetchLatestReleaseURL() {
    // The main thread really waits here, with no event loop, until the session's thread answers.
    std::future<std::optional<Release>> answered =
        releaseLookup_.valid() ? std::move(releaseLookup_)
                               : lookUpLatestRelease(deployment_, timings_.requestTimeoutMs);
    const std::optional<Release> release = answered.get();
    if (!release)
        return std::nullopt;
    // With a key built in, only a release the maker signed for this installer, no older than
    // what it installed before and not expired, is downloaded at all.
    if (!deployment_.updatePublicKey.isEmpty()) {
        const StatementCheck check =
            checkStatement(release->statement, release->signature, deployment_.updatePublicKey,
                           {releaseStore, releasePlatform, highestInstalledVersion(),
                            QDateTime::currentDateTimeUtc()});
        if (!check.statement) {
            printErrorLine(check.fault);
            terminateProcess(1);
        }
        statement_ = check.statement;
    }
    return release->archiveUrl;
}
