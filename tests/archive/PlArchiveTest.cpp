#include "archive/PlArchive.h"

#include "archive/ArchiveWriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Readable failure messages for byte strings and lists of them.
void PrintTo(const QByteArray &bytes, std::ostream *out) {
    *out << '"' << bytes.left(300).toStdString() << (bytes.size() > 300 ? "\"..." : "\"");
}

namespace {

using Kind = ArchiveWriter::Kind;

QByteArray randomBytes(qsizetype words, quint32 seed) {
    QByteArray data(words * qsizetype(sizeof(quint32)), Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), words);
    return data;
}

QByteArray textBytes(int lines) {
    QByteArray text;
    for (int line = 0; line < lines; ++line)
        text += "line " + QByteArray::number(line) + ": the quick brown fox jumps over it\n";
    return text;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(data);
}

std::optional<struct stat> lstatOf(const QString &path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return info;
}

QByteArray symlinkTarget(const QString &path) {
    char target[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return length < 0 ? QByteArray() : QByteArray(target, length);
}

// What one run of archive_probe did.
struct ProbeRun {
    int exitCode = -1; // -1: crashed or did not finish
    QByteArray out;
    QList<QByteArray> errorLines;
};

bool isFinishedLog(const QByteArray &line) {
    return line.endsWith("] Decompress finished.");
}

void expectCleanRun(const ProbeRun &run) {
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QByteArray());
    ASSERT_EQ(run.errorLines.size(), 1) << run.errorLines.join('\n').toStdString();
    EXPECT_TRUE(isFinishedLog(run.errorLines[0])) << run.errorLines[0].toStdString();
}

class PlArchiveTest : public ::testing::Test {
  protected:
    QString path(const QString &relative) const { return dir_.filePath(relative); }
    QString archivePath() const { return path(QStringLiteral("Plimbo.tar.gz")); }
    QString installPath() const { return path(QStringLiteral("Applications/Plimbo.app")); }
    QString installed(const QByteArray &entry) const {
        return installPath() + u'/' + QFile::decodeName(entry);
    }

    // `operation` ("untar" or "list") in a process of its own, as the installer runs it;
    // `shellSetup` runs first in a shell that then becomes the probe.
    ProbeRun run(const QString &operation, const QString &install = {},
                 const QString &shellSetup = {}) const {
        QString program = QStringLiteral(PLIMBO_ARCHIVE_PROBE);
        QStringList arguments = {operation, archivePath(),
                                 install.isEmpty() ? installPath() : install};
        if (!shellSetup.isEmpty()) {
            const QString script = shellSetup + QStringLiteral("; exec \"$0\" \"$@\"");
            arguments = QStringList{QStringLiteral("-c"), script, program} + arguments;
            program = QStringLiteral("/bin/sh");
        }
        QProcess process;
        process.start(program, arguments);
        ProbeRun result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        result.out = process.readAllStandardOutput();
        const QByteArray errors = process.readAllStandardError();
        if (!errors.isEmpty())
            result.errorLines = errors.chopped(errors.endsWith('\n') ? 1 : 0).split('\n');
        return result;
    }

    QTemporaryDir dir_;
};

enum class Type { Directory, File, Symlink, Hardlink };

struct BundleEntry {
    QByteArray path;
    Type type;
    int permissions = 0;
    qint64 mtime = 0;
    QByteArray data; // a file's contents, a link's target
};

// An application bundle as the release service ships it: implicit and explicit folders,
// executables, links, an empty file, a few MiB of data and times long past.
const QList<BundleEntry> &realisticBundle() {
    static const QList<BundleEntry> entries = {
        {"Contents/", Type::Directory, 0755, 1100000000, {}},
        {"Contents/MacOS/", Type::Directory, 0775, 1100000100, {}},
        {"Contents/MacOS/Plimbo", Type::File, 0755, 1200000000, randomBytes(768 * 1024, 7)},
        {"Contents/MacOS/plimbo-helper", Type::Hardlink, 0, 0, "Contents/MacOS/Plimbo"},
        {"Contents/Info.plist", Type::File, 0644, 1150000000, "<plist><dict/></plist>\n"},
        {"Contents/Resources/", Type::Directory, 0750, 1000000000, {}},
        {"Contents/Resources/notes.txt", Type::File, 0664, 1010000000, textBytes(30000)},
        {"Contents/Resources/empty", Type::File, 0600, 990000000, {}},
        {"./Contents/Resources/dotted.txt", Type::File, 0444, 980000000, "dotted\n"},
        {"Contents/Frameworks/Current", Type::Symlink, 0, 0, "../MacOS"},
    };
    return entries;
}

void writeBundle(const QString &archive, const QList<BundleEntry> &entries) {
    ArchiveWriter writer(archive);
    for (const BundleEntry &entry : entries) {
        switch (entry.type) {
        case Type::Directory:
            writer.addDirectory(entry.path, entry.permissions, entry.mtime);
            break;
        case Type::File:
            writer.addFile(entry.path, entry.data, entry.permissions, entry.mtime);
            break;
        case Type::Symlink:
            writer.addSymlink(entry.path, entry.data);
            break;
        case Type::Hardlink:
            writer.addHardlink(entry.path, entry.data);
            break;
        }
    }
    writer.close();
}

void expectBundleAt(const QString &install, const QList<BundleEntry> &entries) {
    for (const BundleEntry &entry : entries) {
        SCOPED_TRACE(entry.path.toStdString());
        const QString file = install + u'/' + QFile::decodeName(entry.path);
        const std::optional<struct stat> info = lstatOf(file);
        ASSERT_TRUE(info);
        switch (entry.type) {
        case Type::Directory:
            EXPECT_TRUE(S_ISDIR(info->st_mode));
            break;
        case Type::File:
            EXPECT_TRUE(S_ISREG(info->st_mode));
            EXPECT_TRUE(readAll(file) == entry.data);
            break;
        case Type::Symlink:
            EXPECT_TRUE(S_ISLNK(info->st_mode));
            EXPECT_EQ(symlinkTarget(file), entry.data);
            break;
        case Type::Hardlink: {
            const std::optional<struct stat> target =
                lstatOf(install + u'/' + QFile::decodeName(entry.data));
            ASSERT_TRUE(target);
            EXPECT_EQ(info->st_ino, target->st_ino);
            EXPECT_EQ(info->st_nlink, 2u);
            break;
        }
        }
        if (entry.type == Type::Directory || entry.type == Type::File) {
            EXPECT_EQ(info->st_mode & 07777, mode_t(entry.permissions));
            EXPECT_EQ(info->st_mtim.tv_sec, entry.mtime);
        }
    }
}

TEST_F(PlArchiveTest, RealisticBundleExtractsWithContentsModesTimesAndLinks) {
    writeBundle(archivePath(), realisticBundle());
    expectCleanRun(run(QStringLiteral("untar")));
    expectBundleAt(installPath(), realisticBundle());
}

TEST_F(PlArchiveTest, ExtractsIntoInstallFolderBelowSymlinkedParent) {
    writeBundle(archivePath(), realisticBundle());
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("real")));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("real")), path(QStringLiteral("alias"))));
    for (const QString install : {QStringLiteral("Plimbo.app"), QStringLiteral("new/Plimbo.app")}) {
        SCOPED_TRACE(install.toStdString());
        expectCleanRun(run(QStringLiteral("untar"), path(QStringLiteral("alias/") + install)));
        expectBundleAt(path(QStringLiteral("real/") + install), realisticBundle());
    }
}

TEST_F(PlArchiveTest, ReextractionReplacesFilesAndKeepsOthers) {
    ArchiveWriter first(archivePath());
    first.addFile("Contents/Info.plist", "old\n", 0444);
    first.addFile("Contents/kept.txt", "kept\n");
    first.close();
    expectCleanRun(run(QStringLiteral("untar")));
    writeAll(installed("Contents/user-data.txt"), "mine\n");

    ArchiveWriter second(archivePath());
    second.addFile("Contents/Info.plist", "new\n");
    second.close();
    expectCleanRun(run(QStringLiteral("untar")));

    EXPECT_EQ(readAll(installed("Contents/Info.plist")), "new\n");
    EXPECT_EQ(readAll(installed("Contents/kept.txt")), "kept\n");
    EXPECT_EQ(readAll(installed("Contents/user-data.txt")), "mine\n");
}

TEST_F(PlArchiveTest, EmptyArchiveWritesNothingAndLogsTheEnd) {
    ArchiveWriter(archivePath()).close();
    expectCleanRun(run(QStringLiteral("untar")));
    EXPECT_FALSE(QFileInfo::exists(installPath()));
}

TEST_F(PlArchiveTest, TruncatedStreamEndsWithStatusOneAfterTheReadersMessage) {
    ArchiveWriter writer(archivePath());
    writer.addFile("first.txt", "first\n");
    writer.addFile("big.bin", randomBytes(256 * 1024, 3));
    writer.addFile("last.txt", "last\n");
    writer.close();
    const QByteArray whole = readAll(archivePath());
    writeAll(archivePath(), whole.left(whole.size() / 2));

    const ProbeRun result = run(QStringLiteral("untar"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, QByteArray());
    ASSERT_EQ(result.errorLines.size(), 1) << result.errorLines.join('\n').toStdString();
    EXPECT_TRUE(result.errorLines[0].toLower().contains("truncated"))
        << result.errorLines[0].toStdString();
    EXPECT_EQ(readAll(installed("first.txt")), "first\n");
    EXPECT_FALSE(QFileInfo::exists(installed("last.txt")));
}

// A full disk: the failed write is reported with the system's reason and the writer's text, and
// the entry that cannot be finished then ends the process.
TEST_F(PlArchiveTest, FailedDataWriteIsReportedBeforeTheFatalEnd) {
    ArchiveWriter writer(archivePath());
    writer.addFile("big.bin", randomBytes(256 * 1024, 5));
    writer.addFile("small.txt", "small\n");
    writer.close();

    // Writes past 64 KiB fail with EFBIG instead of raising SIGXFSZ.
    const ProbeRun result =
        run(QStringLiteral("untar"), {}, QStringLiteral("trap '' XFSZ; ulimit -f 128"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, QByteArray());
    ASSERT_EQ(result.errorLines.size(), 3) << result.errorLines.join('\n').toStdString();
    EXPECT_EQ(result.errorLines[0], "archive_probe: archive_write_data_block(): File too large");
    EXPECT_EQ(result.errorLines[1], "Write failed");
    EXPECT_FALSE(result.errorLines[2].isEmpty());
    EXPECT_EQ(QFileInfo(installed("big.bin")).size(), 64 * 1024);
    EXPECT_FALSE(QFileInfo::exists(installed("small.txt")));
}

// A full disk that still takes each file's size: the data that could not be written fails the
// extraction, after the entries that follow have had their turn.
TEST_F(PlArchiveTest, DataLostToAFullDiskEndsWithStatusOne) {
    if (QProcess::execute(QStringLiteral("unshare"),
                          {QStringLiteral("--mount"), QStringLiteral("true")}) != 0)
        GTEST_SKIP() << "no private mount namespace here (needs root)";
    ArchiveWriter writer(archivePath());
    writer.addFile("big.bin", randomBytes(1024 * 1024, 5));
    writer.addFile("small.txt", "small\n");
    writer.close();
    ASSERT_TRUE(QDir().mkpath(installPath()));

    // A 256 KiB tmpfs over the bundle's folder, mounted for the probe alone.
    const ProbeRun result = run(
        QStringLiteral("untar"), {},
        QStringLiteral("exec unshare --mount /bin/sh -c 'mount -t tmpfs -o size=256k plimbo-full "
                       "\"$1\" && shift && exec \"$@\"' sh \"%1\" \"$0\" \"$@\"")
            .arg(installPath()));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, QByteArray());
    ASSERT_GE(result.errorLines.size(), 3) << result.errorLines.join('\n').toStdString();
    EXPECT_EQ(result.errorLines[0],
              "archive_probe: archive_write_data_block(): No space left on device");
    EXPECT_EQ(result.errorLines[1], "Write failed");
    EXPECT_EQ(result.errorLines.last(), "Error exit delayed from previous errors.");
    for (const QByteArray &line : result.errorLines)
        EXPECT_FALSE(isFinishedLog(line));
}

// An uncompressed archive of one.txt, two.txt and three.txt whose second header's checksum no
// longer matches.
void writeArchiveWithDamagedSecondHeader(const QString &archive) {
    {
        ArchiveWriter writer(archive, Kind::Tar);
        writer.addFile("one.txt", "one\n");
        writer.addFile("two.txt", "two\n");
        writer.addFile("three.txt", "three\n");
        writer.close();
    }
    QByteArray bytes = readAll(archive);
    constexpr qsizetype secondHeader = 1024; // one header block and one data block
    ASSERT_TRUE(bytes.mid(secondHeader).startsWith("two.txt"));
    bytes[secondHeader] = 'T';
    writeAll(archive, bytes);
}

TEST_F(PlArchiveTest, DamagedHeaderIsReportedAndSkipped) {
    writeArchiveWithDamagedSecondHeader(archivePath());
    ProbeRun result = run(QStringLiteral("untar"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, QByteArray());
    ASSERT_GE(result.errorLines.size(), 2);
    EXPECT_TRUE(isFinishedLog(result.errorLines.takeLast()));
    for (const QByteArray &line : result.errorLines)
        EXPECT_EQ(line, "Damaged tar archive");
    EXPECT_EQ(QDir(installPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("one.txt"), QStringLiteral("three.txt")}));
    EXPECT_EQ(readAll(installed("three.txt")), "three\n");
}

TEST_F(PlArchiveTest, ListArchivePrintsStoredNamesAndCountsThem) {
    ArchiveWriter writer(archivePath());
    writer.addDirectory("./Contents/");
    writer.addFile("Contents/Info.plist", "<plist/>\n");
    writer.addSymlink("Contents/Current", "MacOS");
    writer.close();

    const ProbeRun result = run(QStringLiteral("list"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "./Contents/\nContents/Info.plist\nContents/Current\n");
    EXPECT_EQ(result.errorLines, QList<QByteArray>{"listed 3"});
    EXPECT_FALSE(QFileInfo::exists(installPath()));
}

TEST_F(PlArchiveTest, ListArchiveStopsAtTheFirstHeaderThatFails) {
    writeArchiveWithDamagedSecondHeader(archivePath());
    const ProbeRun result = run(QStringLiteral("list"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "one.txt\n");
    EXPECT_EQ(result.errorLines, QList<QByteArray>{"listed 1"});
}

TEST_F(PlArchiveTest, CompleteCallbackIsKeptButNeverCalled) {
    ArchiveWriter writer(archivePath());
    writer.addFile("a.txt", "a\n");
    writer.close();
    PlArchive archive(archivePath(), installPath());
    EXPECT_FALSE(archive.completeCallback());

    std::atomic<int> calls = 0;
    archive.setCompleteCallback([&calls] { ++calls; });
    archive.untar();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(readAll(installed("a.txt")), "a\n");
    archive.completeCallback()();
    EXPECT_EQ(calls, 1);
}

TEST_F(PlArchiveTest, CompleteCallbackAccessorsAreSafeAcrossThreads) {
    PlArchive archive(archivePath(), installPath());
    std::atomic<int> latest = -1;
    archive.setCompleteCallback([&latest] { latest = 0; });
    std::thread setter([&] {
        for (int i = 1; i < 2000; ++i)
            archive.setCompleteCallback([&latest, i] { latest = i; });
    });
    int previous = 0;
    for (int i = 0; i < 2000; ++i) {
        archive.completeCallback()();
        EXPECT_GE(latest, previous);
        previous = latest;
    }
    setter.join();
    archive.completeCallback()();
    EXPECT_EQ(latest, 1999);
}

// Runs that must end the process with status 1 and print exactly `errorLines`.
struct FatalCase {
    const char *name;
    const char *operation;
    std::function<void(const QString &archive)> make;
    QList<QByteArray> errorLines;
};

void PrintTo(const FatalCase &fatal, std::ostream *out) {
    *out << fatal.name;
}

class PlArchiveFatalTest : public PlArchiveTest, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(PlArchiveFatalTest, EndsWithStatusOne) {
    GetParam().make(archivePath());
    const ProbeRun result = run(QString::fromLatin1(GetParam().operation));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, QByteArray());
    EXPECT_EQ(result.errorLines, GetParam().errorLines);
    EXPECT_FALSE(QFileInfo::exists(installPath()));
}

const FatalCase kFatalCases[] = {
    {"MissingArchiveUntar", "untar", [](const QString &) {}, {}},
    {"MissingArchiveList", "list", [](const QString &) {}, {}},
    {"HtmlPage",
     "untar",
     [](const QString &archive) {
         writeAll(archive, "<!DOCTYPE html>\n<html><body>502 Bad Gateway</body></html>\n");
     },
     {"Unrecognized archive format"}},
    {"ZipFile",
     "untar",
     [](const QString &archive) {
         ArchiveWriter writer(archive, Kind::Zip);
         writer.addFile("Contents/Info.plist", "<plist/>\n");
         writer.close();
     },
     {"Unrecognized archive format"}},
};

INSTANTIATE_TEST_SUITE_P(Archives, PlArchiveFatalTest, ::testing::ValuesIn(kFatalCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Everything below `root` but the bundle: path, type, and for all but folders (whose link count
// and size follow the bundle) link count, size and contents.
QStringList snapshotOutside(const QString &root, const QString &bundle) {
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file == bundle || file.startsWith(bundle + u'/'))
            continue;
        const std::optional<struct stat> info = lstatOf(file);
        if (S_ISDIR(info->st_mode)) {
            lines << QStringLiteral("%1 %2").arg(file).arg(info->st_mode, 0, 8);
            continue;
        }
        const QByteArray hash =
            S_ISREG(info->st_mode)
                ? QCryptographicHash::hash(readAll(file), QCryptographicHash::Md5).toHex()
                : symlinkTarget(file);
        lines << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(file)
                     .arg(info->st_mode, 0, 8)
                     .arg(info->st_nlink)
                     .arg(info->st_size)
                     .arg(QString::fromLatin1(hash));
    }
    lines.sort();
    return lines;
}

QByteArray overlongPath() {
    return QByteArray(200, 'x').append('/').repeated(21) + "file";
}

// Paths the hostile entries see: the folder outside the bundle they aim at, and the bundle.
struct Target {
    QByteArray outside; // absolute
    QString install;
};

// Hostile entries written between two good ones; each entry the extraction refuses prints one
// line on standard error that contains `message`.
struct HostileCase {
    const char *name;
    std::function<void(ArchiveWriter &, const Target &)> entries;
    int refused;
    const char *message;
    std::function<void(const Target &)> prepare = {}; // disk state before the extraction
    std::function<void(const Target &)> verify = {};
};

void PrintTo(const HostileCase &hostile, std::ostream *out) {
    *out << hostile.name;
}

class PlArchiveHostileTest : public PlArchiveTest,
                             public ::testing::WithParamInterface<HostileCase> {};

TEST_P(PlArchiveHostileTest, NothingLeavesTheBundle) {
    const HostileCase &hostile = GetParam();
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("outside/dir")));
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("Applications")));
    writeAll(path(QStringLiteral("outside/target")), "outside\n");
    const Target target{QFile::encodeName(path(QStringLiteral("outside"))), installPath()};
    {
        ArchiveWriter writer(archivePath());
        writer.addFile("before.txt", "before\n");
        hostile.entries(writer, target);
        writer.addFile("after.txt", "after\n");
        writer.close();
    }
    const QStringList outsideBefore = snapshotOutside(dir_.path(), installPath());
    if (hostile.prepare)
        hostile.prepare(target);

    ProbeRun result = run(QStringLiteral("untar"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, QByteArray());
    ASSERT_EQ(result.errorLines.size(), hostile.refused + 1)
        << result.errorLines.join('\n').toStdString();
    EXPECT_TRUE(isFinishedLog(result.errorLines.takeLast()));
    for (const QByteArray &line : result.errorLines)
        EXPECT_TRUE(line.contains(hostile.message)) << line.left(200).toStdString();

    EXPECT_EQ(snapshotOutside(dir_.path(), installPath()), outsideBefore);
    EXPECT_EQ(readAll(installed("before.txt")), "before\n");
    EXPECT_EQ(readAll(installed("after.txt")), "after\n");
    if (hostile.verify)
        hostile.verify(target);
}

void makeSymlink(const QByteArray &target, const QString &link) {
    ASSERT_EQ(::symlink(target.constData(), QFile::encodeName(link).constData()), 0);
}

const HostileCase kHostileCases[] = {
    {"LeadingDotDot",
     [](ArchiveWriter &w, const Target &) {
         w.addFile("../evil", "evil\n");
         w.addFile("../../outside/evil", "evil\n");
     },
     2, "'..'"},
    {"InnerDotDot",
     [](ArchiveWriter &w, const Target &) {
         w.addFile("Contents/../../evil", "evil\n");
         w.addDirectory("a/b/../../../../outside/dir/evil/");
     },
     2, "'..'"},
    {"AbsolutePathLandsInside",
     [](ArchiveWriter &w, const Target &t) { w.addFile(t.outside + "/target", "inside\n"); },
     0,
     "",
     {},
     [](const Target &t) {
         EXPECT_EQ(readAll(t.install + QFile::decodeName(t.outside) + "/target"), "inside\n");
     }},
    {"WriteThroughSymlinkEntry",
     [](ArchiveWriter &w, const Target &t) {
         w.addSymlink("link", t.outside);
         w.addFile("link/evil", "evil\n");
         w.addFile("link/target", "evil\n");
     },
     2,
     "symlink",
     {},
     [](const Target &t) { EXPECT_EQ(symlinkTarget(t.install + "/link"), t.outside); }},
    {"WriteThroughRelativeSymlinkEntry",
     [](ArchiveWriter &w, const Target &) {
         w.addSymlink("Contents/up", "../../../outside");
         w.addDirectory("Contents/up/dir/new/");
         w.addFile("Contents/up/evil", "evil\n");
     },
     2, "symlink"},
    {"WriteThroughSymlinkAlreadyInBundle",
     [](ArchiveWriter &w, const Target &) { w.addFile("Contents/evil", "evil\n"); }, 1, "symlink",
     [](const Target &t) {
         ASSERT_TRUE(QDir().mkpath(t.install));
         makeSymlink(t.outside, t.install + "/Contents");
     }},
    {"HardLinkAboveBundle",
     [](ArchiveWriter &w, const Target &) { w.addHardlink("stolen", "../../outside/target"); },
     1,
     "'..'",
     {},
     [](const Target &t) { EXPECT_FALSE(lstatOf(t.install + "/stolen")); }},
    {"HardLinkThroughSymlinkEntry",
     [](ArchiveWriter &w, const Target &t) {
         w.addSymlink("link", t.outside);
         w.addHardlink("stolen", "link/target");
     },
     1,
     "symlink",
     {},
     [](const Target &t) { EXPECT_FALSE(lstatOf(t.install + "/stolen")); }},
    {"HardLinkWithAbsoluteTargetStaysInside",
     [](ArchiveWriter &w, const Target &t) { w.addHardlink("stolen", t.outside + "/target"); },
     1,
     "does not exist",
     {},
     [](const Target &t) { EXPECT_FALSE(lstatOf(t.install + "/stolen")); }},
    {"FileReplacesSymlinkToOutsideFile",
     [](ArchiveWriter &w, const Target &t) {
         w.addSymlink("swap", t.outside + "/target");
         w.addFile("swap", "replaced\n");
     },
     0,
     "",
     {},
     [](const Target &t) {
         EXPECT_TRUE(S_ISREG(lstatOf(t.install + "/swap")->st_mode));
         EXPECT_EQ(readAll(t.install + "/swap"), "replaced\n");
     }},
    {"FileReplacesHardLinkToOutsideFileInBundle",
     [](ArchiveWriter &w, const Target &) { w.addFile("shared", "replaced\n"); }, 0, "",
     [](const Target &t) {
         ASSERT_TRUE(QDir().mkpath(t.install));
         ASSERT_EQ(::link((t.outside + "/target").constData(),
                          QFile::encodeName(t.install + "/shared").constData()),
                   0);
     },
     [](const Target &t) { EXPECT_EQ(readAll(t.install + "/shared"), "replaced\n"); }},
    {"NonFolderStandsForTheBundle",
     [](ArchiveWriter &w, const Target &t) {
         w.addDirectory("./");
         w.addSymlink(".", t.outside);
         w.addFile("./.", "evil\n");
     },
     2,
     "cannot stand for the bundle",
     {},
     [](const Target &t) { EXPECT_TRUE(S_ISDIR(lstatOf(t.install)->st_mode)); }},
    {"OverlongPathName",
     [](ArchiveWriter &w, const Target &) { w.addFile(overlongPath(), "long\n"); }, 1, "too long"},
    {"OverlongHardLinkTarget",
     [](ArchiveWriter &w, const Target &) { w.addHardlink("stolen", overlongPath()); }, 1,
     "too long"},
};

INSTANTIATE_TEST_SUITE_P(Archives, PlArchiveHostileTest, ::testing::ValuesIn(kHostileCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
