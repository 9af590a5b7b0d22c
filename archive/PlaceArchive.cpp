#include "archive/PlaceArchive.h"

#include "archive/RemoveTree.h"
#include "archive/TreeWalk.h"
#include "platform/Log.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

bool refuse(const QString &destination, const QString &reason) {
    printErrorLine(QStringLiteral("Cannot put the archive at %1: %2").arg(destination, reason));
    return false;
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Whoever owns the folder can replace what is in it at any time; root could anyway.
bool folderOfAnotherAccount(int folder) {
    struct stat info {};
    return ::fstat(folder, &info) == 0 && info.st_uid != ::geteuid() && info.st_uid != 0;
}

bool entryOfAnotherAccount(int folder, const char *name) {
    struct stat info {};
    return ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && info.st_uid != ::geteuid();
}

bool copyData(int from, int to) {
    std::vector<char> block(1 << 20);
    for (off_t offset = 0;;) {
        const ssize_t read = ::pread(from, block.data(), block.size(), offset);
        if (read == 0)
            return true;
        if (read < 0 && errno != EINTR)
            return false;
        for (ssize_t done = 0; done < read;) {
            const ssize_t written = ::write(to, block.data() + done, size_t(read - done));
            if (written < 0 && errno != EINTR)
                return false;
            done += std::max<ssize_t>(written, 0);
        }
        offset += std::max<ssize_t>(read, 0);
    }
}

// A copy of `fd` in a new file of our own, named after `name`, in `folder`; its name, or empty.
QByteArray copyBeside(int fd, int folder, const QByteArray &name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray copy =
            '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const UniqueFd file(::openat(folder, copy.constData(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file && errno == EEXIST)
            continue;
        if (file && copyData(fd, file.get()))
            return copy;
        const int error = errno;
        if (file)
            ::unlinkat(folder, copy.constData(), 0);
        errno = error;
        return {};
    }
    return {};
}

} // namespace

bool placeArchive(const QString &download, int fd, const QString &destination) {
    std::string last;
    const UniqueFd folder = openParent(QFile::encodeName(destination).toStdString(), last);
    const QByteArray name = QByteArray::fromStdString(last);
    if (!folder)
        return refuse(destination, systemError());
    if (folderOfAnotherAccount(folder.get()))
        return refuse(destination, QStringLiteral("its folder belongs to another account"));
    removeTreeAt(folder.get(), name.constData()); // what stays in the way, the rename reports
    if (::renameat(AT_FDCWD, QFile::encodeName(download).constData(), folder.get(),
                   name.constData()) == 0)
        return true;
    if (errno == EXDEV) {
        const QByteArray copy = copyBeside(fd, folder.get(), name);
        if (!copy.isEmpty() &&
            ::renameat(folder.get(), copy.constData(), folder.get(), name.constData()) == 0)
            return true;
        const int error = errno;
        if (!copy.isEmpty())
            ::unlinkat(folder.get(), copy.constData(), 0);
        errno = error;
    }
    const QString reason = systemError();
    // In a shared folder with the sticky bit, another account's file or link cannot be replaced.
    return refuse(destination, entryOfAnotherAccount(folder.get(), name.constData())
                                   ? QStringLiteral("another account's file is in the way")
                                   : reason);
}
