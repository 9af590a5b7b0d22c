#include "archive/ReadEntries.h"

#include "archive/EntryPaths.h"
#include "archive/EntryQueue.h"
#include "archive/TarReader.h"
#include "platform/Log.h"

#include <algorithm>
#include <archive.h>

namespace {

// The entry's data block by block as the reader delivers it, so no entry is ever held in memory
// whole; each block is copied, since the reader's own is only valid until its next call, into a
// buffer the writer side has handed back where there is one.
Extraction queueData(archive *reader, EntryQueue &queue) {
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int read = archive_read_data_block(reader, &block, &size, &offset);
        if (read == ARCHIVE_EOF)
            return Extraction::Finished;
        if (read != ARCHIVE_OK)
            return reportFatal(reader, read) ? Extraction::Fatal : Extraction::Failed;
        const char *bytes = static_cast<const char *>(block);
        std::vector<char> data = queue.spareBuffer();
        data.assign(bytes, bytes + size);
        if (!queue.push({{}, std::move(data), offset}))
            return Extraction::Fatal;
    }
}

} // namespace

Extraction readEntries(TarReader &tar, const QByteArray &bundle, EntryQueue &queue) {
    archive *reader = tar.get();
    Extraction outcome = Extraction::Finished;
    archive_entry *entry = nullptr;
    // Skipping what is left of an entry inflates it; a writer that has stopped wants none of it.
    while (outcome != Extraction::Fatal && !queue.stopped()) {
        const int result = archive_read_next_header(reader, &entry);
        if (result == ARCHIVE_EOF)
            return tar.finish() ? outcome : Extraction::Fatal;
        if (result < ARCHIVE_OK && reportFatal(reader, result))
            return Extraction::Fatal;
        // A damaged header leaves an empty entry behind; the reader resumes at the next one.
        if (result == ARCHIVE_RETRY || !rewriteEntryPaths(entry, bundle)) {
            outcome = Extraction::Failed;
            continue;
        }
        EntryPtr header(archive_entry_clone(entry));
        if (!header) {
            printErrorLine(QStringLiteral("Out of memory"));
            return Extraction::Fatal;
        }
        if (!queue.push({std::move(header), {}, 0}))
            return Extraction::Fatal;
        if (archive_entry_size(entry) > 0)
            outcome = std::max(outcome, queueData(reader, queue));
    }
    return Extraction::Fatal;
}
