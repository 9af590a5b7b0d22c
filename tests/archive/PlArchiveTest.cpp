#include "archive/PlArchive.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

enum Type { Dir, File, Link, Hard };
constexpr mode_t kFileType[] = {S_IFDIR, S_IFREG, S_IFLNK, S_IFREG};

struct Entry {
    QByteArray path;
    Type type = File;
    QByteArray data = "evil\n"; // a file's contents, a link's target
    int perm = 0644;
    qint64 mtime = 1000000000;
};

// Names and link targets go into the archive exactly as given, hostile ones included.
void writeTarGz(const QString &path, const QList<Entry> &entries) {
    archive *writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_gzip(writer);
    archive_write_open_filename(writer, QFile::encodeName(path).constData());
    for (const Entry &e : entries) {
        archive_entry *header = archive_entry_new();
        archive_entry_set_pathname(header, e.path.constData());
        archive_entry_set_mode(header, kFileType[e.type] | e.perm);
        archive_entry_set_mtime(header, e.mtime, 0);
        archive_entry_set_size(header, e.type == File ? e.data.size() : 0);
        archive_entry_set_symlink(header, e.type == Link ? e.data.constData() : nullptr);
        archive_entry_set_hardlink(header, e.type == Hard ? e.data.constData() : nullptr);
        EXPECT_EQ(archive_write_header(writer, header), ARCHIVE_OK) << e.path.constData();
        archive_write_data(writer, e.data.constData(), archive_entry_size(header));
        archive_entry_free(header);
    }
    EXPECT_EQ(archive_write_free(writer), ARCHIVE_OK); // closes it
}

std::string readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "(unreadable)";
}

struct stat lstatOf(const QString &path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

// Each entry below `install` as archived: type, mode, time, contents and link target, and a hard
// link the same file as its target.
void expectExtracted(const QString &install, const QList<Entry> &entries) {
    for (const Entry &e : entries) {
        SCOPED_TRACE(e.path.constData());
        const QString file = install + '/' + e.path;
        const struct stat info = lstatOf(file);
        std::error_code notLink;
        EXPECT_EQ(info.st_mode, kFileType[e.type] | e.perm);
        EXPECT_EQ(info.st_mtim.tv_sec, e.mtime);
        EXPECT_EQ(std::filesystem::read_symlink(file.toStdString(), notLink).string(),
                  e.type == Link ? e.data.toStdString() : "");
        EXPECT_EQ(info.st_ino, lstatOf(install + '/' + (e.type == Hard ? e.data : e.path)).st_ino);
        EXPECT_TRUE(e.type != File || readAll(file) == e.data.toStdString());
    }
}

class PlArchiveTest : public ::testing::Test {
  protected:
    QString path(const char *relative) const { return dir_.filePath(relative); }
    QString archive() const { return path("Plimbo.tar.gz"); }
    QString bundle() const { return path("Applications/Plimbo.app"); }
    int extract(const QString &install) const { return PlArchive(archive(), install).extract(); }

    // Everything below the temporary folder but the bundle: type, mode, link count and contents.
    std::string surroundings() const {
        QStringList lines;
        for (const auto &entry :
             std::filesystem::recursive_directory_iterator(dir_.path().toStdString())) {
            const QString file = QString::fromStdString(entry.path());
            const struct stat info = lstatOf(file);
            if (file != bundle() && !file.startsWith(bundle() + '/'))
                lines << QString("%1 %2 %3 ").arg(file).arg(info.st_mode, 0, 8).arg(info.st_nlink) +
                             QString::fromStdString(readAll(file));
        }
        lines.sort();
        return lines.join(u'\n').toStdString();
    }

    QTemporaryDir dir_;
};

// Hostile entries among good ones, whose data is "ok\n"; the test adds a good one at the end. "@"
// stands for the absolute path of a folder beside the bundle's, with a file "target" in it.
struct Hostile {
    const char *name;
    QList<Entry> entries;
    QByteArray linkedOut = {}; // a path in the bundle linked to that folder beforehand
};

void PrintTo(const Hostile &hostile, std::ostream *out) {
    *out << hostile.name;
}

const Entry kGood{"good.txt", File, "ok\n"};

const Hostile kHostile[] = {
    {"LeadingDotDot", {kGood, {"../evil"}, {"../../outside/target"}}},
    {"InnerDotDot", {kGood, {"Contents/../../evil"}, {"a/b/../../../../outside/new/", Dir}}},
    {"AbsolutePathLandsInside", {{"@/target", File, "ok\n"}}},
    {"WriteThroughSymlinkEntry", {kGood, {"out", Link, "@"}, {"out/evil"}, {"out/target"}}},
    {"RelativeSymlinkClimbsOut", {kGood, {"up", Link, "../../outside"}, {"up/target"}}},
    {"SymlinkAlreadyInBundle", {kGood, {"Contents/evil"}, {"Contents/target"}}, "Contents"},
    {"HardLinkAboveBundle", {kGood, {"stolen", Hard, "../../outside/target"}}},
    {"HardLinkThroughSymlink", {kGood, {"out", Link, "@"}, {"stolen", Hard, "out/target"}}},
    {"HardLinkAbsoluteTarget", {kGood, {"stolen", Hard, "@/target"}}},
    // Nothing before them: only an empty bundle could be replaced.
    {"SymlinkStandsForBundle", {{"./", Link, "@"}}},
    {"FileStandsForBundle", {{"."}}},
};

class PlArchiveHostileTest : public PlArchiveTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(PlArchiveHostileTest, NothingOutsideTheBundleChanges) {
    const Hostile &row = GetParam();
    const QByteArray outside = QFile::encodeName(path("outside"));
    QFile target(path("outside/target"));
    ASSERT_TRUE(QDir().mkpath(outside) && target.open(QIODevice::WriteOnly) &&
                target.write("outside\n") && target.flush());
    ASSERT_TRUE(QDir().mkpath(bundle()) &&
                (row.linkedOut.isEmpty() || QFile::link(outside, bundle() + '/' + row.linkedOut)));
    QList<Entry> entries = row.entries + QList<Entry>{{"later/good.txt", File, "ok\n"}};
    for (Entry &e : entries) {
        e.path.replace('@', outside);
        e.data.replace('@', outside);
    }
    writeTarGz(archive(), entries);
    const std::string before = surroundings();

    EXPECT_EQ(extract(bundle()), 0);
    EXPECT_EQ(surroundings(), before);
    entries.removeIf([](const Entry &e) { return e.data != "ok\n"; });
    expectExtracted(bundle(), entries);
}

INSTANTIATE_TEST_SUITE_P(PlArchive, PlArchiveHostileTest, ::testing::ValuesIn(kHostile),
                         [](const auto &info) { return std::string(info.param.name); });

// Given through a symbolic link above it, as /tmp is on some systems, into folders yet to be made.
TEST_F(PlArchiveTest, BundleExtractsWithContentsModesTimesAndLinks) {
    QByteArray binary(3 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
    const QList<Entry> entries = {
        {"./", Dir, {}, 0700, 1050000000},
        {"Contents/", Dir, {}, 0755, 1100000000},
        {"Contents/MacOS/", Dir, {}, 0775, 1100000100},
        {"Contents/MacOS/Plimbo", File, binary, 0755, 1200000000},
        {"Contents/MacOS/helper", Hard, "Contents/MacOS/Plimbo", 0755, 1200000000},
        {"Contents/Resources/", Dir, {}, 0750, 1000000000},
        {"Contents/Resources/notes.txt", File, QByteArray("notes\n").repeated(9999), 0664,
         1010000000},
        {"Contents/Resources/empty", File, {}, 0600, 990000000},
        {"./Contents/Resources/dotted.txt", File, "dotted\n", 0444, 980000000},
        {"Contents/Frameworks/Current", Link, "../MacOS", 0777, 1300000000},
    };
    writeTarGz(archive(), entries);
    ASSERT_TRUE(QDir().mkpath(path("real")) && QFile::link(path("real"), path("alias")));
    ASSERT_EQ(extract(path("alias/new/Plimbo.app")), 0);
    expectExtracted(path("real/new/Plimbo.app"), entries);
}

// Data lost to a full disk fails the extraction, once the entries after it had their turn.
TEST_F(PlArchiveTest, FullDiskFailsAfterTheLaterEntries) {
    ASSERT_TRUE(QDir().mkpath(bundle()));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "plimbo-full", bundle()}))
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    writeTarGz(archive(), {{"big.bin", File, QByteArray(1 << 20, 'x')}, {"later", File, {}}});
    EXPECT_EQ(extract(bundle()), 1);
    EXPECT_TRUE(QFile::exists(bundle() + "/later"));
    QProcess::execute("umount", {bundle()});
}

TEST_F(PlArchiveTest, TruncatedArchiveFails) {
    writeTarGz(archive(), {{"big.bin", File, QByteArray(1 << 20, 'x')}});
    QFile file(archive());
    ASSERT_TRUE(file.resize(file.size() / 2));
    EXPECT_EQ(extract(bundle()), 1);
}

} // namespace
