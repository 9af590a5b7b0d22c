#include "ArchiveWriter.h"

#include <QFile>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <stdexcept>

ArchiveWriter::ArchiveWriter(const QString &path) : archive_(archive_write_new()) {
    check(archive_write_set_format_pax_restricted(archive_));
    check(archive_write_add_filter_gzip(archive_));
    check(archive_write_open_filename(archive_, QFile::encodeName(path).constData()));
}

ArchiveWriter::~ArchiveWriter() {
    if (archive_)
        archive_write_free(archive_);
}

void ArchiveWriter::addDirectory(const QByteArray &path, int permissions, qint64 mtime) {
    writeHeader(path, {.type = AE_IFDIR, .permissions = permissions, .mtime = mtime});
}

void ArchiveWriter::addSymlink(const QByteArray &path, const QByteArray &target) {
    writeHeader(path, {.type = AE_IFLNK, .permissions = 0755, .symlink = target});
}

void ArchiveWriter::beginFile(const QByteArray &path, qint64 size, int permissions, qint64 mtime) {
    writeHeader(path, {.type = AE_IFREG, .permissions = permissions, .size = size, .mtime = mtime});
}

void ArchiveWriter::writeData(const char *data, size_t size) {
    if (size > 0 && archive_write_data(archive_, data, size) < 0)
        check(ARCHIVE_FATAL);
}

void ArchiveWriter::close() {
    check(archive_write_close(archive_));
    archive_write_free(archive_);
    archive_ = nullptr;
}

void ArchiveWriter::writeHeader(const QByteArray &path, const Header &header) {
    const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                              archive_entry_free);
    archive_entry_set_pathname(entry.get(), path.constData());
    archive_entry_set_filetype(entry.get(), header.type);
    archive_entry_set_perm(entry.get(), header.permissions);
    archive_entry_set_size(entry.get(), header.size);
    archive_entry_set_mtime(entry.get(), header.mtime, 0);
    if (!header.symlink.isNull())
        archive_entry_set_symlink(entry.get(), header.symlink.constData());
    check(archive_write_header(archive_, entry.get()));
}

void ArchiveWriter::check(int result) const {
    if (result < ARCHIVE_OK) {
        const char *text = archive_error_string(archive_);
        throw std::runtime_error(text ? text : "libarchive writer failed");
    }
}
