#include "archive/PlArchive.h"

#include "platform/Deployment.h"
#include "platform/Log.h"

#include <QFile>
#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <cstring>
#include <err.h>
#include <filesystem>
#include <utility>

namespace {

constexpr size_t kBlockSize = 10240;
constexpr size_t kPathBufferSize = 4096;

// Permissions, times, ACLs and file flags as archived; owners are not restored. The archive comes
// from the network, so no entry may climb out with ".." or write through a symbolic link.
constexpr int kExtractOptions = ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_ACL |
                                ARCHIVE_EXTRACT_FFLAGS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                ARCHIVE_EXTRACT_SECURE_SYMLINKS;

using PathBuffer = char[kPathBufferSize];

void printArchiveError(archive *a) {
    if (const char *text = archive_error_string(a))
        printErrorLine(QString::fromLocal8Bit(text));
    else if (const int code = archive_errno(a))
        printErrorLine(QString::fromLocal8Bit(std::strerror(code)));
    else
        printErrorLine(QStringLiteral("Archive operation failed without a description"));
}

// A fatal result ends the whole installer; the files written so far stay on disk.
void reportError(archive *a, int result) {
    printArchiveError(a);
    if (result < ARCHIVE_WARN)
        terminateProcess(1);
}

archive *newTarGzReader() {
    archive *reader = archive_read_new();
    archive_read_support_format_tar(reader);
    archive_read_support_filter_gzip(reader);
    return reader;
}

// A file that cannot be read ends the process without a word. libarchive recognises the format
// while opening, so a readable file of another kind fails here as well; that one gets the
// reader's message.
void openOrExit(archive *reader, const QString &path) {
    if (archive_read_open_filename(reader, QFile::encodeName(path).constData(), kBlockSize) ==
        ARCHIVE_OK)
        return;
    if (QFile(path).open(QIODevice::ReadOnly))
        printArchiveError(reader);
    terminateProcess(1);
}

// The disk writer refuses to go through any symbolic link on an entry's way, including links
// above the bundle (such as /tmp on macOS), so the bundle's parent is given by its real path.
QByteArray resolvedInstallPath(const QString &installPath) {
    namespace fs = std::filesystem;
    fs::path install = fs::path(QFile::encodeName(installPath).toStdString()).lexically_normal();
    if (!install.has_filename())
        install = install.parent_path();
    std::error_code error;
    const fs::path parent = fs::weakly_canonical(install.parent_path(), error);
    return QByteArray::fromStdString(error ? install.string()
                                           : (parent / install.filename()).string());
}

bool prefixed(const QByteArray &install, const char *name, PathBuffer &buffer) {
    const int length = std::snprintf(buffer, sizeof buffer, "%s/%s", install.constData(), name);
    return length >= 0 && size_t(length) < sizeof buffer;
}

QString abbreviated(const char *name) {
    constexpr qsizetype shown = 80;
    const QString text = QFile::decodeName(name);
    return text.size() > shown ? text.left(shown) + QStringLiteral("...") : text;
}

// Puts the bundle's folder in front of the entry's path and of its hard-link target, which names
// another entry of the archive; symbolic-link targets stay as they are.
bool rewriteEntryPaths(archive_entry *entry, const QByteArray &install) {
    const char *name = archive_entry_pathname(entry);
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

struct CopyResult {
    int result = ARCHIVE_OK;
    archive *failed = nullptr; // the side whose error text explains the result
};

// Streams the entry's data as the reader delivers it, each block at its offset, so no entry is
// ever held in memory whole.
CopyResult copyData(archive *reader, archive *writer) {
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int read = archive_read_data_block(reader, &block, &size, &offset);
        if (read == ARCHIVE_EOF)
            return {};
        if (read != ARCHIVE_OK)
            return {read, reader};
        const la_ssize_t written = archive_write_data_block(writer, block, size, offset);
        if (written < ARCHIVE_OK) {
            warn("archive_write_data_block()");
            return {int(written), writer};
        }
    }
}

} // namespace

PlArchive::PlArchive()
    : PlArchive(compiledDeployment().archivePath, compiledDeployment().installPath) {}

PlArchive::PlArchive(QString archivePath, QString installPath)
    : archivePath_(std::move(archivePath)), installPath_(std::move(installPath)) {}

void PlArchive::untar() {
    const QByteArray install = resolvedInstallPath(installPath_);
    archive *reader = newTarGzReader();
    archive *writer = archive_write_disk_new();
    archive_write_disk_set_options(writer, kExtractOptions);
    archive_write_disk_set_standard_lookup(writer);
    openOrExit(reader, archivePath_);

    archive_entry *entry = nullptr;
    for (;;) {
        int result = archive_read_next_header(reader, &entry);
        if (result == ARCHIVE_EOF)
            break;
        if (result < ARCHIVE_OK)
            reportError(reader, result);
        // A damaged header leaves an empty entry behind; the reader resumes at the next one.
        if (result == ARCHIVE_RETRY || !rewriteEntryPaths(entry, install))
            continue;
        result = archive_write_header(writer, entry);
        if (result < ARCHIVE_OK) {
            printArchiveError(writer);
        } else if (archive_entry_size(entry) > 0) {
            const CopyResult copy = copyData(reader, writer);
            if (copy.result < ARCHIVE_OK)
                reportError(copy.failed, copy.result);
        }
        result = archive_write_finish_entry(writer);
        if (result < ARCHIVE_OK)
            reportError(writer, result);
    }

    archive_read_close(reader);
    archive_read_free(reader);
    // Closing applies the folders' own permissions and times, deferred until their contents
    // were written.
    if (archive_write_close(writer) < ARCHIVE_OK)
        printArchiveError(writer);
    archive_write_free(writer);
    nsLog(QStringLiteral("Decompress finished."));
}

int PlArchive::listArchive() {
    archive *reader = newTarGzReader();
    openOrExit(reader, archivePath_);
    int count = 0;
    archive_entry *entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        printLine(QFile::decodeName(archive_entry_pathname(entry)));
        ++count;
    }
    archive_read_free(reader);
    return count;
}

PlArchive::CompleteCallback PlArchive::completeCallback() const {
    std::scoped_lock lock(callbackMutex_);
    return completeCallback_;
}

void PlArchive::setCompleteCallback(CompleteCallback callback) {
    std::scoped_lock lock(callbackMutex_);
    completeCallback_.swap(callback); // the old closure is released outside the lock
}
