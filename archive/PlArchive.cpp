#include "archive/PlArchive.h"

#include "archive/StagedBundle.h"
#include "platform/Deployment.h"
#include "platform/Log.h"

#include <QFile>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <cstring>
#include <err.h>
#include <filesystem>
#include <memory>
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

// Prints the failure; true when it is fatal, which ends the extraction where it is.
bool reportFatal(archive *a, int result) {
    printArchiveError(a);
    return result < ARCHIVE_WARN;
}

archive *newTarGzReader() {
    archive *reader = archive_read_new();
    archive_read_support_format_tar(reader);
    archive_read_support_filter_gzip(reader);
    return reader;
}

// A file that cannot be read fails without a word. libarchive recognises the format while
// opening, so a readable file of another kind fails here as well; that one gets the reader's
// message.
bool openArchive(archive *reader, const QString &path) {
    if (archive_read_open_filename(reader, QFile::encodeName(path).constData(), kBlockSize) ==
        ARCHIVE_OK)
        return true;
    if (QFile(path).open(QIODevice::ReadOnly))
        printArchiveError(reader);
    return false;
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

// "", "." or "./" and the like: the bundle's folder itself.
bool namesBundleFolder(const char *name) {
    const QByteArrayList parts = QByteArray(name).split('/');
    return std::all_of(parts.begin(), parts.end(),
                       [](const QByteArray &part) { return part.isEmpty() || part == "."; });
}

// Puts the bundle's folder in front of the entry's path and of its hard-link target, which names
// another entry of the archive; symbolic-link targets stay as they are. Only a folder may stand
// for the bundle's folder itself: a file or link there would replace the whole bundle.
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

enum class Extraction { Finished, Failed, Fatal };

// Every entry in turn, into `bundle`. An entry that is not written as archived (refused, not
// creatable, its data lost to a full disk) does not stop the entries after it, but the extraction
// has failed all the same.
Extraction extractEntries(archive *reader, archive *writer, const QByteArray &bundle) {
    archive_entry *entry = nullptr;
    bool failed = false;
    for (;;) {
        int result = archive_read_next_header(reader, &entry);
        if (result == ARCHIVE_EOF)
            return failed ? Extraction::Failed : Extraction::Finished;
        if (result < ARCHIVE_OK && reportFatal(reader, result))
            return Extraction::Fatal;
        // A damaged header leaves an empty entry behind; the reader resumes at the next one.
        if (result == ARCHIVE_RETRY || !rewriteEntryPaths(entry, bundle)) {
            failed = true;
            continue;
        }
        result = archive_write_header(writer, entry);
        if (result < ARCHIVE_OK) {
            printArchiveError(writer);
            failed = true;
        } else if (archive_entry_size(entry) > 0) {
            const CopyResult copy = copyData(reader, writer);
            if (copy.result < ARCHIVE_OK && reportFatal(copy.failed, copy.result))
                return Extraction::Fatal;
            failed = failed || copy.result < ARCHIVE_OK;
        }
        result = archive_write_finish_entry(writer);
        if (result < ARCHIVE_OK && reportFatal(writer, result))
            return Extraction::Fatal;
        failed = failed || result < ARCHIVE_OK;
    }
}

Extraction extractArchive(const QString &archivePath, const QByteArray &bundle) {
    const std::unique_ptr<archive, decltype(&archive_read_free)> reader(newTarGzReader(),
                                                                        archive_read_free);
    const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_disk_new(),
                                                                         archive_write_free);
    archive_write_disk_set_options(writer.get(), kExtractOptions);
    archive_write_disk_set_standard_lookup(writer.get());
    if (!openArchive(reader.get(), archivePath))
        return Extraction::Fatal;
    const Extraction extraction = extractEntries(reader.get(), writer.get(), bundle);
    if (extraction == Extraction::Fatal)
        return extraction;
    archive_read_close(reader.get());
    // Closing applies the folders' own permissions and times, deferred until their contents
    // were written.
    if (archive_write_close(writer.get()) < ARCHIVE_OK) {
        printArchiveError(writer.get());
        return Extraction::Failed;
    }
    return extraction;
}

} // namespace

PlArchive::PlArchive()
    : PlArchive(compiledDeployment().archivePath, compiledDeployment().installPath) {}

PlArchive::PlArchive(QString archivePath, QString installPath)
    : archivePath_(std::move(archivePath)), installPath_(std::move(installPath)) {}

void PlArchive::untar() {
    run(OnFatal::EndProcess);
}

int PlArchive::extract() {
    return run(OnFatal::Return);
}

int PlArchive::run(OnFatal onFatal) {
    Extraction extraction = Extraction::Fatal;
    {
        StagedBundle staged(resolvedInstallPath(installPath_));
        if (!staged.path().isEmpty())
            extraction = extractArchive(archivePath_, staged.path());
        if (extraction == Extraction::Finished && staged.putInPlace()) {
            nsLog(QStringLiteral("Decompress finished."));
            return 0;
        }
    } // the staging folder goes; the earlier bundle stays as it was
    if (extraction == Extraction::Failed)
        printErrorLine(QStringLiteral("Error exit delayed from previous errors."));
    if (onFatal == OnFatal::EndProcess)
        terminateProcess(1);
    return 1;
}

int PlArchive::listArchive() {
    archive *reader = newTarGzReader();
    if (!openArchive(reader, archivePath_))
        terminateProcess(1);
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
