#include "archive/StagedBundle.h"

#include "archive/RemoveTree.h"
#include "archive/SpreadFolders.h"
#include "archive/SyncTree.h"
#include "archive/UniqueFd.h"
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
    spreadSubfolders(folder.constData()); // the bundle's own folder is spread too
    folder_ = folder;
    path_ = folder + '/' + QByteArray::fromStdString(install.filename().string());
}

// What cannot be removed now, the next run's clean-up removes.
StagedBundle::~StagedBundle() {
    written_.finish();
    if (!folder_.isEmpty())
        removeTree(folder_.toStdString());
}

// The order makes a power cut at any moment leave the earlier bundle or the new one, whole: the
// new tree is on disk before the swap, and the swap is before the earlier tree goes.
bool StagedBundle::putInPlace() {
    struct stat existing {};
    if (::lstat(path_.constData(), &existing) != 0) { // an archive without entries writes nothing
        if (::lstat(install_.constData(), &existing) != 0) {
            printErrorLine(QStringLiteral("The archive holds no bundle, nothing is installed at %1")
                               .arg(QFile::decodeName(install_)));
            return false;
        }
    } else if (!written_.finish() || !syncTree(path_, written_) || !swapIn()) {
        return false;
    }
    removeTree(std::exchange(folder_, {}).toStdString()); // with the earlier bundle, swapped in
    return true;
}

bool StagedBundle::swapIn() {
    const bool swapped = exchange(path_, install_) == 0;
    if (!swapped && (errno != ENOENT || ::rename(path_.constData(), install_.constData()) != 0)) {
        printSystemError(QStringLiteral("Cannot put the new bundle in place at"), install_);
        return false;
    }
    // The parent holds the new name; the bundle's own folder, its new way up (".."), which a file
    // system without a journal would otherwise leave pointing at the staging folder.
    const QByteArray parent =
        QByteArray::fromStdString(fs::path(install_.toStdString()).parent_path().string());
    for (const QByteArray &changed : {parent, install_}) {
        const UniqueFd folder(::open(changed.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (folder ? flushToDisk(folder.get()) : errno == ELOOP && changed == install_)
            continue; // a bundle that is a link has no way up to keep
        printSystemError(QStringLiteral("Cannot write to disk the folder"), changed);
        // Put back as it was, so that the earlier bundle stays the installed one.
        if (swapped)
            exchange(path_, install_);
        else
            ::rename(install_.constData(), path_.constData());
        return false;
    }
    return true;
}
