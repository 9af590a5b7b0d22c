#include "installer/ViewController.h"

#include "archive/PlArchive.h"
#include "installer/ReleaseLookup.h"
#include "installer/ReleaseStatement.h"
#include "support/RawStub.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
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

    // The same answer grown past 1 MiB, with no length announced, is no answer.
    RawStub endless({{RawStub::answer("200 OK", {},
                                      R"({"updateUrl":"https://cdn.test/b/Plimbo.tar.gz","pad":")" +
                                          QByteArray(1 << 20, ' ') + R"("})")}});
    deployment.releaseService = endless.url({}).toString();
    EXPECT_EQ(ViewController(deployment).fetchLatestReleaseURL(), std::nullopt);
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

// Asked at launch, a release starts its transfer from the answer, with no window and no event
// loop yet; the start sequence then starts no second one, and what became of it is told.
TEST(ViewController, TransferStartsFromTheAnswerAtLaunch) {
    RawStub stub(
        {{RawStub::answer("200 OK", "", R"({"updateUrl":"https://127.0.0.1:1/Plimbo.tar.gz"})")}});
    QTemporaryDir folder;
    Deployment deployment = compiledDeployment();
    deployment.releaseService = stub.url({}).toString();
    deployment.installPath = folder.filePath("Plimbo.app");
    ViewController controller(deployment, ControllerTimings{.resumeDelayMs = 60000});
    controller.lookUpAtLaunch();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!controller.downloadTask() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::shared_ptr<DownloadTask> started = controller.downloadTask();
    ASSERT_TRUE(started);

    controller.view()->resize(500, 300);
    controller.viewDidLoad();
    EXPECT_EQ(controller.downloadTask(), started);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return controller.text()->toPlainText().startsWith("The download failed: "); },
        10000))
        << controller.text()->toPlainText().toStdString();
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

// Only an https archive address is taken, with the statement and signature the answer names.
TEST(ViewController, ReleaseAnswerGivesAnHttpsArchiveAndItsStatement) {
    EXPECT_FALSE(releaseFromAnswer(R"({"updateUrl":"http://cdn.test/a.tar.gz"})"));
    const std::optional<Release> release = releaseFromAnswer(
        R"({"updateUrl":"https://cdn.test/a.tar.gz","statement":"c3Q=","signature":"c2ln"})");
    ASSERT_TRUE(release);
    EXPECT_EQ(release->archiveUrl, QUrl(QStringLiteral("https://cdn.test/a.tar.gz")));
    EXPECT_EQ(release->statement, "c3Q=");
    EXPECT_EQ(release->signature, "c2ln");
}

// Statements as a publisher makes them, with the project's own script, held to an installer that
// has installed 1.9: first at the lookup, then against the downloaded archive's bytes.
TEST(ReleaseStatement, OnlyANewEnoughUnexpiredReleaseOfThisVeryArchivePasses) {
    QTemporaryDir folder;
    const auto script = [](const QStringList &arguments) {
        QProcess process;
        process.start(QStringLiteral(PLIMBO_SIGN_ARCHIVE), arguments);
        process.waitForFinished();
        return process.readAllStandardOutput().trimmed();
    };
    const QByteArray key = script({"--new-key", folder.filePath("maker")});
    const QByteArray otherKey = script({"--new-key", folder.filePath("other")});
    const QString archive = folder.filePath("a.tar.gz");
    const QByteArray content = archive.toUtf8().repeated(9999);
    QFile file(archive);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    const auto sign = [&](const char *signer, QStringList options) {
        const QJsonObject answer =
            QJsonDocument::fromJson(
                script(QStringList{folder.filePath(QString(signer) + "/update-key.pem"), archive} +
                       options))
                .object();
        return std::pair(answer["statement"].toString().toLatin1(),
                         answer["signature"].toString().toLatin1());
    };
    const auto [statement, signature] = sign("maker", {"--version", "1.10"});
    // What the script would never write, signed with the maker's key all the same.
    const auto signAsIs = [&](const QByteArray &json) {
        QFile message(folder.filePath("message"));
        EXPECT_TRUE(message.open(QIODevice::WriteOnly) && message.write(json) == json.size());
        message.close();
        QProcess openssl;
        openssl.start("openssl",
                      {"pkeyutl", "-sign", "-rawin", "-inkey",
                       folder.filePath("maker/update-key.pem"), "-in", message.fileName()});
        openssl.waitForFinished();
        return std::pair(json.toBase64(), openssl.readAllStandardOutput().toBase64());
    };
    const QByteArray json = QByteArray::fromBase64(statement);
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Sha512);
    QByteArray otherDigest = digest;
    otherDigest[9] = char(otherDigest[9] ^ 1);
    const struct {
        const char *what;
        std::pair<QByteArray, QByteArray> release;
        QByteArray keys;
        qint64 length;
        QByteArray digest;
        bool valid;
    } rows[] = {
        {"valid", {statement, signature}, key, content.size(), digest, true},
        {"another key", sign("other", {"--version", "1.10"}), key, content.size(), digest, false},
        {"second key", sign("other", {"--version", "1.10"}), key + "," + otherKey, content.size(),
         digest, true},
        {"expired", sign("maker", {"--version", "1.10", "--expires", "2020-01-01T00:00:00Z"}), key,
         content.size(), digest, false},
        {"older", sign("maker", {"--version", "1.8.7"}), key, content.size(), digest, false},
        {"same", sign("maker", {"--version", "1.9.0"}), key, content.size(), digest, true},
        {"platform", sign("maker", {"--version", "1.10", "--platform", "CONSOLE_WIN"}), key,
         content.size(), digest, false},
        {"length", {statement, signature}, key, content.size() + 1, digest, false},
        {"digest", {statement, signature}, key, content.size(), otherDigest, false},
        {"no statement", {"", signature}, key, content.size(), digest, false},
        {"cut signature", {statement, signature.left(40)}, key, content.size(), digest, false},
        {"not base64", {"{\"version\":\"1.10\"}", signature}, key, content.size(), digest, false},
        {"valid as signed as-is", signAsIs(json), key, content.size(), digest, true},
        {"malformed version", signAsIs(QByteArray(json).replace("\"1.10\"", "\"1.10-rc1\"")), key,
         content.size(), digest, false},
        {"no expiry", signAsIs(QByteArray(json).replace("\"expires\"", "\"expiry\"")), key,
         content.size(), digest, false},
    };
    for (const auto &row : rows) {
        const StatementCheck check =
            checkStatement(row.release.first, row.release.second, row.keys,
                           {releaseStore, QStringLiteral("CONSOLE_OSX"), QVersionNumber(1, 9),
                            QDateTime::currentDateTimeUtc()});
        EXPECT_EQ(check.fault.isEmpty(), check.statement.has_value()) << row.what;
        EXPECT_EQ(check.statement &&
                      archiveFault(*check.statement, row.length, row.digest).isEmpty(),
                  row.valid)
            << row.what << ": " << check.fault.toStdString();
    }
}

} // namespace
