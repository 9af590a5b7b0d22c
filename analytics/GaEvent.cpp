#include "analytics/GaEvent.h"

#include "analytics/QueryEncoding.h"
#include "platform/Log.h"
#include "platform/SharedSession.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QSettings>
#include <QStringDecoder>
#include <chrono>
#include <cmath>

namespace {

const QString clientIdKey = QStringLiteral("SOFTWARE.plimbo.Installer.CLIENT_ID");

// Uniform over 0 ... 2^32 - 1.
int64_t upper32Bits(quint64 bits) {
    return int64_t(bits >> 32);
}

// Halves away from zero.
int64_t roundedMilliseconds(double seconds) {
    return std::llround(seconds * 1000.0);
}

QString firstLanguage(const GaEvent::Environment &environment) {
    const QStringList languages = environment.preferredLanguages();
    return languages.isEmpty() ? QString() : languages.first().toLower();
}

// The stored identifier whatever it holds, else a new one (random part, creation time), stored.
QString loadOrCreateClientId(const GaEvent::Environment &environment) {
    std::optional<QSettings> applicationSettings;
    QSettings *settings =
        environment.settings ? environment.settings : &applicationSettings.emplace();
    const QVariant stored = settings->value(clientIdKey);
    if (stored.isValid())
        return stored.toString();
    const int64_t random = upper32Bits(environment.random64());
    const QString created = QString::number(random) + u'.' +
                            QString::number(roundedMilliseconds(environment.secondsSince1970()));
    settings->setValue(clientIdKey, created);
    settings->sync();
    return created;
}

void printAnswer(const HttpAnswer &answer) {
    if (!answer.body)
        return;
    // Byte for byte: a leading BOM is kept, and a body that is not UTF-8 is not printed at all.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    const QString text = utf8(*answer.body);
    if (!utf8.hasError())
        printLine(text);
}

} // namespace

QStringList GaEvent::Environment::systemLanguages() {
    QStringList languages = QLocale::system().uiLanguages();
    // The POSIX locale names no language.
    languages.removeAll(QStringLiteral("C"));
    return languages;
}

quint64 GaEvent::Environment::systemRandom() {
    return QRandomGenerator::system()->generate64();
}

double GaEvent::Environment::systemClock() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

GaEvent::GaEvent(const QString &measurementId, const QString &tagBuild, const QString &marker,
                 const QString &documentTitle, const QString &origin, const QString &appVersion)
    : GaEvent(measurementId, tagBuild, marker, documentTitle, origin, appVersion, Environment()) {}

GaEvent::GaEvent(const QString &measurementId, const QString &tagBuild, const QString &marker,
                 const QString &documentTitle, const QString &origin, const QString &appVersion,
                 const Environment &environment)
    : host(origin), _tid(measurementId), gtm(tagBuild), _p(upper32Bits(environment.random64())),
      _z(marker), cid(loadOrCreateClientId(environment)), ul(firstLanguage(environment)),
      sid(roundedMilliseconds(environment.secondsSince1970())), dt(documentTitle), av(appVersion),
      collectUrl_(QUrl(environment.analyticsEndpoint).toEncoded() + "/g/collect?"),
      extraCaFile_(environment.extraCaFile) {}

void GaEvent::send(const QString &name, const QMap<QString, QString> &parameters) {
    const int64_t hitNumber = _sessionHitsCount.fetch_add(1) + 1;
    QList<QueryItem> items{
        {QStringLiteral("v"), QString::number(v)},
        {QStringLiteral("tid"), _tid},
        {QStringLiteral("gtm"), gtm},
        {QStringLiteral("_p"), QString::number(_p)},
        {QStringLiteral("_z"), _z},
        {QStringLiteral("cid"), cid},
        {QStringLiteral("ul"), ul},
        {QStringLiteral("sr"),
         QStringLiteral("%1x%2").arg(int64_t(sr.width())).arg(int64_t(sr.height()))},
        {QStringLiteral("_s"), QString::number(hitNumber)},
        {QStringLiteral("sid"), QString::number(sid)},
        {QStringLiteral("sct"), QString::number(sessionCount)},
        {QStringLiteral("seg"), seg ? QStringLiteral("1") : QStringLiteral("0")},
        {QStringLiteral("av"), av},
        {QStringLiteral("en"), QStringLiteral("installer_") + name},
        {QStringLiteral("dl"), dl},
        {QStringLiteral("dt"), dt},
    };
    // No fixed name begins with "ep.", so a parameter never replaces a fixed item.
    for (auto parameter = parameters.cbegin(); parameter != parameters.cend(); ++parameter)
        items.append({QStringLiteral("ep.") + parameter.key(), parameter.value()});

    HttpRequest request;
    // Strict parsing keeps the query exactly as encoded here.
    request.url = QUrl::fromEncoded(collectUrl_ + encodeQuery(items), QUrl::StrictMode);
    request.method = "POST";
    const QByteArray origin = host.toUtf8();
    request.headers = {{"Content-Type", "application/json"},
                       {"Origin", origin},
                       {"Referrer", origin},
                       {"User-Agent", "Plimbo/1.0.0 (macos)"}};
    request.timeoutMs = 60000;
    request.extraCaFile = extraCaFile_;
    SharedSession::shared().start(std::move(request), printAnswer);
}
