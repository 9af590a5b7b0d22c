#pragma once

#include <filesystem>

// Removes `root` and everything below it, also folders an archive left without permissions for
// their owner (they are opened up first). A symbolic link, at `root` or below, is removed itself:
// never followed, nor anything changed through it. True when nothing is left, also when nothing
// was there.
bool removeTree(const std::filesystem::path &root);
// The same for `name` in the folder open as `parent`.
bool removeTreeAt(int parent, const char *name);
