#pragma once

#include <filesystem>

// Removes `root` and everything below it, also folders an archive left without permissions for
// their owner (they are opened up first); symbolic links are removed, never followed. False when
// something could not be removed.
bool removeTree(const std::filesystem::path &root);
