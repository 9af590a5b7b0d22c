#include "archive/SpreadFolders.h"

#ifdef __linux__
#include "archive/UniqueFd.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace {

void markTopOfTree(int folder, bool top) {
    int flags = 0;
    if (::ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0 || bool(flags & FS_TOPDIR_FL) == top)
        return;
    flags ^= FS_TOPDIR_FL;
    ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
}

} // namespace

void spreadSubfolders(const char *path) {
    const UniqueFd folder(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder)
        markTopOfTree(folder.get(), true);
}

void stopSpreading(int folder) {
    markTopOfTree(folder, false);
}
#else
// Elsewhere file systems place folders their own way.
void spreadSubfolders(const char *) {}
void stopSpreading(int) {}
#endif
