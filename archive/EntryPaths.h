#pragma once

#include <QByteArray>

struct archive_entry;

// Puts the bundle's folder `install` in front of the entry's path and of its hard-link target,
// which names another entry of the archive; symbolic-link targets stay as they are. False, with
// the reason printed, for an entry to be skipped: one that would replace the bundle's folder
// itself, or whose paths grow too long.
bool rewriteEntryPaths(archive_entry *entry, const QByteArray &install);
