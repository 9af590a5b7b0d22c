#include "archive/FileDigest.h"

#include <QCryptographicHash>
#include <cerrno>
#include <unistd.h>
#include <vector>

std::optional<FileDigest> fileDigest(int fd) {
    QCryptographicHash hash(QCryptographicHash::Sha512);
    std::vector<char> block(1 << 20);
    qint64 length = 0;
    for (;;) {
        const ssize_t read = ::pread(fd, block.data(), block.size(), length);
        if (read == 0)
            return FileDigest{hash.result(), length};
        if (read < 0 && errno != EINTR)
            return std::nullopt;
        if (read > 0) {
            hash.addData(QByteArrayView(block.data(), read));
            length += read;
        }
    }
}
