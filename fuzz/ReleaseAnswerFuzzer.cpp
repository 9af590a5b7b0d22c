// releaseFromAnswer with any body: an address only from the well-formed text under "updateUrl"
// of a JSON object, valid, https, with a host, and read back the same from the bytes curl is
// given; and no such text refused.

#include "installer/ReleaseLookup.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<Release> release = releaseFromAnswer(body);
    const std::optional<QUrl> url = release ? std::optional(release->archiveUrl) : std::nullopt;
    const auto usable = [](const QUrl &u) {
        return u.isValid() && u.scheme() == u"https" && !u.host().isEmpty();
    };

    // No object, or no text under the key, when the body is not JSON.
    const QJsonValue member = QJsonDocument::fromJson(body).object().value(u"updateUrl");
    const bool text = member.isString();
    const bool wellFormed = text && member.toString().isValidUtf16();
    const QUrl expected = text ? QUrl(member.toString(), QUrl::StrictMode) : QUrl();
    // Compared encoded: QUrl keeps a "#" inside the fragment as it came, yet reads back its
    // encoded "%23" as such, and then the two compare unequal though they name the same.
    const QByteArray encoded = url ? url->toEncoded() : QByteArray();
    const char *failure =
        !url               ? (wellFormed && usable(expected) ? "usable address refused" : nullptr)
        : !text            ? "address without an object's \"updateUrl\" text"
        : !wellFormed      ? "address from a text with a lone surrogate"
        : !usable(*url)    ? "unusable address"
        : *url != expected ? "another address than the text's"
        : QUrl::fromEncoded(encoded, QUrl::StrictMode).toEncoded() != encoded
            ? "the encoded form reads back as another address"
            : nullptr;
    if (failure)
        qFatal("%s: body %s, address \"%s\"", failure, body.left(300).toPercentEncoding().data(),
               encoded.data());
    return 0;
}
