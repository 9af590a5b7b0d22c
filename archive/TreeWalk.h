#pragma once

#include "archive/UniqueFd.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>

// Walking a tree by descriptors, each entry opened in its folder's descriptor and never through a
// symbolic link, so that no link, at the root or below, leads anywhere else.

// Opens `name` in the folder `parent` with `flags` (O_NOFOLLOW and O_CLOEXEC added). An entry
// whose owner lacks any of the permission bits `needed` (an archive may leave a folder or file
// so) gets them added: on its own descriptor when it opens as it is, otherwise by name, which
// never changes a link either. `original` receives its mode before, when it was changed. An
// invalid descriptor, with errno set, when it cannot be opened (ELOOP or ENOTDIR for a link).
UniqueFd openEntry(int parent, const char *name, int flags, mode_t needed, mode_t *original);

struct TreeVisitor {
    mode_t folderNeeds; // permission bits a folder's owner needs for the visit
    bool keepModes;     // folders opened up get their own mode back afterwards
    std::function<bool(int parent, const char *name, unsigned char type)> other; // a non-folder
    std::function<bool(int parent, const char *name, int folder)> folder; // after its contents
};

// Visits `name` in the folder `parent`: a folder after everything in it, anything else (`type`
// is a dirent d_type) as it is. False when some visit, or some folder's opening, failed; the
// others have had their turn.
bool walkTree(int parent, const char *name, const TreeVisitor &visitor);

// The folder holding `path` (links on the way to it are followed, as the caller named them), and
// in `name` the last part of `path`, which is to be opened in that folder.
UniqueFd openParent(const std::filesystem::path &path, std::string &name);
