#include "archive/ArchiveWriter.h"
#include "installer/ControllerFixture.h"
#include "platform/ViewAnimations.h"
#include "ui/ImageView.h"

#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

using F = ControllerFixture;

// From the lookup to the success panel through a broken transfer: the download resumes from
// where it broke, the archive is unpacked, and the hits tell the story in order.
TEST(InstallationTest, ResumesABrokenDownloadAndEndsOnTheSuccessPanel) {
    TestServer server(TestServer::Tls::On);
    F fixture(server);
    ViewController &c = *fixture.controller;

    QByteArray payload(3 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(payload.data()),
                                  payload.size() / sizeof(quint32));
    const QString archivePath = fixture.folder.filePath(QStringLiteral("served.tar.gz"));
    {
        ArchiveWriter writer(archivePath);
        writer.addDirectory("Contents");
        writer.addFile("Contents/Info.plist", "<plist/>");
        writer.addFile("Contents/Resources/blob.bin", payload);
    }
    QFile served(archivePath);
    ASSERT_TRUE(served.open(QIODevice::ReadOnly));
    const QByteArray archive = served.readAll();

    const QUrl archiveUrl = server.url(QStringLiteral("/Plimbo.tar.gz"));
    server.setResponse(QStringLiteral("/v1/apps/latest"),
                       {200, {}, R"({"updateUrl":")" + archiveUrl.toEncoded() + "\"}"});
    std::atomic<int> attempts = 0;
    server.setHandler(QStringLiteral("/Plimbo.tar.gz"), [&](const RecordedRequest &request) {
        TestResponse response = serveFile(request, archive, "\"v1\"");
        if (attempts++ == 0)
            response.cutAfterBytes = archive.size() / 2;
        return response;
    });

    c.viewDidLoad();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.view()->findChildren<QPushButton *>().size() == 1; },
                                20000));

    EXPECT_EQ(c.autoRetryCount, 1);
    const QList<RecordedRequest> downloads = server.requestsTo(QStringLiteral("/Plimbo.tar.gz"));
    ASSERT_EQ(downloads.size(), 2);
    EXPECT_EQ(downloads[1].header("If-Range"), "\"v1\"");
    QFile installed(fixture.deployment.installPath +
                    QStringLiteral("/Contents/Resources/blob.bin"));
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(installed.readAll() == payload);
    QFile moved(fixture.deployment.archivePath);
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(moved.readAll() == archive);

    ASSERT_TRUE(server.waitForRequests(QStringLiteral("/g/collect"), 3));
    QStringList events;
    QList<RecordedRequest> hits = server.requestsTo(QStringLiteral("/g/collect"));
    std::sort(hits.begin(), hits.end(), [](const auto &a, const auto &b) {
        return F::queryItem(a, "_s").toInt() < F::queryItem(b, "_s").toInt();
    });
    for (const RecordedRequest &hit : hits) {
        const QByteArray event = F::queryItem(hit, "en");
        if (event != "installer_download_progress_spot")
            events << QString::fromUtf8(event);
        if (event == "installer_finish_download") {
            EXPECT_EQ(F::queryItem(hit, "ep.auto_retry_count"), "1");
            EXPECT_TRUE(QString::fromUtf8(F::queryItem(hit, "ep.duration"))
                            .contains(QRegularExpression(QStringLiteral("^[0-9]+\\.[0-9]+$"))));
        }
    }
    EXPECT_EQ(events, QStringList({"installer_start_download", "installer_finish_download",
                                   "installer_ungzip"}));
}

} // namespace
