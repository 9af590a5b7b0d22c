#include "archive/PlArchive.h"

#include "archive/FlushPool.h"
#include "archive/RemoveTree.h"
#include "archive/StreamedExtraction.h"
#include "archive/UniqueFd.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

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

la_ssize_t appendTo(archive *, void *out, const void *bytes, size_t size) {
    static_cast<QByteArray *>(out)->append(static_cast<const char *>(bytes), qsizetype(size));
    return la_ssize_t(size);
}

// Names and link targets go into the archive exactly as given, hostile ones included.
QByteArray tarOf(const QList<Entry> &entries) {
    QByteArray tar;
    archive *writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_open(writer, &tar, nullptr, appendTo, nullptr);
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
    return tar;
}

// One gzip member holding `bytes`.
QByteArray gzipped(const QByteArray &bytes) {
    QByteArray member;
    archive *writer = archive_write_new();
    archive_write_set_format_raw(writer);
    archive_write_add_filter_gzip(writer);
    archive_write_set_bytes_in_last_block(writer, 1); // no padding after the trailer
    archive_write_open(writer, &member, nullptr, appendTo, nullptr);
    archive_entry *header = archive_entry_new();
    archive_entry_set_mode(header, S_IFREG | 0644);
    archive_entry_set_size(header, bytes.size());
    EXPECT_EQ(archive_write_header(writer, header), ARCHIVE_OK);
    archive_write_data(writer, bytes.constData(), bytes.size());
    archive_entry_free(header);
    EXPECT_EQ(archive_write_free(writer), ARCHIVE_OK);
    return member;
}

enum class Damage {
    None,
    CutShort,
    TrailerCutShort,
    WrongChecksum,
    WrongLength,
    TwoMembers,
    DamagedAfterTarEnd
};

// The trailer of a member ends with its CRC-32 and then its length, 4 bytes each.
QByteArray withTrailerByteFlipped(QByteArray member, int fromEnd) {
    member[member.size() - fromEnd] = char(member[member.size() - fromEnd] ^ 1);
    return member;
}

void writeTarGz(const QString &path, const QList<Entry> &entries, Damage damage = Damage::None) {
    const QByteArray tar = tarOf(entries);
    QByteArray bytes = gzipped(tar);
    if (damage == Damage::CutShort)
        bytes.truncate(bytes.size() / 2);
    if (damage == Damage::TrailerCutShort)
        bytes.chop(4);
    if (damage == Damage::WrongChecksum || damage == Damage::WrongLength)
        bytes = withTrailerByteFlipped(bytes, damage == Damage::WrongChecksum ? 8 : 4);
    if (damage == Damage::TwoMembers)
        bytes = gzipped(tar.left(1000)) + gzipped(tar.mid(1000));
    // More than the tar reader needs to see its end, so only the rest of the stream reaches it.
    if (damage == Damage::DamagedAfterTarEnd)
        bytes += withTrailerByteFlipped(gzipped(QByteArray(4 << 20, '\0')), 8);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// How the archive reaches the extraction: whole; or as a download lands, in two writes with a
// cut in the middle of the archive; or after part of another file that a whole answer then
// empties; or as it lands, its digest then refused.
enum class Feed { Whole, CutAndResumed, StartedOver, Refused };

// The download lands in a folder of its own; the new bundle is approved when the digest of the
// bytes the extraction read is the archive's, unless the row refuses it. Another file is followed
// until its first entry is being extracted into the staging folder beside `bundle`.
int extractAsItLands(PlArchive &archive, const QString &bundle, const QByteArray &bytes,
                     Feed feed) {
    QTemporaryDir landing;
    const QString download = landing.filePath("download");
    QFile file(download);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    std::unique_ptr<StreamedExtraction> extraction;
    const auto land = [&](const QByteArray &piece) {
        EXPECT_EQ(file.write(piece), piece.size());
        followDownload(extraction, &archive, download, file.size(), true);
    };
    if (feed == Feed::StartedOver) {
        const QByteArray other = gzipped(tarOf({{"evil.txt", File, QByteArray(8 << 20, 'e')}}));
        land(other.left(other.size() - 8));
        const std::filesystem::path staging = bundle.toStdString();
        const auto extracting = [&] {
            std::error_code none;
            for (const auto &folder :
                 std::filesystem::directory_iterator(staging.parent_path(), none))
                if (std::filesystem::exists(folder.path() / staging.filename() / "evil.txt", none))
                    return true;
            return false;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!extracting() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(file.resize(0) && file.seek(0));
        followDownload(extraction, &archive, download, 0, true);
    }
    land(bytes.left(bytes.size() / 2));
    land(bytes.mid(bytes.size() / 2));
    const std::optional<FileDigest> digest = extraction->finish();
    const bool same = digest && digest->length == bytes.size() &&
                      digest->sha512 == QCryptographicHash::hash(bytes, QCryptographicHash::Sha512);
    EXPECT_TRUE(same) << "the digest is not of the archive's bytes";
    return extraction->conclude(same && feed != Feed::Refused);
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

// Each entry below `install` as archived: type, time, contents and link target, and a hard link
// the same file as its target; its mode as the user's umask 022 makes it, without setuid, setgid
// or sticky bits.
void expectExtracted(const QString &install, const QList<Entry> &entries) {
    for (const Entry &e : entries) {
        SCOPED_TRACE(e.path.constData());
        const QString file = install + '/' + e.path;
        const struct stat info = lstatOf(file);
        std::error_code notLink;
        EXPECT_EQ(info.st_mode, kFileType[e.type] | (e.type == Link ? e.perm : e.perm & 0755));
        EXPECT_EQ(info.st_mtim.tv_sec, e.mtime);
        EXPECT_EQ(std::filesystem::read_symlink(file.toStdString(), notLink).string(),
                  e.type == Link ? e.data.toStdString() : "");
        EXPECT_EQ(info.st_ino, lstatOf(install + '/' + (e.type == Hard ? e.data : e.path)).st_ino);
        EXPECT_TRUE(e.type != File || readAll(file) == e.data.toStdString());
    }
}

// A folder's file flags (lsattr's), or -1 where the file system keeps none.
int flagsOf(const QString &folder) {
    const UniqueFd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY));
    int flags = -1;
    return fd && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 ? flags : -1;
}

class PlArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override { umask_ = ::umask(022); }
    void TearDown() override { ::umask(umask_); }

    QString path(const char *relative) const { return dir_.filePath(relative); }
    QString archive() const { return path("Plimbo.tar.gz"); }
    QString bundle() const { return path("Applications/Plimbo.app"); }
    int extract(const QString &install) const { return PlArchive(archive(), install).extract(); }

    // Everything below the temporary folder (the bundle only when `withBundle`): type, mode, link
    // count and contents.
    std::string snapshot(bool withBundle) const {
        QStringList lines;
        for (const auto &entry :
             std::filesystem::recursive_directory_iterator(dir_.path().toStdString())) {
            const QString file = QString::fromStdString(entry.path());
            const struct stat info = lstatOf(file);
            if (withBundle || (file != bundle() && !file.startsWith(bundle() + '/')))
                lines << QString("%1 %2 %3 ").arg(file).arg(info.st_mode, 0, 8).arg(info.st_nlink) +
                             QString::fromStdString(readAll(file));
        }
        lines.sort();
        return lines.join(u'\n').toStdString();
    }

    QTemporaryDir dir_;
    mode_t umask_ = 0;
};

// Each row extracts over an earlier bundle holding "old.txt". "@" stands for the absolute path of a
// folder beside the bundle's, read-only, with a read-only file "target" in it.
struct Row {
    const char *name;
    QList<Entry> entries;
    int status;                // 1: the earlier bundle stays exactly as it was
    QByteArray linkedOut = {}; // a path in the earlier bundle linked to that folder
    bool fullDisk = false;     // a 256 KiB disk holds the bundle and its neighbours
    Damage damage = Damage::None;
    bool renamedOver = false; // another archive takes the name once this one is open
    Feed feed = Feed::Whole;
    bool earlierBundle = true;
    const char *says = ""; // on standard error
};

void PrintTo(const Row &row, std::ostream *out) {
    *out << row.name;
}

const Entry kGood{"good.txt", File, "ok\n"};
const QByteArray kTooLong = "Contents/" + QByteArray(300, 'x');

// clang-format off
const Row kRows[] = {
    {"LeadingDotDot", {kGood, {"../evil"}, {"../../outside/target"}}, 1},
    {"InnerDotDot", {kGood, {"Contents/../../evil"}, {"a/b/../../../../outside/new/", Dir}}, 1},
    {"AbsolutePathLandsInside", {{"@/target", File, "ok\n"}}, 0},
    {"WriteThroughSymlinkEntry", {kGood, {"out", Link, "@"}, {"out/evil"}, {"out/target"}}, 1},
    {"RelativeSymlinkClimbsOut", {kGood, {"up", Link, "../../outside"}, {"up/target"}}, 1},
    {"SymlinkInEarlierBundleIsNotFollowed", {kGood, {"Contents/new.txt", File, "ok\n"}}, 0, "Contents"},
    {"HardLinkAboveBundle", {kGood, {"stolen", Hard, "../../outside/target"}}, 1},
    {"HardLinkThroughSymlink", {kGood, {"out", Link, "@"}, {"stolen", Hard, "out/target"}}, 1},
    {"HardLinkAbsoluteTarget", {kGood, {"stolen", Hard, "@/target"}}, 1},
    {"SymlinkStandsForBundle", {{"./", Link, "@"}}, 1},
    {"FileStandsForBundle", {{"."}}, 1},
    {"EntryThatCannotBeCreated", {kGood, {kTooLong, File, "ok\n"}}, 1},
    {"FullDisk", {{"big.bin", File, QByteArray(1 << 20, 'x')}}, 1, {}, true},
    {.name = "UnpacksToMoreThanTheDiskHolds", .entries = {kGood, {"bomb.bin", File, QByteArray(8 << 20, '\0')}},
        .status = 1, .fullDisk = true, .feed = Feed::CutAndResumed, .says = "Not enough room on the disk to unpack"},
    {"FatalArchiveError", {{"big.bin", File, QByteArray(1 << 20, 'x')}}, 1, {}, false, Damage::CutShort},
    {"WrongChecksum", {kGood, {"big.bin", File, QByteArray(3 << 20, 'x')}}, 1, {}, false, Damage::WrongChecksum},
    {"WrongLength", {kGood}, 1, {}, false, Damage::WrongLength},
    {"TrailerCutShort", {kGood}, 1, {}, false, Damage::TrailerCutShort},
    {"DamagedAfterTarEnd", {kGood}, 1, {}, false, Damage::DamagedAfterTarEnd},
    {"TwoGzipMembers", {kGood, {"big.bin", File, QByteArray(3 << 20, 'x')}}, 0, {}, false, Damage::TwoMembers},
    {"NewBundleLeavesNoOldFile", {kGood, {"Contents/", Dir, {}, 0755}}, 0},
    {"ModesAsTheUserMakesThem", {{"open/", Dir, {}, 0777}, {"sticky/", Dir, {}, 01777},
        {"open/shared.txt", File, "ok\n", 0666}, {"setuid", File, "ok\n", 04755},
        {"setgid", File, "ok\n", 02755}}, 0},
    {.name = "EmptyArchiveKeepsEarlierBundle", .entries = {}, .status = 0},
    {.name = "EmptyArchiveInstallsNothing", .entries = {}, .status = 1, .earlierBundle = false},
    {.name = "OpenArchiveIsTheOneRead", .entries = {kGood}, .status = 0, .renamedOver = true},
    {.name = "CutAndResumedAsItLands", .entries = {kGood, {"big.bin", File, QByteArray(3 << 20, 'x')}},
        .status = 0, .feed = Feed::CutAndResumed},
    {.name = "WrongChecksumAsItLands", .entries = {kGood, {"big.bin", File, QByteArray(3 << 20, 'x')}},
        .status = 1, .damage = Damage::WrongChecksum, .feed = Feed::CutAndResumed},
    {.name = "WholeAnswerStartsOver", .entries = {kGood, {"big.bin", File, QByteArray(1 << 20, 'x')}},
        .status = 0, .feed = Feed::StartedOver},
    {.name = "RefusedDigestKeepsEarlierBundle", .entries = {kGood}, .status = 1, .feed = Feed::Refused},
};
// clang-format on

class PlArchiveRowTest : public PlArchiveTest, public ::testing::WithParamInterface<Row> {};

// Nothing outside the bundle changes; the bundle becomes exactly the archive's good entries, or
// stays exactly as it was.
TEST_P(PlArchiveRowTest, BundleIsReplacedWholeOrNotAtAll) {
    const Row &row = GetParam();
    const QByteArray outside = QFile::encodeName(path("outside"));
    QFile target(path("outside/target"));
    ASSERT_TRUE(QDir().mkpath(outside) && target.open(QIODevice::WriteOnly) &&
                target.write("outside\n") && target.setPermissions(QFile::ReadOwner) &&
                ::chmod(outside.constData(), 0500) == 0 && QDir().mkpath(path("Applications")));
    // mount(2) itself: the checker loses track of a thread that started a process.
    const QByteArray disk = QFile::encodeName(path("Applications"));
    if (row.fullDisk && ::mount("plimbo", disk.constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const auto unmount = qScopeGuard([&] {
        if (row.fullDisk)
            ::umount(disk.constData());
    });
    QFile old(bundle() + "/old.txt");
    ASSERT_TRUE(!row.earlierBundle ||
                (QDir().mkpath(bundle()) && old.open(QIODevice::WriteOnly) && old.write("old\n")));
    old.close(); // an open file would keep the small disk busy
    ASSERT_TRUE(row.linkedOut.isEmpty() || QFile::link(outside, bundle() + '/' + row.linkedOut));
    QList<Entry> entries = row.entries;
    for (Entry &e : entries) {
        e.path.replace('@', outside);
        e.data.replace('@', outside);
    }
    writeTarGz(archive(), entries, row.damage);
    const UniqueFd opened(::open(QFile::encodeName(archive()).constData(), O_RDONLY));
    if (row.renamedOver) {
        writeTarGz(path("other.tar.gz"), {{"evil.txt"}});
        ASSERT_EQ(std::rename(qPrintable(path("other.tar.gz")), qPrintable(archive())), 0);
    }
    const bool kept = row.status == 1 || row.entries.isEmpty();
    const std::string before = snapshot(kept);

    PlArchive extraction(archive(), bundle());
    QFile written(archive());
    ASSERT_TRUE(row.feed == Feed::Whole || written.open(QIODevice::ReadOnly));
    const bool listening = *row.says != '\0'; // elsewhere the checkers' reports stay visible
    if (listening)
        ::testing::internal::CaptureStderr();
    EXPECT_EQ(row.feed == Feed::Whole
                  ? extraction.extract(opened.get())
                  : extractAsItLands(extraction, bundle(), written.readAll(), row.feed),
              row.status);
    if (listening) {
        EXPECT_NE(::testing::internal::GetCapturedStderr().find(row.says), std::string::npos);
    }
    EXPECT_EQ(snapshot(kept), before);
    if (kept)
        return;
    expectExtracted(bundle(), entries);
    EXPECT_FALSE(QFile::exists(bundle() + "/old.txt"));
}

INSTANTIATE_TEST_SUITE_P(PlArchive, PlArchiveRowTest, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Given through a symbolic link above it, as /tmp is on some systems, into folders yet to be made.
TEST_F(PlArchiveTest, BundleExtractsWithContentsModesTimesAndLinks) {
    QByteArray binary(12 << 20, Qt::Uninitialized); // more than the extraction keeps in flight
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
    // The allocator's hints given while unpacking are gone: folders as made by hand.
    for (const Entry &e : entries)
        EXPECT_TRUE(e.type != Dir ||
                    flagsOf(path("real/new/Plimbo.app/") + e.path) == flagsOf(path("real")))
            << e.path.constData();
}

// A staging folder that a killed run left behind goes; nothing else of the extraction stays.
TEST_F(PlArchiveTest, LeftoverStagingFolderIsRemoved) {
    ASSERT_TRUE(QDir().mkpath(path("Applications/.Plimbo.app.Ab12Cd/Contents")));
    writeTarGz(archive(), {kGood});
    ASSERT_EQ(extract(bundle()), 0);
    EXPECT_EQ(QDir(path("Applications"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Plimbo.app"});
}

// A file flushed while the extraction went on counts as flushed until it changes: a new link to
// it must reach the disk too.
TEST_F(PlArchiveTest, FileFlushedEarlyIsFlushedAgainOnceLinked) {
    QFile file(path("file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("data\n") == 5);
    file.close();
    FlushPool pool;
    pool.flush(UniqueFd(::open(qPrintable(path("file")), O_RDONLY | O_CLOEXEC)), "file");
    ASSERT_TRUE(pool.finish());
    const struct stat flushed = lstatOf(path("file"));
    EXPECT_TRUE(pool.flushed(flushed));
    // Linked again until the change time moves on, which a coarse clock may take a tick to do.
    do {
        QFile::remove(path("link"));
        ASSERT_EQ(::link(qPrintable(path("file")), qPrintable(path("link"))), 0);
    } while (lstatOf(path("file")).st_ctim.tv_nsec == flushed.st_ctim.tv_nsec &&
             lstatOf(path("file")).st_ctim.tv_sec == flushed.st_ctim.tv_sec);
    EXPECT_FALSE(pool.flushed(lstatOf(path("file"))));
}

// A link, given as the tree or found in it, goes itself; nothing it leads to changes.
TEST_F(PlArchiveTest, TreeRemovalNeverGoesThroughALink) {
    QFile target(path("outside/target"));
    ASSERT_TRUE(QDir().mkpath(path("outside")) && QDir().mkpath(path("tree/inner")) &&
                target.open(QIODevice::WriteOnly) && target.setPermissions(QFile::ReadOwner) &&
                QFile::link(path("outside"), path("root")) &&
                QFile::link(path("outside"), path("tree/inner/below")) &&
                ::chmod(qPrintable(path("outside")), 0500) == 0);
    EXPECT_TRUE(removeTree(path("root").toStdString()));
    EXPECT_TRUE(removeTree(path("tree").toStdString()));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"outside"});
    EXPECT_EQ(lstatOf(path("outside")).st_mode, S_IFDIR | 0500);
    EXPECT_EQ(lstatOf(path("outside/target")).st_mode, S_IFREG | 0400);
}

} // namespace
