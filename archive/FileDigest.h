#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

struct FileDigest {
    QByteArray sha512; // 64 bytes
    qint64 length = 0;
};

// The SHA-512 digest and length of the whole file open as `fd`, read from its start in constant
// memory, without moving its offset: the same descriptor then gives the extraction the very bytes
// that were checked. Nothing when it cannot be read.
std::optional<FileDigest> fileDigest(int fd);
