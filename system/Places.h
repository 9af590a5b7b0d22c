#pragma once

#include <QString>

// `path` with a leading $XDG_DATA_HOME, $XDG_CACHE_HOME or $HOME replaced by that folder of the
// user running the installer (the XDG rules: unset or relative, ~/.local/share and ~/.cache);
// any other path as it is.
QString resolvePlace(const QString &path);

// Makes the folders the bundle and the archive go into and checks, with a file really created
// and removed, that the bundle's folder takes new files. Empty when it does; else why not.
QString prepareInstallFolders(const QString &installPath, const QString &archivePath);
