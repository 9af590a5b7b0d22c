#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

struct archive;

// Builds archives for the tests and benchmarks with libarchive's writer, entry by entry. Names
// and link targets are written exactly as given, so a hostile archive is as easy to build as a
// good one. A failed libarchive call throws std::runtime_error with the writer's message.
class ArchiveWriter {
  public:
    enum class Kind { TarGz, Tar, Zip };
    static constexpr qint64 kOldTime = 1000000000; // 2001-09-09

    explicit ArchiveWriter(const QString &path, Kind kind = Kind::TarGz, int gzipLevel = 6);
    ~ArchiveWriter(); // finishes the archive unless close() did
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;

    void addDirectory(const QByteArray &path, int permissions = 0755, qint64 mtime = kOldTime);
    void addFile(const QByteArray &path, const QByteArray &data, int permissions = 0644,
                 qint64 mtime = kOldTime);
    void addSymlink(const QByteArray &path, const QByteArray &target);
    void addHardlink(const QByteArray &path, const QByteArray &target);

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
        QByteArray hardlink;
    };
    void writeHeader(const QByteArray &path, const Header &header);
    void check(int result) const;

    archive *archive_ = nullptr;
};
