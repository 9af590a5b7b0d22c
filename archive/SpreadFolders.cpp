#include "archive/SpreadFolders.h"

#include "archive/UniqueFd.h"

#include <fcntl.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace {

void markTopOfTree([[maybe_unused]] int folder, [[maybe_unused]] bool top) {
#ifdef FS_TOPDIR_FL
    int flags = 0;
    if (::ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0 || bool(flags & FS_TOPDIR_FL) == top)
        return;
    flags ^= FS_TOPDIR_FL;
    ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
#endif
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
