#pragma once

#include <QString>

// Puts the download at `download`, open as `fd`, at `destination`, where the archive stays once
// it is extracted. It never follows a link there nor writes into a folder another account
// controls: it is renamed, or, across file systems, copied into a new file of our own beside
// `destination` that is then renamed over it. False, with the reason on standard error, when it
// cannot be put there; the extraction goes on from `fd` all the same.
bool placeArchive(const QString &download, int fd, const QString &destination);
