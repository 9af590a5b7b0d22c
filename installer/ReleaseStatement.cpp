#include "installer/ReleaseStatement.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <memory>
#include <openssl/evp.h>

namespace {

const QString highestVersionKey = QStringLiteral("SOFTWARE.plimbo.Installer.HIGHEST_VERSION");

std::optional<QByteArray> decoded(const QByteArray &base64) {
    const auto result =
        QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return result.decoded;
}

const unsigned char *bytes(const QByteArray &data) {
    return reinterpret_cast<const unsigned char *>(data.constData());
}

bool signedWith(const QByteArray &key, const QByteArray &message, const QByteArray &signature) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(key), key.size()),
        EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          EVP_MD_CTX_free);
    return pkey && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
           EVP_DigestVerify(context.get(), bytes(signature), signature.size(), bytes(message),
                            message.size()) == 1;
}

bool signedWithAny(const QByteArray &publicKeys, const QByteArray &message,
                   const QByteArray &signature) {
    for (const QByteArray &text : publicKeys.split(',')) {
        const std::optional<QByteArray> key = decoded(text);
        if (key && key->size() == 32 && signedWith(*key, message, signature))
            return true;
    }
    return false;
}

bool matches(const char *pattern, const QString &text) {
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern)))
        .match(text)
        .hasMatch();
}

// Dotted decimal numbers; "1.10" is newer than "1.9", and "2.0" the same as "2".
std::optional<QVersionNumber> versionFrom(const QString &text) {
    if (!matches(R"([0-9]{1,9}(\.[0-9]{1,9}){0,7})", text))
        return std::nullopt;
    return QVersionNumber::fromString(text).normalized();
}

std::optional<ReleaseStatement> parsed(const QByteArray &json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    const QJsonObject object = document.object();
    const QString digest = object.value(u"sha512").toString();
    const QString expires = object.value(u"expires").toString();
    const std::optional<QVersionNumber> version = versionFrom(object.value(u"version").toString());
    const qint64 length = object.value(u"length").toInteger(-1);
    if (error.error != QJsonParseError::NoError || !document.isObject() ||
        !object.value(u"product").isString() || !object.value(u"platform").isString() || !version ||
        length < 0 || !matches("[0-9a-f]{128}", digest) ||
        !matches(R"([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z)", expires))
        return std::nullopt;
    ReleaseStatement statement{object.value(u"product").toString(),
                               object.value(u"platform").toString(),
                               *version,
                               length,
                               QByteArray::fromHex(digest.toLatin1()),
                               QDateTime::fromString(expires, Qt::ISODate)};
    if (!statement.expires.isValid())
        return std::nullopt;
    return statement;
}

} // namespace

StatementCheck checkStatement(const QByteArray &statement, const QByteArray &signature,
                              const QByteArray &publicKeys, const StatementExpectation &expected) {
    if (statement.isEmpty() || signature.isEmpty())
        return {std::nullopt, QStringLiteral("The release answer names no signed statement")};
    const std::optional<QByteArray> message = decoded(statement);
    const std::optional<QByteArray> signed64 = decoded(signature);
    if (!message || !signed64 || signed64->size() != 64)
        return {std::nullopt, QStringLiteral("The release statement's signature is malformed")};
    if (!signedWithAny(publicKeys, *message, *signed64))
        return {std::nullopt,
                QStringLiteral("The release statement's signature does not match the maker's key")};
    std::optional<ReleaseStatement> release = parsed(*message);
    if (!release)
        return {std::nullopt, QStringLiteral("The release statement is malformed")};
    if (release->product != expected.product || release->platform != expected.platform)
        return {std::nullopt,
                QStringLiteral("The release is for %1 on %2, not %3 on %4")
                    .arg(release->product, release->platform, expected.product, expected.platform)};
    if (release->version < expected.highestInstalled)
        return {std::nullopt,
                QStringLiteral("The release is version %1, older than the installed %2")
                    .arg(release->version.toString(), expected.highestInstalled.toString())};
    if (release->expires <= expected.now)
        return {std::nullopt, QStringLiteral("The release statement expired at %1")
                                  .arg(release->expires.toString(Qt::ISODate))};
    return {std::move(release), {}};
}

QString archiveFault(const ReleaseStatement &statement, qint64 length, const QByteArray &sha512) {
    if (length != statement.length)
        return QStringLiteral("The archive is %1 bytes, not the %2 bytes of the release")
            .arg(length)
            .arg(statement.length);
    if (sha512 != statement.sha512)
        return QStringLiteral("The archive's SHA-512 digest is not the release's");
    return {};
}

QVersionNumber highestInstalledVersion() {
    return QVersionNumber::fromString(QSettings().value(highestVersionKey).toString()).normalized();
}

void recordInstalledVersion(const QVersionNumber &version) {
    if (version <= highestInstalledVersion())
        return;
    QSettings settings;
    settings.setValue(highestVersionKey, version.toString());
    settings.sync();
}
