#include "archive/WriteEntries.h"

#include "archive/EntryQueue.h"

#include <algorithm>
#include <archive.h>
#include <err.h>

namespace {

Extraction finishEntry(archive *writer) {
    const int result = archive_write_finish_entry(writer);
    if (result >= ARCHIVE_OK)
        return Extraction::Finished;
    return reportFatal(writer, result) ? Extraction::Fatal : Extraction::Failed;
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
Extraction writeEntries(EntryQueue &queue, archive *writer) {
    Extraction outcome = Extraction::Finished;
    bool open = false;
    bool writing = false; // the open entry's data goes to disk
    while (outcome != Extraction::Fatal) {
        std::optional<EntryPiece> piece = queue.pop();
        if (open && (!piece || piece->header))
            outcome = std::max(outcome, finishEntry(writer));
        if (!piece || outcome == Extraction::Fatal)
            break;
        if (piece->header) {
            open = true;
            writing = archive_write_header(writer, piece->header.get()) >= ARCHIVE_OK;
            if (!writing) {
                printArchiveError(writer);
                outcome = Extraction::Failed;
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
