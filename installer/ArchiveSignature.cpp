#include "installer/ArchiveSignature.h"

#include <memory>
#include <openssl/evp.h>

namespace {

std::optional<QByteArray> decoded(const QByteArray &base64, qsizetype size) {
    const auto result =
        QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != size)
        return std::nullopt;
    return result.decoded;
}

const unsigned char *bytes(const QByteArray &data) {
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

QString archiveSignatureFault(const QByteArray &digest, const QByteArray &publicKey,
                              const QByteArray &signature) {
    if (signature.isEmpty())
        return QStringLiteral("The release names no signature for the archive");
    const std::optional<QByteArray> key = decoded(publicKey, 32);
    const std::optional<QByteArray> signed64 = decoded(signature, 64);
    if (!key || !signed64)
        return QStringLiteral("The archive's signature or the installer's key is malformed");

    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(*key), key->size()),
        EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          EVP_MD_CTX_free);
    const bool valid =
        pkey && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
        EVP_DigestVerify(context.get(), bytes(*signed64), signed64->size(), bytes(digest),
                         digest.size()) == 1;
    return valid ? QString()
                 : QStringLiteral("The archive's signature does not match the maker's key");
}
