#include "archive/TreeWalk.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

struct Child {
    std::string name;
    unsigned char type;
};

// Read whole before any is visited: removing entries while the folder is being read may make
// the reading skip others.
bool listFolder(int folder, std::vector<Child> &children) {
    DIR *listing = ::fdopendir(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!listing)
        return false;
    while (const dirent *entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            children.push_back({name, entry->d_type});
    }
    ::closedir(listing);
    return true;
}

} // namespace

UniqueFd openEntry(int parent, const char *name, int flags, mode_t needed, mode_t *original) {
    flags |= O_NOFOLLOW | O_CLOEXEC;
    UniqueFd entry(::openat(parent, name, flags));
    struct stat info {};
    if (!entry && errno == EACCES && needed &&
        ::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(info.st_mode) &&
        ::fchmodat(parent, name, (info.st_mode & 07777) | needed, AT_SYMLINK_NOFOLLOW) == 0) {
        *original = info.st_mode & 07777;
        return UniqueFd(::openat(parent, name, flags));
    }
    if (entry && ::fstat(entry.get(), &info) == 0 && (info.st_mode & needed) != needed &&
        ::fchmod(entry.get(), (info.st_mode & 07777) | needed) == 0)
        *original = info.st_mode & 07777;
    return entry;
}

bool walkTree(int parent, const char *name, const TreeVisitor &visitor) {
    constexpr mode_t kUnchanged = mode_t(-1);
    mode_t original = kUnchanged;
    const UniqueFd folder = openEntry(parent, name, O_RDONLY | O_DIRECTORY | O_NONBLOCK,
                                      visitor.folderNeeds, &original);
    if (!folder)
        return (errno == ENOTDIR || errno == ELOOP) && visitor.other(parent, name, DT_UNKNOWN);
    std::vector<Child> children;
    bool walked = listFolder(folder.get(), children);
    for (const Child &child : children)
        walked = (child.type == DT_DIR || child.type == DT_UNKNOWN
                      ? walkTree(folder.get(), child.name.c_str(), visitor)
                      : visitor.other(folder.get(), child.name.c_str(), child.type)) &&
                 walked;
    if (original != kUnchanged && visitor.keepModes)
        walked = ::fchmod(folder.get(), original) == 0 && walked;
    return visitor.folder(parent, name, folder.get()) && walked;
}

UniqueFd openParent(const std::filesystem::path &path, std::string &name) {
    std::filesystem::path normal = path.lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    name = normal.filename().string();
    const std::filesystem::path parent = normal.has_parent_path() ? normal.parent_path() : ".";
    return UniqueFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}
