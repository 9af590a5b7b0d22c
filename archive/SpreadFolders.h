#pragma once

// ext4 puts a new folder in its parent's group of the disk, and a new file in its folder's. Without
// a journal it then passes over every inode of that group deleted in the last minutes before it
// takes a free one: a bundle of thousands of files unpacked where another was just removed costs
// time quadratic in its files, all in one group. A folder marked as the top of a tree has its
// subfolders spread over the groups instead, each with a share of the files. Only a hint to the
// allocator, which file systems without it refuse.

// Marks the folder at `path` while its subfolders are made.
void spreadSubfolders(const char *path);
// Unmarks the open `folder` once they are: the installed bundle's folders carry no mark of it.
void stopSpreading(int folder);
