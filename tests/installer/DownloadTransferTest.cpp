#include "installer/ControllerFixture.h"
#include "platform/ViewGeometry.h"
#include "ui/PlProgress.h"

#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

using F = ControllerFixture;

// A controller on a local server, with two tasks that are never started: identities for the
// session's callbacks, which the tests deliver from a thread of their own.
struct Transfer {
    void fail(DownloadTask *task, const QString &why, std::optional<QByteArray> resumeData) {
        F::onSessionThread([&] {
            c.didCompleteWithError(nullptr, task, DownloadError{why, std::move(resumeData)});
        });
    }

    TestServer server;
    F fixture{server};
    ViewController &c = *fixture.controller;
    struct {
        std::shared_ptr<DownloadTask> current;
        std::shared_ptr<DownloadTask> foreign;
    } tasks{c.urlSession()->downloadTask(QUrl("https://127.0.0.1:1/a.tar.gz")),
            c.urlSession()->downloadTask(QUrl("https://127.0.0.1:1/b.tar.gz"))};
};

class DownloadTransferTest : public ::testing::Test, protected Transfer {};

TEST_F(DownloadTransferTest, IgnoresProgressOfAnyTaskButTheCurrentOne) {
    F::onSessionThread([&] { c.didWriteData(nullptr, tasks.current.get(), 100, 100, 200); });
    c.setDownloadTask(tasks.current);
    F::onSessionThread([&] { c.didWriteData(nullptr, tasks.foreign.get(), 100, 100, 200); });

    EXPECT_EQ(c.callbackTicks, 0);
    EXPECT_EQ(c.writeInSecond, 0);
    EXPECT_EQ(c.totalBytesWritten, 0);
    EXPECT_EQ(c.percent()->toPlainText(), "0%");
    EXPECT_EQ(frame(c.customProgress()).width(), 0);
}

struct DisplayCase {
    int64_t written;
    int64_t expected;
    const char *percent;
    double barWidth;
};

class ProgressDisplayTest : public ::testing::TestWithParam<DisplayCase>, protected Transfer {};

TEST_P(ProgressDisplayTest, ShowsTheFractionAsPercentageAndBar) {
    const DisplayCase &d = GetParam();
    c.setDownloadTask(tasks.current);

    F::onSessionThread(
        [&] { c.didWriteData(nullptr, tasks.current.get(), 7, d.written, d.expected); });

    EXPECT_EQ(c.percent()->toPlainText(), QString::fromUtf8(d.percent));
    EXPECT_EQ(frame(c.customProgress()), QRectF(0, 0, d.barWidth, 17));
    EXPECT_EQ(c.writeInSecond, 7);
    EXPECT_EQ(c.totalBytesWritten, d.written);
    EXPECT_EQ(c.totalBytesExpectedToWrite, d.expected);
    EXPECT_EQ(c.callbackTicks, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Fractions, ProgressDisplayTest,
    ::testing::Values(DisplayCase{50, 100, "50%", 250}, DisplayCase{100, 100, "100%", 500},
                      DisplayCase{4237, 10000, "42%", 211.85}, DisplayCase{0, 100, "0%", 0},
                      // No announced length: nothing negative or infinite.
                      DisplayCase{5000, -1, "0%", 0}, DisplayCase{5000, 0, "0%", 0},
                      // A server sending more than it announced.
                      DisplayCase{150, 100, "100%", 500}));

// Every tenth accepted callback is sampled, counting on across a change of task.
TEST_F(DownloadTransferTest, SamplesEveryTenthCallbackAcrossResumptions) {
    c.setDownloadTask(tasks.current);
    c.viewDidLoad(); // makes the analytics sender; the lookup gets a 404 and gives no URL
    c.speed = 321;   // as the last speed tick left it

    F::onSessionThread([&] {
        for (int i = 1; i <= 11; ++i)
            c.didWriteData(nullptr, tasks.current.get(), 1000, i * 1000, 30000);
    });
    ASSERT_TRUE(server.waitForRequests(QStringLiteral("/g/collect"), 1));
    c.setDownloadTask(tasks.foreign); // as a resumption does
    F::onSessionThread([&] {
        for (int i = 12; i <= 20; ++i)
            c.didWriteData(nullptr, tasks.foreign.get(), 1000, i * 1000, 30000);
    });
    ASSERT_TRUE(server.waitForRequests(QStringLiteral("/g/collect"), 2));
    QTest::qWait(200);

    const QList<RecordedRequest> hits = server.requestsTo(QStringLiteral("/g/collect"));
    ASSERT_EQ(hits.size(), 2);
    const struct {
        const char *ticks, *downloaded;
    } expected[] = {{"10", "10000"}, {"20", "20000"}};
    for (int i = 0; i < 2; ++i) {
        const RecordedRequest &hit = hits[i];
        EXPECT_EQ(F::queryItem(hit, "en"), "installer_download_progress_spot");
        EXPECT_EQ(F::queryItem(hit, "ep.ticks"), expected[i].ticks);
        EXPECT_EQ(F::queryItem(hit, "ep.downloaded"), expected[i].downloaded);
        EXPECT_EQ(F::queryItem(hit, "ep.total"), "30000");
    }
    EXPECT_EQ(F::queryItem(hits[0], "ep.speed"), "321"); // later ticks may have reset it
    EXPECT_EQ(c.callbackTicks, 20);
}

TEST_F(DownloadTransferTest, ResumesAFailureWithResumeDataAfterTheDelay) {
    c.setDownloadTask(tasks.current);

    fail(tasks.current.get(), QStringLiteral("cut"), QByteArray("unreadable"));
    EXPECT_EQ(c.autoRetryCount, 0);
    EXPECT_EQ(c.downloadTask(), tasks.current);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.autoRetryCount == 1; }, 2000));
    // Resume data the session cannot read gives no task, and still counts as a resumption.
    EXPECT_EQ(c.downloadTask(), nullptr);

    fail(tasks.foreign.get(), QStringLiteral("cut"), QByteArray("again"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.autoRetryCount == 2; }, 2000));
}

TEST_F(DownloadTransferTest, StopsForGoodWithoutResumeData) {
    c.setDownloadTask(tasks.current);
    fail(tasks.current.get(), QStringLiteral("refused"), std::nullopt);
    F::onSessionThread([&] { c.didCompleteWithError(nullptr, tasks.current.get(), std::nullopt); });
    QTest::qWait(500);
    EXPECT_EQ(c.autoRetryCount, 0);
    EXPECT_EQ(c.downloadTask(), tasks.current);
}

} // namespace
