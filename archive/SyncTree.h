#pragma once

#include <QByteArray>

class FlushPool;

// Putting a tree on disk before anything depends on it: data that only sits in memory when the
// power goes comes back as empty files, while renames made after it have already reached the
// journal.

// Flushes a file or folder, and what it holds, all the way to the disk.
bool flushToDisk(int fd);

// Flushes every file and folder of the tree at `root` that `flushed` (finished) did not, never
// through a symbolic link, folders after their contents. False, with the reason printed, when one
// could not be flushed.
bool syncTree(const QByteArray &root, const FlushPool &flushed);
