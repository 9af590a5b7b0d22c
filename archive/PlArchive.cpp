#include "archive/PlArchive.h"

#include "archive/ArchiveInput.h"
#include "archive/EntryQueue.h"
#include "archive/Extraction.h"
#include "archive/ReadEntries.h"
#include "archive/StagedBundle.h"
#include "archive/TarReader.h"
#include "archive/UniqueFd.h"
#include "archive/WriteEntries.h"
#include "platform/Deployment.h"
#include "platform/Log.h"

#include <QFile>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>

namespace {

// Inflated data on its way to the disk writer: a few MiB let either side run ahead of the other
// for a while, and keep memory well bounded.
constexpr size_t kQueueCapacity = 4 << 20;

// Times, ACLs and file flags as archived; modes as for any file the user makes, under the umask
// and without setuid, setgid or sticky bits, so that no other account may change or take over the
// bundle; owners are not restored. The archive comes from the network, so no entry may climb out
// with ".." or write through a symbolic link.
constexpr int kExtractOptions = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_ACL |
                                ARCHIVE_EXTRACT_FFLAGS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                ARCHIVE_EXTRACT_SECURE_SYMLINKS;

// Never through a link; a file that cannot be opened fails without a word.
UniqueFd openArchiveFile(const QString &path) {
    return UniqueFd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
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

// Inflating and writing to disk run side by side, each on a thread of its own, which the
// ThreadSanitizer can follow whatever the caller's thread did before (it loses track of a thread
// that started a process as QProcess does, with vfork). Whichever side ends, the other is not
// left waiting on the queue, and both are done with libarchive when this returns.
Extraction extractEntries(TarReader &reader, archive *writer, StagedBundle &bundle) {
    EntryQueue queue(kQueueCapacity);
    Extraction read = Extraction::Fatal;
    Extraction written = Extraction::Fatal;
    std::thread reading([&] {
        read = readEntries(reader, bundle.path(), queue);
        queue.finish(read != Extraction::Fatal);
    });
    std::thread writing([&] {
        written = writeEntries(queue, writer, bundle.written());
        queue.stop();
    });
    reading.join();
    writing.join();
    return std::max(read, written);
}

// Read from the input's start, whatever was read of it before; an input that is not an archive
// gets the reader's message.
Extraction extractArchive(ArchiveInput &input, StagedBundle &bundle) {
    TarReader reader(input);
    const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_disk_new(),
                                                                         archive_write_free);
    archive_write_disk_set_options(writer.get(), kExtractOptions);
    archive_write_disk_set_standard_lookup(writer.get());
    if (!reader.open())
        return Extraction::Fatal;
    const Extraction extraction = extractEntries(reader, writer.get(), bundle);
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

void PlArchive::untar(int archiveFd) {
    FileInput input(archiveFd);
    run(input, {}, OnFatal::EndProcess);
}

int PlArchive::extract(int archiveFd) {
    FileInput input(archiveFd);
    return extract(input, {});
}

int PlArchive::extract(ArchiveInput &input, const Approval &approve) {
    return run(input, approve, OnFatal::Return);
}

int PlArchive::extract() {
    const UniqueFd file = openArchiveFile(archivePath_);
    return file ? extract(file.get()) : 1;
}

int PlArchive::run(ArchiveInput &input, const Approval &approve, OnFatal onFatal) {
    Extraction extraction = Extraction::Fatal;
    {
        StagedBundle staged(resolvedInstallPath(installPath_));
        if (!staged.path().isEmpty())
            extraction = extractArchive(input, staged);
        if (extraction == Extraction::Finished && (!approve || approve()) && staged.putInPlace()) {
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
    const UniqueFd archiveFile = openArchiveFile(archivePath_);
    if (!archiveFile)
        terminateProcess(1);
    FileInput input(archiveFile.get());
    TarReader reader(input);
    if (!reader.open())
        terminateProcess(1);
    int count = 0;
    archive_entry *entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
        printLine(QFile::decodeName(archive_entry_pathname(entry)));
        ++count;
    }
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
