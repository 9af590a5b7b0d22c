#include "system/DesktopEntry.h"
#include "system/Launch.h"
#include "system/Places.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Folders of the user who runs the installer, by the XDG rules.
TEST(Places, ResolvedForTheUserRunningTheInstaller) {
    const struct {
        const char *dataHome, *cacheHome, *path, *resolved;
    } rows[] = {
        {"/x/data", "/x/cache", "$XDG_DATA_HOME/plimbo/Plimbo.app", "/x/data/plimbo/Plimbo.app"},
        {"", "", "$XDG_DATA_HOME/plimbo/Plimbo.app", "/h/.local/share/plimbo/Plimbo.app"},
        {"relative", "relative", "$XDG_CACHE_HOME/plimbo/A.tar.gz", "/h/.cache/plimbo/A.tar.gz"},
        {"/x/data", "/x/cache", "$XDG_CACHE_HOME", "/x/cache"},
        {"/x/data", "/x/cache", "$HOME/Plimbo.app", "/h/Plimbo.app"},
        {"/x/data", "/x/cache", "$HOMEPATH/Plimbo.app", "$HOMEPATH/Plimbo.app"},
        {"/x/data", "/x/cache", "/opt/$HOME/Plimbo.app", "/opt/$HOME/Plimbo.app"},
    };
    const QByteArray home = qgetenv("HOME"), data = qgetenv("XDG_DATA_HOME"),
                     cache = qgetenv("XDG_CACHE_HOME");
    qputenv("HOME", "/h");
    for (const auto &row : rows) {
        qputenv("XDG_DATA_HOME", row.dataHome);
        qputenv("XDG_CACHE_HOME", row.cacheHome);
        EXPECT_EQ(resolvePlace(row.path), row.resolved) << row.path << " " << row.dataHome;
    }
    qputenv("HOME", home);
    qputenv("XDG_DATA_HOME", data);
    qputenv("XDG_CACHE_HOME", cache);
}

// The folders are made and really written to; a file in the way is told before any download.
TEST(Places, InstallFolderCheckedBeforeTheDownload) {
    QTemporaryDir folder;
    EXPECT_EQ(prepareInstallFolders(folder.filePath("share/plimbo/Plimbo.app"),
                                    folder.filePath("cache/plimbo/Plimbo.tar.gz")),
              QString());
    EXPECT_EQ(QDir(folder.filePath("share/plimbo"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_TRUE(QFileInfo(folder.filePath("cache/plimbo")).isDir());
    QFile blocker(folder.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_TRUE(prepareInstallFolders(folder.filePath("file/plimbo/Plimbo.app"),
                                      folder.filePath("Plimbo.tar.gz"))
                    .startsWith(folder.filePath("file/plimbo: ")));
}

// Whatever the bundle's path holds, the entry is valid and names it; a reinstall rewrites it.
TEST(DesktopEntry, ValidForAnyBundlePath) {
    QTemporaryDir folder;
    for (const QString &name : {QStringLiteral("Plimbo.app"), QStringLiteral("sp ace 'q' \"d\""),
                                QStringLiteral("$HOME `x` \\n %f 100% ~;&|<>*?#()"),
                                QStringLiteral("Plimbø\tapp\nline")}) {
        const QString bundle = folder.filePath(name);
        ASSERT_EQ(addToApplicationMenu(bundle, folder.filePath("data")), QString());
        const QString entry = folder.filePath("data/applications/plimbo.desktop");
        QProcess validator;
        validator.start(QStringLiteral("desktop-file-validate"), {entry});
        ASSERT_TRUE(validator.waitForFinished());
        EXPECT_EQ(validator.exitCode(), 0) << validator.readAllStandardOutput().toStdString();
        QFile written(entry);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), desktopEntry(bundle));
        EXPECT_TRUE(QFile::exists(folder.filePath("data/icons/hicolor/scalable/apps/plimbo.svg")));
    }
}

// Started detached or through /bin/sh; a start that fails says why.
TEST(Launch, StartsTheBundleOrSaysWhyNot) {
    QTemporaryDir folder;
    const QString bundle = folder.filePath("Plimbo.app"), marker = folder.filePath("started");
    ASSERT_TRUE(QDir().mkpath(bundle + "/Contents/MacOS"));
    QFile program(bundleProgram(bundle));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    // Its own session, nothing of the installer's on its standard descriptors.
    program.write(QStringLiteral("#!/bin/sh\n[ \"$(ps -o sid= $$)\" -eq $$ ] && [ \"$(readlink "
                                 "/proc/$$/fd/1)\" = /dev/null ] && echo ok >'%1'\n")
                      .arg(marker)
                      .toUtf8());
    program.close();
    const struct {
        QString bundle, command, fault;
    } rows[] = {
        {folder.filePath("missing.app"), "", bundleProgram(folder.filePath("missing.app"))},
        {bundle, "", "Permission denied"},
        {bundle, "exit 3", "\"exit 3\" ended with status 3"},
        {bundle, "no-such-launcher", "ended with status 127"},
        {bundle, "true", ""},
    };
    for (const auto &row : rows) {
        const QString fault = launchApplication(row.bundle, row.command);
        EXPECT_EQ(fault.isEmpty(), row.fault.isEmpty()) << fault.toStdString();
        EXPECT_TRUE(fault.contains(row.fault)) << fault.toStdString();
    }
    program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
    EXPECT_EQ(launchApplication(bundle, {}), QString());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(marker).size() > 0; }, 10000));
}

} // namespace
