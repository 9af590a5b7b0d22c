#pragma once

#include <QString>

// The benchmark's archive: an application bundle of 400 MiB in about 4,000 files, half
// incompressible and half text, gzip level 6, the same bytes for the same seed. Generated into
// `cacheDir` on first use and reused afterwards; returns its path.
QString appLikeArchive(const QString &cacheDir);
