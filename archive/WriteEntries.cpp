#include "archive/WriteEntries.h"

#include "archive/EntryQueue.h"
#include "archive/FlushPool.h"
#include "archive/SpreadFolders.h"
#include "platform/Log.h"

#include <QFile>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <err.h>
#include <sys/statvfs.h>

namespace {

// What the disk keeps free whatever the archive holds, for the user's other programs: 64 MiB, or
// a thirty-second of a smaller disk.
constexpr unsigned long long kReserve = 64ULL << 20;

// The archive is checked only once it is whole, and a small download may unpack to far more than
// the disk holds: a file that would leave the disk all but full is not written at all. Its file,
// just created, names the disk; statvfs alone, as QStorageInfo would also read the mount table
// for every file.
bool roomFor(archive_entry *entry) {
    struct statvfs disk {};
    const auto needed = static_cast<unsigned long long>(archive_entry_size(entry));
    if (needed == 0 || ::statvfs(archive_entry_pathname(entry), &disk) != 0)
        return true;
    const auto block = static_cast<unsigned long long>(disk.f_frsize);
    const unsigned long long free = disk.f_bavail * block;
    const unsigned long long reserve = std::min(kReserve, disk.f_blocks * block / 32);
    if (free >= reserve && free - reserve >= needed)
        return true;
    printErrorLine(QStringLiteral("Not enough room on the disk to unpack %1: %2 bytes, %3 free")
                       .arg(QFile::decodeName(archive_entry_pathname(entry)))
                       .arg(needed)
                       .arg(free));
    return false;
}

// A file goes to disk as soon as it is closed, its contents, mode and times final, while the next
// ones are written; a hard link's file goes again, with its new link count.
Extraction finishEntry(archive *writer, archive_entry *entry, FlushPool &written) {
    const int result = archive_write_finish_entry(writer);
    if (result < ARCHIVE_OK)
        return reportFatal(writer, result) ? Extraction::Fatal : Extraction::Failed;
    if (archive_entry_filetype(entry) == AE_IFREG)
        written.flushFile(archive_entry_pathname(entry));
    return Extraction::Finished;
}

Extraction writeBlock(archive *writer, const EntryPiece &block) {
    const la_ssize_t written =
        archive_write_data_block(writer, block.data.data(), block.data.size(), block.offset);
    if (written >= ARCHIVE_OK)
        return Extraction::Finished;
    warn("archive_write_data_block()");
    return reportFatal(writer, int(written)) ? Extraction::Fatal : Extraction::Failed;
}

} // namespace

// An entry stays open until the next one's header, or the end, arrives.
Extraction writeEntries(EntryQueue &queue, archive *writer, FlushPool &written) {
    Extraction outcome = Extraction::Finished;
    EntryPtr open;
    bool writing = false; // the open entry's data goes to disk
    while (outcome != Extraction::Fatal) {
        std::optional<EntryPiece> piece = queue.pop();
        if (open && (!piece || piece->header))
            outcome = std::max(outcome, finishEntry(writer, open.get(), written));
        if (!piece || outcome == Extraction::Fatal)
            break;
        if (piece->header) {
            open = std::move(piece->header);
            writing = archive_write_header(writer, open.get()) >= ARCHIVE_OK;
            if (!writing) {
                printArchiveError(writer);
                outcome = Extraction::Failed;
            } else if (!roomFor(open.get())) {
                outcome = Extraction::Fatal;
            } else if (archive_entry_filetype(open.get()) == AE_IFDIR) {
                spreadSubfolders(archive_entry_pathname(open.get()));
            }
        } else if (writing) {
            const Extraction block = writeBlock(writer, *piece);
            writing = block == Extraction::Finished;
            outcome = std::max(outcome, block);
        }
        queue.recycle(std::move(piece->data));
    }
    return outcome;
}
