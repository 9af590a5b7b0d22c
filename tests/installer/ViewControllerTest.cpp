#include "installer/ControllerFixture.h"
#include "platform/ViewAnimations.h"
#include "platform/ViewGeometry.h"
#include "ui/ImageView.h"
#include "ui/PlProgress.h"

#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString kLookupPath = QStringLiteral("/v1/apps/latest");

using Installer = ControllerFixture;

TEST(ViewControllerTest, BuildsTheProgressScreenWhereItBelongs) {
    TestServer server;
    server.setResponse(kLookupPath, {200, {}, "[]"});
    Installer installer(server);
    ViewController &c = *installer.controller;
    c.viewDidLoad();

    EXPECT_EQ(frame(c.text()), QRectF(50, 27, 400, 14));
    EXPECT_EQ(frame(c.percent()), QRectF(190, 140, 120, 47));
    EXPECT_EQ(c.imageView()->imageFrame(), QRectF(216, 175, 68, 68));
    EXPECT_EQ(frame(c.customProgress()), QRectF(0, 0, 0, 17));
    // Qt places from the top-left: the status line's top edge is 300 - 41 from the top.
    EXPECT_EQ(c.text()->geometry().topLeft(), QPoint(50, 259));
    EXPECT_EQ(c.percent()->geometry().topLeft(), QPoint(190, 113));

    const QList<QWidget *> children = c.view()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 5);
    EXPECT_EQ(children[0], c.imageView());
    EXPECT_EQ(children[1], c.text());
    EXPECT_EQ(children[2], c.percent());
    EXPECT_EQ(children[3]->metaObject()->className(), QByteArray("Backgroud"));
    EXPECT_EQ(frame(children[3]), QRectF(0, 0, 500, 17));
    EXPECT_EQ(children[4], c.customProgress());

    EXPECT_EQ(c.text()->toPlainText(), "Downloading...");
    EXPECT_EQ(c.percent()->toPlainText(), "0%");
    ASSERT_NE(animationForKey(c.imageView(), QStringLiteral("rotateAnimation")), nullptr);
    EXPECT_NE(c.plArchive, nullptr);
}

TEST(ViewControllerTest, LazyViewsAreBuiltOnce) {
    TestServer server;
    Installer installer(server);
    ViewController &c = *installer.controller;
    EXPECT_EQ(c.text(), c.text());
    EXPECT_EQ(c.percent(), c.percent());
    EXPECT_EQ(c.imageView(), c.imageView());
    EXPECT_EQ(c.customProgress(), c.customProgress());
}

TEST(ViewControllerTest, ReportsAndStartsTheDownloadOfTheAddressTheServiceGives) {
    TestServer server;
    const QUrl archive = server.url(QStringLiteral("/builds/Plimbo.tar.gz"));
    server.setResponse(kLookupPath, {200, {}, R"({"updateUrl":")" + archive.toEncoded() + "\"}"});
    TestResponse silent;
    silent.stallBeforeHeaders = true;
    server.setResponse(QStringLiteral("/builds/Plimbo.tar.gz"), silent);
    Installer installer(server);
    installer.controller->viewDidLoad();

    EXPECT_NE(installer.controller->downloadTask(), nullptr);
    ASSERT_TRUE(server.waitForRequests(QStringLiteral("/g/collect"), 1));
    ASSERT_TRUE(server.waitForRequests(QStringLiteral("/builds/Plimbo.tar.gz"), 1));
    const QList<RecordedRequest> requests = server.requests();
    EXPECT_EQ(requests[0].path, kLookupPath.toUtf8());
    const RecordedRequest hit = server.requestsTo(QStringLiteral("/g/collect")).first();
    EXPECT_EQ(Installer::queryItem(hit, "en"), "installer_start_download");
    EXPECT_EQ(Installer::queryItem(hit, "ep.url"), archive.toEncoded());
    EXPECT_EQ(Installer::queryItem(hit, "_s"), "1");
}

// The main thread waits for the lookup: no tick, no drawing meanwhile; the screen stays standing
// and the timer goes on afterwards.
TEST(ViewControllerTest, TicksOnlyAfterTheLookupAndKeepsTickingWithoutARelease) {
    TestServer server;
    server.setHandler(kLookupPath, [](const RecordedRequest &) {
        QThread::msleep(1500);
        return TestResponse{200, {}, R"({"updateUrl":""})"};
    });
    Installer installer(server);
    ViewController &c = *installer.controller;
    c.viewDidLoad();

    EXPECT_EQ(c.text()->toPlainText(), "Downloading...");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return c.text()->toPlainText() == "Downloading...0.0 MB/0.0MB(0.00MB/s)"; }, 3000));
    EXPECT_EQ(server.requests().size(), 1); // the lookup alone: no event without a release
    EXPECT_EQ(c.downloadTask(), nullptr);
    EXPECT_NE(animationForKey(c.imageView(), QStringLiteral("rotateAnimation")), nullptr);
}

struct TickCase {
    int64_t bytesThisSecond;
    int64_t written;
    int64_t expected;
    const char *status;
    int64_t speed;
};

class SpeedTickTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(SpeedTickTest, WritesTheStatusLineAndHighlightsTheAmount) {
    const TickCase &t = GetParam();
    ViewController c;
    c.writeInSecond = t.bytesThisSecond;
    c.totalBytesWritten = t.written;
    c.totalBytesExpectedToWrite = t.expected;
    c.calcSpeed();

    EXPECT_EQ(c.text()->toPlainText(), QString::fromUtf8(t.status));
    EXPECT_EQ(c.speed, t.speed);
    EXPECT_EQ(c.writeInSecond, 0);

    // The downloaded figure and " MB" in opaque white, the rest at 60 %.
    const QString status = c.text()->toPlainText();
    const int end = int(status.indexOf(QLatin1String(" MB"))) + 3;
    QTextCursor cursor(c.text()->document());
    for (int i = 0; i < status.size(); ++i) {
        cursor.setPosition(i + 1);
        const double alpha = cursor.charFormat().foreground().color().alphaF();
        if (i >= 14 && i < end)
            EXPECT_DOUBLE_EQ(alpha, 1.0) << i;
        else
            EXPECT_NEAR(alpha, 0.6, 0.01) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, SpeedTickTest,
    ::testing::Values(
        TickCase{1310720, 13107200, 83886080, "Downloading...12.5 MB/80.0MB(1.25MB/s)", 1280},
        TickCase{0, 0, 0, "Downloading...0.0 MB/0.0MB(0.00MB/s)", 0},
        TickCase{1023, 1023, 2048, "Downloading...0.0 MB/0.0MB(0.00MB/s)", 0},
        TickCase{1024, 1024, 2048, "Downloading...0.0 MB/0.0MB(0.00MB/s)", 1},
        TickCase{1048576, 1048576, 10485760, "Downloading...1.0 MB/10.0MB(1.00MB/s)", 1024},
        TickCase{5 << 20, 1181116006, 2362232012, "Downloading...1126.4 MB/2252.8MB(5.00MB/s)",
                 5120},
        // A server that sends no length.
        TickCase{2 << 20, 3 << 20, -1, "Downloading...3.0 MB(2.00MB/s)", 2048}));

} // namespace
