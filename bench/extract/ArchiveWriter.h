#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

struct archive;

// Builds a gzip-compressed tar archive with libarchive's writer, entry by entry. A failed
// libarchive call throws std::runtime_error with the writer's message.
class ArchiveWriter {
  public:
    static constexpr qint64 kOldTime = 1000000000; // 2001-09-09

    explicit ArchiveWriter(const QString &path);
    ~ArchiveWriter(); // finishes the archive unless close() did
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;

    void addDirectory(const QByteArray &path, int permissions = 0755, qint64 mtime = kOldTime);
    void addSymlink(const QByteArray &path, const QByteArray &target);

    // A file whose data follows in writeData() calls adding up to `size` bytes.
    void beginFile(const QByteArray &path, qint64 size, int permissions = 0644,
                   qint64 mtime = kOldTime);
    void writeData(const char *data, size_t size);

    void close();

  private:
    struct Header {
        mode_t type;
        int permissions = 0644;
        qint64 size = 0;
        qint64 mtime = kOldTime;
        QByteArray symlink;
    };
    void writeHeader(const QByteArray &path, const Header &header);
    void check(int result) const;

    archive *archive_ = nullptr;
};
