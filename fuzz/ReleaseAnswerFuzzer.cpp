// archiveUrlFromAnswer with any body: an address only from the well-formed text under "updateUrl"
// of a JSON object, valid, absolute, with a host, and read back the same from the bytes curl is
// given; and no such text refused.

#include "fuzz/Check.h"
#include "installer/ReleaseLookup.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool usable(const QUrl &url) {
    return url.isValid() && !url.isRelative() && !url.host().isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Nearly every body prints "Failed to load: ..." on standard output.
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0)
        failCheck(QStringLiteral("standard output cannot be silenced"));
    ::close(devNull);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QUrl> url = archiveUrlFromAnswer(body);

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    const QJsonValue member = document.object().value(QLatin1String("updateUrl"));
    const bool text =
        error.error == QJsonParseError::NoError && document.isObject() && member.isString();
    const bool wellFormed = text && member.toString().isValidUtf16();
    const QUrl expected = text ? QUrl(member.toString(), QUrl::StrictMode) : QUrl();
    const auto describe = [&](const char *failure) {
        return QStringLiteral("%1: body %2, address \"%3\"")
            .arg(QLatin1String(failure), QString::fromLatin1(body.left(300).toPercentEncoding()),
                 url ? url->toString() : QStringLiteral("(none)"));
    };
    if (!url) {
        check(!wellFormed || !usable(expected), [&] { return describe("usable address refused"); });
        return 0;
    }
    check(text, [&] { return describe("address without an object's \"updateUrl\" text"); });
    check(wellFormed, [&] { return describe("address from a text with a lone surrogate"); });
    check(usable(*url), [&] { return describe("unusable address"); });
    check(*url == expected, [&] { return describe("another address than the text's"); });
    // Compared encoded: QUrl keeps a "#" inside the fragment as it came, yet reads back its
    // encoded "%23" as such, and then the two compare unequal though they name the same.
    const QByteArray encoded = url->toEncoded();
    check(QUrl::fromEncoded(encoded, QUrl::StrictMode).toEncoded() == encoded,
          [&] { return describe("the encoded form reads back as another address"); });
    return 0;
}
