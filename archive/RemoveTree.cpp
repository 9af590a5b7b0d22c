#include "archive/RemoveTree.h"

#include "archive/TreeWalk.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

bool removeTree(const std::filesystem::path &root) {
    std::string name;
    const UniqueFd parent = openParent(root, name);
    return parent && removeTreeAt(parent.get(), name.c_str());
}

bool removeTreeAt(int parent, const char *name) {
    // Write and search permission in a folder is what removing its entries takes.
    const TreeVisitor remove{
        S_IRWXU,
        false,
        [](int folder, const char *entry, unsigned char) {
            return ::unlinkat(folder, entry, 0) == 0;
        },
        [](int folder, const char *entry, int) {
            return ::unlinkat(folder, entry, AT_REMOVEDIR) == 0;
        },
    };
    struct stat info {};
    if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
        return true;
    return walkTree(parent, name, remove);
}
