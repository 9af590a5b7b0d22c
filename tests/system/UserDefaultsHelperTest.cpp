#include "system/UserDefaultsHelper.h"

#include "platform/PersistentDomainStore.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const QString plimbo = QStringLiteral("/Applications/Plimbo.app");

// A tile as the Dock writes it: more keys than the ones this code reads.
QVariantMap tile(const QString &url, const QString &label = QStringLiteral("App")) {
    const QVariantMap fileData{{"_CFURLString", url}, {"_CFURLStringType", 15}};
    return {{"tile-data", QVariantMap{{"file-data", fileData}, {"file-label", label}}},
            {"tile-type", "file-tile"}};
}

const QVariantMap mail = tile("file:///System/Applications/Mail.app/", "Mail");
const QVariantMap notes = tile("file:///System/Applications/Notes.app/", "Notes");
const QVariantMap safari = tile("file:///Applications/Safari.app/", "Safari");

// The tile an addition writes, and nothing else.
QCborValue addedTile(const QString &path) {
    const QCborMap fileData{{QStringLiteral("_CFURLString"), path},
                            {QStringLiteral("_CFURLStringType"), 0}};
    return QCborMap{
        {QStringLiteral("tile-data"), QCborMap{{QStringLiteral("file-data"), fileData}}}};
}

// Typed text of a stored value: 0 and 0.0, text and bytes all read differently.
std::string diag(const QCborValue &value) {
    return value.toDiagnosticNotation().toStdString();
}

std::string diag(const QVariant &value) {
    return diag(QCborValue::fromVariant(value));
}

// The system-log lines written while `action` ran, without their stamps.
std::vector<std::string> logLinesOf(const std::function<void()> &action) {
    testing::internal::CaptureStderr();
    action();
    const QStringList lines = QString::fromStdString(testing::internal::GetCapturedStderr())
                                  .split(u'\n', Qt::SkipEmptyParts);
    std::vector<std::string> messages;
    for (const QString &line : lines)
        messages.push_back(line.section(QStringLiteral("] "), 1).toStdString());
    return messages;
}

// What a file is on disk: a rewrite shows even with the same bytes, since it replaces the inode.
struct FileState {
    bool exists = false;
    QByteArray bytes;
    ino_t inode = 0;
    bool operator==(const FileState &) const = default;
};

class UserDefaultsHelperTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString dockFile() const { return dir_.filePath("com.apple.dock.cbor"); }

    UserDefaultsHelper helper() const {
        return UserDefaultsHelper(PersistentDomainStore(dir_.path()));
    }

    void seed(const QVariantMap &domain) const {
        PersistentDomainStore store(dir_.path());
        store.setPersistentDomain(domain, "com.apple.dock");
        ASSERT_TRUE(store.synchronize());
    }

    void seedBytes(const QByteArray &bytes) const {
        QFile file(dockFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QCborMap stored() const {
        QFile file(dockFile());
        return file.open(QIODevice::ReadOnly) ? QCborValue::fromCbor(file.readAll()).toMap()
                                              : QCborMap();
    }

    QCborArray storedApps() const {
        return stored().value(QStringLiteral("persistent-apps")).toArray();
    }

    FileState fileState() const {
        FileState state;
        QFile file(dockFile());
        struct stat info {};
        if (!file.open(QIODevice::ReadOnly) || ::stat(QFile::encodeName(dockFile()), &info) != 0)
            return state;
        return {true, file.readAll(), info.st_ino};
    }

    QTemporaryDir dir_;
};

TEST_F(UserDefaultsHelperTest, AdditionAppendsTheExactTileAndKeepsEveryOtherEntry) {
    seed({{"persistent-apps", QVariantList{mail, notes}},
          {"persistent-others", QVariantList{tile("file:///Users/me/Downloads/")}},
          {"tilesize", 48},
          {"largesize", 1.0},
          {"magnification", true},
          {"orientation", "left"},
          {"trash-full", false},
          {"book", QByteArray("\x00\x01\xfe", 3)}});
    QCborMap before = stored();

    bool added = false;
    const auto log = logLinesOf([&] { added = helper().addApplicationToDock(plimbo); });

    EXPECT_TRUE(added);
    QCborMap after = stored();
    const QCborArray apps = after.take(QStringLiteral("persistent-apps")).toArray();
    before.remove(QStringLiteral("persistent-apps"));
    EXPECT_EQ(diag(after), diag(before));
    ASSERT_EQ(apps.size(), 3);
    EXPECT_EQ(diag(apps.at(0)), diag(mail));
    EXPECT_EQ(diag(apps.at(1)), diag(notes));
    EXPECT_EQ(diag(apps.at(2)), diag(addedTile(plimbo)));
    EXPECT_TRUE(apps.at(2)["tile-data"]["file-data"]["_CFURLStringType"].isInteger());

    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0],
              std::string(R"(({"tile-data" = {"file-data" = {"_CFURLString" = )"
                          R"("file:///System/Applications/Mail.app/"; "_CFURLStringType" = 15;}; )"
                          R"("file-label" = "Mail";}; "tile-type" = "file-tile";}, )"
                          R"({"tile-data" = {"file-data" = {"_CFURLString" = )"
                          R"("file:///System/Applications/Notes.app/"; "_CFURLStringType" = 15;}; )"
                          R"("file-label" = "Notes";}; "tile-type" = "file-tile";}))"));
    EXPECT_EQ(log[1], "()");
}

TEST_F(UserDefaultsHelperTest, SecondAdditionFindsTheTileAndWritesNothing) {
    seed({{"persistent-apps", QVariantList{mail}}});
    ASSERT_TRUE(helper().addApplicationToDock(plimbo));
    const FileState before = fileState();

    bool added = true;
    const auto log = logLinesOf([&] { added = helper().addApplicationToDock(plimbo); });

    EXPECT_FALSE(added);
    EXPECT_TRUE(fileState() == before);
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[1], std::string(R"(({"tile-data" = {"file-data" = {"_CFURLString" = )"
                                  R"("/Applications/Plimbo.app"; "_CFURLStringType" = 0;};};}))"));
}

// A tile belongs to a path when its URL text contains the path, case and diacritics included.
TEST_F(UserDefaultsHelperTest, TileBelongsToPathWhenItsUrlTextContainsIt) {
    const struct {
        const char *url;
        const char *path;
        bool belongs;
    } cases[] = {
        {"/Applications/Plimbo.app", "/Applications/Plimbo.app", true},
        {"file:///Applications/Plimbo.app/", "/Applications/Plimbo.app", true},
        {"file:///Applications/Plimbo.app/", "Plimbo", true},
        {"file:///Applications/plimbo.app/", "/Applications/Plimbo.app", false},
        {"file:///Applications/Plimb\u00f3.app/", "/Applications/Plimbo.app", false},
        {"file:///Applications/Plimbo/", "/Applications/Plimbo.app", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.url) + " / " + c.path);
        const QVariantList apps{mail, tile(QString::fromUtf8(c.url)), notes};

        seed({{"persistent-apps", apps}});
        EXPECT_EQ(helper().addApplicationToDock(QString::fromUtf8(c.path)), !c.belongs);

        seed({{"persistent-apps", apps}});
        EXPECT_EQ(helper().removeApplicationFromDock(QString::fromUtf8(c.path)), c.belongs);
        EXPECT_EQ(storedApps().size(), c.belongs ? 2 : 3);
    }
}

TEST_F(UserDefaultsHelperTest, RemovalDropsEveryMatchAndKeepsTheOrderOfTheRest) {
    seed({{"persistent-apps", QVariantList{mail, tile("file:///Applications/Plimbo.app/"), notes,
                                           tile(plimbo), safari}},
          {"tilesize", 48},
          {"orientation", "bottom"}});
    QCborMap before = stored();

    bool removed = false;
    const auto log = logLinesOf([&] { removed = helper().removeApplicationFromDock(plimbo); });

    EXPECT_TRUE(removed);
    EXPECT_TRUE(log.empty());
    QCborMap after = stored();
    EXPECT_EQ(diag(after.take(QStringLiteral("persistent-apps"))),
              diag(QVariantList{mail, notes, safari}));
    before.remove(QStringLiteral("persistent-apps"));
    EXPECT_EQ(diag(after), diag(before));
}

TEST_F(UserDefaultsHelperTest, RemovalOfAnAbsentPathWritesNothing) {
    seed({{"persistent-apps", QVariantList{mail, notes}}});
    const FileState before = fileState();

    EXPECT_FALSE(helper().removeApplicationFromDock(plimbo));
    EXPECT_TRUE(fileState() == before);
}

TEST_F(UserDefaultsHelperTest, EntriesWithoutUrlTextNeverMatch) {
    const QVariantMap noFileData{{"tile-data", QVariantMap{}}, {"tile-type", "spacer-tile"}};
    const QVariantMap noUrl{{"tile-data", QVariantMap{{"file-data", QVariantMap{}}}}};
    const QVariantMap numberUrl{
        {"tile-data", QVariantMap{{"file-data", QVariantMap{{"_CFURLString", 7}}}}}};
    const QVariantMap listUrl{
        {"tile-data",
         QVariantMap{{"file-data", QVariantMap{{"_CFURLString", QVariantList{plimbo}}}}}}};
    const QVariantMap textTileData{{"tile-data", plimbo}};
    const QVariantList odd{QVariantMap{}, noFileData,   noUrl, numberUrl,
                           listUrl,       textTileData, plimbo};

    seed({{"persistent-apps", odd}});
    EXPECT_FALSE(helper().removeApplicationFromDock(plimbo));
    ASSERT_TRUE(helper().addApplicationToDock(plimbo));
    QCborArray expected = QCborArray::fromVariantList(odd);
    expected.append(addedTile(plimbo));
    EXPECT_EQ(diag(storedApps()), diag(expected));

    seed({{"persistent-apps", QVariantList{odd[0], odd[1], tile(plimbo), odd[2], odd[3], odd[4],
                                           odd[5], odd[6], tile(plimbo)}}});
    ASSERT_TRUE(helper().removeApplicationFromDock(plimbo));
    EXPECT_EQ(diag(storedApps()), diag(odd));
}

// Without a usable list an addition starts one and keeps the rest of the domain; a removal has
// nothing to remove. A domain file that cannot be read is never replaced.
TEST_F(UserDefaultsHelperTest, MissingOrOddDomainIsNeverWrittenEmptyOrPartial) {
    const QCborMap onlyTheTile{{QStringLiteral("persistent-apps"), QCborArray{addedTile(plimbo)}}};
    const struct {
        const char *name;
        std::function<void()> arrange;
        bool added;
        QCborMap afterAddition;
    } cases[] = {
        {"no domain", [] {}, true, onlyTheTile},
        {"empty domain", [this] { seed({}); }, true, onlyTheTile},
        {"no list",
         [this] {
             seed({{"orientation", "left"}, {"tilesize", 48}});
         },
         true,
         {{QStringLiteral("orientation"), QStringLiteral("left")},
          {QStringLiteral("persistent-apps"), QCborArray{addedTile(plimbo)}},
          {QStringLiteral("tilesize"), 48}}},
        {"list is text",
         [this] {
             seed({{"persistent-apps", plimbo}, {"orientation", "left"}});
         },
         true,
         {{QStringLiteral("orientation"), QStringLiteral("left")},
          {QStringLiteral("persistent-apps"), QCborArray{addedTile(plimbo)}}}},
        {"unreadable file", [this] { seedBytes("not a domain"); }, false, {}},
        {"file holds no map",
         [this] {
             seedBytes(QCborValue(QCborArray{1, 2}).toCbor());
         },
         false,
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(dockFile());
        c.arrange();
        const FileState before = fileState();

        EXPECT_FALSE(helper().removeApplicationFromDock(plimbo));
        EXPECT_TRUE(fileState() == before);

        EXPECT_EQ(helper().addApplicationToDock(plimbo), c.added);
        if (c.added)
            EXPECT_EQ(diag(stored()), diag(c.afterAddition));
        else
            EXPECT_TRUE(fileState() == before);
    }
}

// Every text contains the empty one; taken literally it would wipe the list on removal.
TEST_F(UserDefaultsHelperTest, EmptyPathChangesNothing) {
    seed({{"persistent-apps", QVariantList{mail, tile(plimbo)}}});
    const FileState before = fileState();

    const auto log = logLinesOf([&] {
        EXPECT_FALSE(helper().addApplicationToDock(QString()));
        EXPECT_FALSE(helper().removeApplicationFromDock(QString()));
    });

    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(fileState() == before);
}

TEST_F(UserDefaultsHelperTest, FailedWriteIsTheResult) {
    const QString notAFolder = dir_.filePath("plain-file");
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    UserDefaultsHelper unwritable{PersistentDomainStore(notAFolder)};

    logLinesOf([&] { EXPECT_FALSE(unwritable.addApplicationToDock(plimbo)); });
    EXPECT_FALSE(QFileInfo::exists(notAFolder + "/com.apple.dock.cbor"));
}

} // namespace
