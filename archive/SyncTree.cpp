#include "archive/SyncTree.h"

#include "archive/FlushPool.h"
#include "archive/SpreadFolders.h"
#include "archive/TreeWalk.h"
#include "platform/Log.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace {

// Regular files only, and only those not flushed already: links are written with the folder that
// holds them, and opening a device or a pipe flushes nothing of the bundle.
bool flushFile(FlushPool &pool, const FlushPool &flushed, int parent, const char *name,
               unsigned char type) {
    struct stat info {};
    if ((type != DT_REG && type != DT_UNKNOWN) ||
        (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && flushed.flushed(info)))
        return true;
    mode_t original = mode_t(-1);
    UniqueFd file = openEntry(parent, name, O_RDONLY | O_NONBLOCK, S_IRUSR, &original);
    if (!file)
        return errno == ELOOP && type == DT_UNKNOWN; // a link
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return true;
    if (original != mode_t(-1) && ::fchmod(file.get(), original) != 0)
        return false;
    pool.flush(std::move(file), name);
    return true;
}

} // namespace

bool flushToDisk(int fd) {
#ifdef Q_OS_MACOS
    // fsync leaves the data in the drive's cache there.
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return true;
#endif
    return ::fsync(fd) == 0;
}

bool syncTree(const QByteArray &root, const FlushPool &flushed) {
    std::string name;
    const UniqueFd parent = openParent(root.toStdString(), name);
    FlushPool pool;
    const TreeVisitor flush{
        S_IRUSR | S_IXUSR,
        true,
        [&pool, &flushed](int parent, const char *entry, unsigned char type) {
            return flushFile(pool, flushed, parent, entry, type);
        },
        [&pool](int, const char *entry, int folder) {
            stopSpreading(folder);
            UniqueFd own(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
            if (!own)
                return false;
            pool.flush(std::move(own), entry);
            return true;
        },
    };
    const bool walked = parent && walkTree(parent.get(), name.c_str(), flush);
    if (!pool.finish() || !walked) {
        printErrorLine(
            QStringLiteral("Cannot write the new bundle to disk: %1").arg(QFile::decodeName(root)));
        return false;
    }
    return true;
}
