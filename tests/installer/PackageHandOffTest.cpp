#include "analytics/GaEvent.h"
#include "installer/ControllerFixture.h"
#include "installer/NumberText.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using F = ControllerFixture;

QString writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return path;
}

TEST(NumberTextTest, WritesDurationsAsTheShortestDecimalWithAFraction) {
    EXPECT_EQ(shortestDecimalText(90000.0), "90000.0");
    EXPECT_EQ(shortestDecimalText(90000.25), "90000.25");
    EXPECT_EQ(shortestDecimalText(100000.0), "100000.0");
    EXPECT_EQ(shortestDecimalText(0.1), "0.1");
    EXPECT_EQ(shortestDecimalText(13574.667866), "13574.667866");
}

TEST(NumberTextTest, FormatsLikePrintfInTheCLocale) {
    EXPECT_EQ(fixedText(12.5, 1), "12.5");
    EXPECT_EQ(fixedText(0.25, 1), "0.2"); // halves to even, as printf does with exact ties
    EXPECT_EQ(fixedText(1.25, 2), "1.25");
    EXPECT_EQ(fixedText(42.37, 0), "42");
    EXPECT_EQ(fixedText(99.5, 0), "100");
}

// A failed move leaves the progress screen: the error, the log line, no extraction.
TEST(PackageHandOffTest, StaysWhenTheArchiveCannotBeMoved) {
    TestServer server;
    F fixture(server);
    ViewController &c = *fixture.controller;
    c.viewDidLoad(); // the analytics sender; no release from this server
    c.autoRetryCount = 2;
    fixture.deployment.archivePath = QStringLiteral("/nonexistent-folder/Plimbo.tar.gz");
    ViewController stuck(fixture.deployment, F::shortTimings());
    stuck.gaEvent = std::move(c.gaEvent);
    stuck.autoRetryCount = 2;
    const QString delivered = writeFile(fixture.folder.filePath("delivered"), "archive");

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    F::onSessionThread([&] { stuck.didFinishDownloadingTo(nullptr, nullptr, delivered); });
    QTest::qWait(300);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_NE(out.find('\n'), std::string::npos);
    EXPECT_NE(err.find("move to dst error"), std::string::npos) << err;
    EXPECT_EQ(err.find("Download finish start to untar"), std::string::npos) << err;
    const QList<RecordedRequest> hits = server.requestsTo(QStringLiteral("/g/collect"));
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(F::queryItem(hits[0], "en"), "installer_finish_download");
    EXPECT_EQ(F::queryItem(hits[0], "ep.auto_retry_count"), "2");
}

// Whatever an earlier run left at the archive path goes; the file may come from another file
// system (a memory-backed temporary folder, say).
TEST(PackageHandOffTest, ReplacesAnEarlierArchiveAcrossFileSystems) {
    if (!QDir(QStringLiteral("/dev/shm")).exists())
        GTEST_SKIP() << "no memory-backed folder here";
    TestServer server;
    F fixture(server);
    ViewController &c = *fixture.controller;
    QDir().mkpath(fixture.deployment.archivePath + QStringLiteral("/left-over"));
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/plimbo-handoff-XXXXXX"));
    const QString delivered = writeFile(elsewhere.filePath("download"), "not really an archive");

    ::testing::internal::CaptureStderr();
    F::onSessionThread([&] { c.didFinishDownloadingTo(nullptr, nullptr, delivered); });
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_NE(err.find("Download finish start to untar"), std::string::npos) << err;
    QFile moved(fixture.deployment.archivePath);
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), "not really an archive");
    EXPECT_FALSE(QFile::exists(delivered));
    // No extractor yet (viewDidLoad never ran): the panel follows all the same.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return c.view()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size() == 3; },
        3000));
}

} // namespace
