#pragma once

#include <QByteArray>
#include <QtGlobal>

// What a release statement is checked against: the archive's SHA-512 digest and its length.
struct FileDigest {
    QByteArray sha512; // 64 bytes; empty when no digest was wanted
    qint64 length = 0;
};
