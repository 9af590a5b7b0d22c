#include "archive/EntryPaths.h"

#include "platform/Log.h"

#include <QFile>
#include <algorithm>
#include <archive_entry.h>
#include <cstdio>

namespace {

constexpr size_t kPathBufferSize = 4096;

using PathBuffer = char[kPathBufferSize];

bool prefixed(const QByteArray &install, const char *name, PathBuffer &buffer) {
    const int length = std::snprintf(buffer, sizeof buffer, "%s/%s", install.constData(), name);
    return length >= 0 && size_t(length) < sizeof buffer;
}

QString abbreviated(const char *name) {
    constexpr qsizetype shown = 80;
    const QString text = QFile::decodeName(name);
    return text.size() > shown ? text.left(shown) + QStringLiteral("...") : text;
}

// "", "." or "./" and the like: the bundle's folder itself.
bool namesBundleFolder(const char *name) {
    const QByteArrayList parts = QByteArray(name).split('/');
    return std::all_of(parts.begin(), parts.end(),
                       [](const QByteArray &part) { return part.isEmpty() || part == "."; });
}

} // namespace

// Only a folder may stand for the bundle's folder itself: a file or link there would replace the
// whole bundle.
bool rewriteEntryPaths(archive_entry *entry, const QByteArray &install) {
    const char *name = archive_entry_pathname(entry);
    if (archive_entry_filetype(entry) != AE_IFDIR && namesBundleFolder(name ? name : "")) {
        printErrorLine(
            QStringLiteral("Not a folder, cannot stand for the bundle, entry skipped: %1")
                .arg(abbreviated(name)));
        return false;
    }
    PathBuffer path;
    if (!prefixed(install, name ? name : "", path)) {
        printErrorLine(
            QStringLiteral("Path name too long, entry skipped: %1").arg(abbreviated(name)));
        return false;
    }
    if (const char *target = archive_entry_hardlink(entry)) {
        PathBuffer linkTarget;
        if (!prefixed(install, target, linkTarget)) {
            printErrorLine(QStringLiteral("Hard-link target too long, entry skipped: %1")
                               .arg(abbreviated(name)));
            return false;
        }
        archive_entry_set_hardlink(entry, linkTarget);
    }
    archive_entry_set_pathname(entry, path);
    return true;
}
