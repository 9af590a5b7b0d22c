#include "installer/ReleaseLookup.h"

#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/SharedSession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <future>

std::optional<QUrl> archiveUrlFromAnswer(const QByteArray &body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        printLine(QStringLiteral("Failed to load: ") + error.errorString());
        return std::nullopt;
    }
    const QString text = document.object().value(QLatin1String("updateUrl")).toString();
    // A lone surrogate from a "\u" escape passes QUrl, but its encoded form, which the
    // transfer is given, names another address.
    if (!text.isValidUtf16())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> ViewController::fetchLatestReleaseURL() {
    HttpRequest request;
    request.url = QUrl(deployment_.releaseService +
                       QStringLiteral("/v1/apps/latest?store=CONSOLE_ZIP&platform=CONSOLE_OSX"));
    request.timeoutMs = timings_.requestTimeoutMs;
    request.extraCaFile = deployment_.extraCaFile;

    // The main thread really waits here, with no event loop, until the session's thread answers.
    std::promise<std::optional<QUrl>> holder;
    std::future<std::optional<QUrl>> answered = holder.get_future();
    SharedSession::shared().start(request, [&holder](const HttpAnswer &answer) {
        if (answer.body) {
            holder.set_value(archiveUrlFromAnswer(*answer.body));
            return;
        }
        printLine(QStringLiteral("Failed to load: ") + answer.error);
        holder.set_value(std::nullopt);
    });
    return answered.get();
}
