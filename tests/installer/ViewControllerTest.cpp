#include "installer/ViewController.h"

#include "archive/FileDigest.h"
#include "archive/PlArchive.h"
#include "archive/UniqueFd.h"
#include "installer/ArchiveSignature.h"
#include "installer/ReleaseLookup.h"
#include "support/RawStub.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(ViewController, LooksUpTheLatestReleaseWithOnePlainGet) {
    RawStub stub({{RawStub::answer("200 OK", "Content-Type: application/json\r\n",
                                   R"({"updateUrl":"https://cdn.test/b/Plimbo.tar.gz"})")}});
    Deployment deployment = compiledDeployment();
    deployment.releaseService = stub.url({}).toString();
    deployment.releasePlatform = QStringLiteral("CONSOLE_TEST");
    ViewController controller(deployment);

    EXPECT_EQ(controller.fetchLatestReleaseURL(),
              QUrl(QStringLiteral("https://cdn.test/b/Plimbo.tar.gz")));
    const QList<QByteArray> requests = stub.requests(1);
    ASSERT_EQ(requests.size(), 1);
    QList<QByteArray> lines = requests[0].trimmed().split('\n');
    EXPECT_EQ(lines.takeFirst().trimmed(),
              "GET /v1/apps/latest?store=CONSOLE_ZIP&platform=CONSOLE_TEST HTTP/1.1");
    for (const QByteArray &line : lines)
        EXPECT_TRUE(line.trimmed().startsWith("Host: 127.0.0.1:") ||
                    line.trimmed() == "Accept: */*")
            << line.toStdString();
}

// The panel keeps the old centre, rounded toward zero, not down.
TEST(ViewController, SuccessPanelShrinksAboutTheOldCentre) {
    const struct {
        QRect before;
        QPoint after;
    } rows[] = {
        {{100, 100, 500, 300}, {161, 167}},
        {{100, 100, 401, 301}, {111, 167}},
        {{-100, -100, 201, 300}, {-188, -33}},
    };
    for (const auto &row : rows) {
        ViewController controller(compiledDeployment(), ControllerTimings{.windowAnimationMs = 0});
        QWidget window;
        (new QVBoxLayout(&window))->addWidget(controller.view());
        window.setGeometry(row.before);
        controller.showSuccessScreen();
        const QRect expected(row.after, QSize(378, 166));
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.geometry() == expected; }, 5000))
            << window.geometry().x() << "," << window.geometry().y();
    }
}

// A busy service is asked again; a bundle folder that cannot be written stops the installation
// before any download. Each told on the status line, which the speed tick leaves alone.
TEST(ViewController, FailuresAreToldAndTheTransientTriedAgain) {
    RawStub stub(
        {{RawStub::answer("503 Service Unavailable", "", "<html>busy</html>")},
         {RawStub::answer("200 OK", "", R"({"updateUrl":"https://127.0.0.1:1/Plimbo.tar.gz"})")}});
    QTemporaryDir folder;
    QFile blocker(folder.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    Deployment deployment = compiledDeployment();
    deployment.releaseService = stub.url({}).toString();
    deployment.installPath = folder.filePath("file/Plimbo.app");
    ViewController controller(deployment, ControllerTimings{.resumeDelayMs = 300});
    controller.view()->resize(500, 300);
    controller.viewDidLoad();

    EXPECT_EQ(controller.text()->toPlainText(),
              "The release service answered 503. Trying again in 1 s");
    controller.calcSpeed();
    EXPECT_TRUE(controller.text()->toPlainText().startsWith("The release service answered 503"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return controller.text()->toPlainText().startsWith("Cannot install into "); },
        10000));
    EXPECT_TRUE(controller.text()->toPlainText().endsWith(". Installation stopped"));
    EXPECT_EQ(stub.requests(2).size(), 2);
    EXPECT_FALSE(controller.downloadTask());
}

// An application that cannot be started is told on the panel, and the installer does not end as
// if it had worked.
TEST(ViewController, FailedLaunchIsToldAndNotASuccess) {
    QTemporaryDir folder;
    Deployment deployment = compiledDeployment();
    deployment.installPath = folder.filePath("Plimbo.app");
    deployment.launchCommand.clear();
    ViewController controller(deployment);
    controller.view()->resize(500, 300);
    controller.showSuccessScreen();
    controller.launchPlimbo(nullptr);
    const QStringList lines = [&] {
        QStringList texts;
        for (const QTextEdit *view : controller.view()->findChildren<QTextEdit *>())
            texts += view->toPlainText();
        return texts;
    }();
    EXPECT_TRUE(lines.filter("Plimbo could not be started: ").size() == 1)
        << lines.join('|').toStdString();
    EXPECT_EXIT(controller.launchPlimbo(nullptr), testing::ExitedWithCode(1), ""); // "Ok" again
}

// A download that cannot be moved to the fixed archive path is extracted where it lies.
TEST(ViewController, ExtractsADownloadThatCannotBeMoved) {
    QTemporaryDir folder;
    Deployment deployment = compiledDeployment();
    deployment.archivePath = folder.filePath("missing/Plimbo.tar.gz");
    deployment.installPath = folder.filePath("Plimbo.app");
    ViewController controller(deployment);
    controller.plArchive =
        std::make_unique<PlArchive>(deployment.archivePath, deployment.installPath);
    QFile plist(folder.filePath("new/Contents/Info.plist"));
    ASSERT_TRUE(QDir().mkpath(folder.filePath("new/Contents")) && plist.open(QIODevice::WriteOnly));
    plist.close();
    const QString download = folder.filePath("download");
    ASSERT_EQ(QProcess::execute("tar", {"-czf", download, "-C", folder.filePath("new"), "."}), 0);

    std::thread([&] { controller.didFinishDownloadingTo(nullptr, nullptr, download); }).join();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return controller.view()->findChild<QPushButton *>(); }, 10000));
    EXPECT_TRUE(QFile::exists(deployment.installPath + "/Contents/Info.plist"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList());
}

// Only an https archive address is taken, with the signature that the answer names.
TEST(ViewController, ReleaseAnswerGivesAnHttpsArchiveAndItsSignature) {
    EXPECT_FALSE(releaseFromAnswer(R"({"updateUrl":"http://cdn.test/a.tar.gz"})"));
    const std::optional<Release> release =
        releaseFromAnswer(R"({"updateUrl":"https://cdn.test/a.tar.gz","signature":"c2ln"})");
    ASSERT_TRUE(release);
    EXPECT_EQ(release->archiveUrl, QUrl(QStringLiteral("https://cdn.test/a.tar.gz")));
    EXPECT_EQ(release->signature, "c2ln");
}

// Keys and signatures as a publisher makes them, with the project's own script.
TEST(ArchiveSignature, OnlyTheMakersSignatureOfThisVeryFilePasses) {
    QTemporaryDir folder;
    const auto sign = [](const QStringList &arguments) {
        QProcess script;
        script.start(QStringLiteral(PLIMBO_SIGN_ARCHIVE), arguments);
        script.waitForFinished();
        return script.readAllStandardOutput().trimmed();
    };
    const QByteArray key = sign({"--new-key", folder.filePath("maker")});
    const QByteArray otherKey = sign({"--new-key", folder.filePath("other")});
    const QString archive = folder.filePath("a.tar.gz"), other = folder.filePath("b.tar.gz");
    for (const QString &name : {archive, other}) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(name.toUtf8().repeated(9999)));
    }
    const QByteArray signature = sign({folder.filePath("maker/update-key.pem"), archive});
    const struct {
        QString file;
        QByteArray key, signature;
        bool valid;
    } rows[] = {
        {archive, key, signature, true},       {other, key, signature, false},
        {archive, otherKey, signature, false}, {archive, key, "", false},
        {archive, key, "AAAA", false},         {archive, key, signature.left(40) + "=", false},
    };
    for (const auto &row : rows) {
        const UniqueFd file(::open(QFile::encodeName(row.file).constData(), O_RDONLY));
        EXPECT_EQ(
            archiveSignatureFault(fileDigest(file.get()).value().sha512, row.key, row.signature)
                .isEmpty(),
            row.valid)
            << row.signature.toStdString();
    }
}

} // namespace
