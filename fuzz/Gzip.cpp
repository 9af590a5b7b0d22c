#include "fuzz/Gzip.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

la_ssize_t appendTo(archive *, void *buffer, const void *block, size_t size) {
    static_cast<QByteArray *>(buffer)->append(static_cast<const char *>(block), qsizetype(size));
    return la_ssize_t(size);
}

} // namespace

std::optional<QByteArray> gunzip(const QByteArray &stream, qsizetype limit) {
    if (!stream.startsWith("\x1f\x8b"))
        return std::nullopt;
    const Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_format_raw(reader.get());
    archive_entry *entry = nullptr;
    if (archive_read_open_memory(reader.get(), stream.constData(), size_t(stream.size())) !=
            ARCHIVE_OK ||
        archive_read_next_header(reader.get(), &entry) != ARCHIVE_OK)
        return std::nullopt;
    QByteArray data;
    char block[16384];
    for (;;) {
        const la_ssize_t read = archive_read_data(reader.get(), block, sizeof block);
        if (read == 0)
            return data;
        if (read < 0 || data.size() + read > limit)
            return std::nullopt;
        data.append(block, qsizetype(read));
    }
}

QByteArray gzip(const QByteArray &data) {
    QByteArray stream;
    const Writer writer(archive_write_new(), archive_write_free);
    archive_write_add_filter_gzip(writer.get());
    archive_write_set_format_raw(writer.get());
    archive_write_set_bytes_per_block(writer.get(), 0); // no padding after the stream
    archive_write_open2(writer.get(), &stream, nullptr, appendTo, nullptr, nullptr);
    const Entry entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_size(entry.get(), data.size());
    archive_write_header(writer.get(), entry.get());
    archive_write_data(writer.get(), data.constData(), size_t(data.size()));
    archive_write_close(writer.get());
    return stream;
}
