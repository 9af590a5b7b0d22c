#include "archive/StagedBundle.h"

#include "archive/RemoveTree.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

void printSystemError(const QString &what, const QByteArray &path) {
    printErrorLine(
        QStringLiteral("%1 %2: %3")
            .arg(what, QFile::decodeName(path), QString::fromLocal8Bit(strerror(errno))));
}

// Both paths name something; RENAME_EXCHANGE and RENAME_SWAP fail with ENOENT when one does not.
int exchange(const QByteArray &from, const QByteArray &to) {
#ifdef Q_OS_MACOS
    return ::renamex_np(from.constData(), to.constData(), RENAME_SWAP);
#else
    return ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
#endif
}

} // namespace

StagedBundle::StagedBundle(const QByteArray &installPath) : install_(installPath) {
    const fs::path install(install_.toStdString());
    const QByteArray prefix = '.' + QByteArray::fromStdString(install.filename().string()) + '.';
    const QByteArray parent = QByteArray::fromStdString(install.parent_path().string());
    if (!QDir().mkpath(QFile::decodeName(parent))) {
        printErrorLine(QStringLiteral("Cannot create %1").arg(QFile::decodeName(parent)));
        return;
    }
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(parent.toStdString(), error))
        if (QByteArray::fromStdString(entry.path().filename().string()).startsWith(prefix) &&
            entry.is_directory() && !entry.is_symlink())
            removeTree(entry.path());

    // Private until it is put in place; the bundle inside is created by the extraction, so that
    // its own permissions and times are applied after its contents, as for any folder.
    QByteArray folder = parent + '/' + prefix + "XXXXXX";
    if (!::mkdtemp(folder.data())) {
        printSystemError(QStringLiteral("Cannot create"), folder);
        return;
    }
    folder_ = folder;
    path_ = folder + '/' + QByteArray::fromStdString(install.filename().string());
}

// What cannot be removed now, the next run's clean-up removes.
StagedBundle::~StagedBundle() {
    if (!folder_.isEmpty())
        removeTree(folder_.toStdString());
}

bool StagedBundle::putInPlace() {
    struct stat staged {};
    // An archive without entries writes nothing.
    if (::lstat(path_.constData(), &staged) == 0 && exchange(path_, install_) != 0 &&
        (errno != ENOENT || ::rename(path_.constData(), install_.constData()) != 0)) {
        printSystemError(QStringLiteral("Cannot put the new bundle in place at"), install_);
        return false;
    }
    removeTree(std::exchange(folder_, {}).toStdString()); // with the earlier bundle, swapped in
    return true;
}
