#include "system/UserDefaultsHelper.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QString plimbo = QStringLiteral("/Applications/Plimbo.app");

// The shape the helper writes and reads: tile-data → file-data → _CFURLString.
QVariantMap tile(const QString &url) {
    const QVariantMap fileData{{"_CFURLString", url}, {"_CFURLStringType", 0}};
    return {{"tile-data", QVariantMap{{"file-data", fileData}}}};
}

const QVariantMap mail = tile("file:///System/Applications/Mail.app/");
const QVariantMap notes = tile("file:///System/Applications/Notes.app/");
// The Dock writes file URLs; the path is inside the text.
const QVariantMap url = tile("file:///Applications/Plimbo.app/");
const QVariantMap added = tile(plimbo);
// Entries that hold the path but are no tiles: they belong to no path.
const QVariant text = plimbo;
const QVariantMap textTile{{"tile-data", plimbo}};

// The Dock's domain with entries the helper must carry over untouched.
QVariantMap dock(const QVariantList &apps) {
    return {{"persistent-apps", apps}, {"orientation", "left"}, {"tilesize", 48}};
}

// A rewrite replaces the file, so it shows even when the bytes stay the same.
ino_t inode(const QString &file) {
    struct stat info {};
    return ::stat(QFile::encodeName(file), &info) == 0 ? info.st_ino : 0;
}

constexpr auto add = &UserDefaultsHelper::addApplicationToDock;
constexpr auto drop = &UserDefaultsHelper::removeApplicationFromDock;

TEST(Dock, EditsPersistentAppsAndKeepsTheRestOfTheDomain) {
    const struct {
        QVariantMap before; // empty: no domain at all
        decltype(add) op;
        QString path;
        bool result;
        QVariantMap after;
    } cases[] = {
        {dock({mail, notes}), add, plimbo, true, dock({mail, notes, added})},
        {dock({mail, url}), add, plimbo, false, dock({mail, url})},
        {dock({text, textTile}), add, plimbo, true, dock({text, textTile, added})},
        {QVariantMap(), add, plimbo, false, QVariantMap()},
        {{{"persistent-apps", "not a list"}, {"tilesize", 48}},
         add,
         plimbo,
         false,
         {{"persistent-apps", "not a list"}, {"tilesize", 48}}},
        {dock({mail, url, text, notes, added}), drop, plimbo, true, dock({mail, text, notes})},
        {dock({mail, notes}), drop, plimbo, false, dock({mail, notes})},
        {dock({}), add, "", false, dock({})},
        {dock({mail}), drop, "", false, dock({mail})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        QTemporaryDir dir;
        PersistentDomainStore store(dir.path());
        for (auto it = c.before.cbegin(); it != c.before.cend(); ++it)
            store.setValue("com.apple.dock", it.key(), it.value());
        ASSERT_TRUE(store.synchronize());
        const ino_t seeded = inode(dir.filePath("com.apple.dock.cbor"));

        UserDefaultsHelper helper(store);
        EXPECT_EQ((helper.*c.op)(c.path), c.result);
        const auto after = PersistentDomainStore(dir.path()).persistentDomain("com.apple.dock");
        EXPECT_EQ(after.value_or(QVariantMap()), c.after);
        EXPECT_EQ(inode(dir.filePath("com.apple.dock.cbor")) == seeded, !c.result);
    }
}

// The Dock may write its domain between the helper's read and its write: what it wrote stays.
TEST(Dock, WriteKeepsWhatTheDockAddedMeanwhile) {
    QTemporaryDir dir;
    PersistentDomainStore helperStore(dir.path()), dockStore(dir.path());
    dockStore.setValue("com.apple.dock", "tilesize", 48);
    ASSERT_TRUE(dockStore.synchronize());
    helperStore.setValue("com.apple.dock", "persistent-apps", QVariantList{added});
    dockStore.setValue("com.apple.dock", "magnification", true);
    ASSERT_TRUE(dockStore.synchronize());
    ASSERT_TRUE(helperStore.synchronize());
    EXPECT_EQ(PersistentDomainStore(dir.path()).persistentDomain("com.apple.dock"),
              (QVariantMap{{"tilesize", 48},
                           {"magnification", true},
                           {"persistent-apps", QVariantList{added}}}));
}

} // namespace
