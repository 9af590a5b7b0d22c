#include "installer/ReleaseLookup.h"

#include "installer/ViewController.h"
#include "platform/Log.h"
#include "platform/SharedSession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>

std::optional<QUrl> archiveUrlFromAnswer(const QByteArray &body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        printLine(QStringLiteral("Failed to load: ") + error.errorString());
        return std::nullopt;
    }
    const QString text = document.object().value(QLatin1String("updateUrl")).toString();
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

    // The holder is written on the session's thread before the release and read here after the
    // acquire, which orders the two.
    std::optional<QUrl> holder;
    QSemaphore answered;
    SharedSession::shared().start(request, [&holder, &answered](const HttpAnswer &answer) {
        if (answer.body)
            holder = archiveUrlFromAnswer(*answer.body);
        else
            printLine(QStringLiteral("Failed to load: ") + answer.error);
        answered.release();
    });
    answered.acquire();
    return holder;
}
