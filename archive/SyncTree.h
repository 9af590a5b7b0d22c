#pragma once

#include <QByteArray>

// Putting a tree on disk before anything depends on it: data that only sits in memory when the
// power goes comes back as empty files, while renames made after it have already reached the
// journal.

// Starts writing the file at `path` to disk, without waiting, as soon as it is complete: the
// pass that waits for it later then finds little left to do.
void startWriteback(const char *path);

// Flushes a file or folder, and what it holds, all the way to the disk.
bool flushToDisk(int fd);

// Flushes every file and folder of the tree at `root`, never through a symbolic link, folders
// after their contents. False, with the reason printed, when one could not be flushed.
bool syncTree(const QByteArray &root);
