#pragma once

#include <QByteArray>
#include <QString>

// Whether the archive whose SHA-512 `digest` (fileDigest) is given is the one the maker
// published: `signature` is an Ed25519 signature, made with the key whose public half is
// `publicKey`, over that digest of the whole file (prehashed, so the file is read once, in
// constant memory). Both are base64. Empty when it is; otherwise why not, as one line.
QString archiveSignatureFault(const QByteArray &digest, const QByteArray &publicKey,
                              const QByteArray &signature);
