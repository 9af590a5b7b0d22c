#include "archive/RemoveTree.h"

namespace fs = std::filesystem;

bool removeTree(const fs::path &root) {
    std::error_code error;
    constexpr auto openUp = fs::perm_options::add | fs::perm_options::nofollow;
    fs::permissions(root, fs::perms::owner_all, openUp, error);
    // An entry is opened up as it is visited, before the iterator goes into it.
    for (auto it = fs::recursive_directory_iterator(root, error); it != fs::end(it);
         it.increment(error))
        fs::permissions(it->path(), fs::perms::owner_all, openUp, error);
    fs::remove_all(root, error);
    return !error;
}
