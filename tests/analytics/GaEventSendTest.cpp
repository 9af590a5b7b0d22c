#include "analytics/GaEvent.h"
#include "analytics/ScriptedEnvironment.h"
#include "analytics/StdoutCapture.h"
#include "support/LoopbackPort.h"
#include "support/TestServer.h"

#include <QSet>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

namespace {

const QString collectPath = QStringLiteral("/g/collect");

// Query items as sent: raw name, raw value or none for a bare name.
using RawItems = QList<QPair<QByteArray, std::optional<QByteArray>>>;

RawItems rawItems(const QByteArray &query) {
    RawItems items;
    for (const QByteArray &item : query.split('&')) {
        const qsizetype equals = item.indexOf('=');
        if (equals < 0)
            items.append({item, std::nullopt});
        else
            items.append({item.left(equals), item.mid(equals + 1)});
    }
    return items;
}

QByteArray rawValue(const RecordedRequest &request, const QByteArray &name) {
    for (const auto &[itemName, value] : rawItems(request.query)) {
        if (itemName == name)
            return value.value_or(QByteArray());
    }
    ADD_FAILURE() << "no item " << name.toStdString() << " in " << request.query.toStdString();
    return {};
}

QString loopbackEndpoint(const char *scheme, quint16 port) {
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

class GaEventSendTest : public testing::Test {
  protected:
    GaEventSendTest() {
        server.setResponse(collectPath, {204});
        scripted.endpoint = loopbackEndpoint("http", server.port());
    }

    QList<RecordedRequest> hits(int count) {
        EXPECT_TRUE(server.waitForRequests(collectPath, count)) << count << " hits expected";
        return server.requestsTo(collectPath);
    }

    TestServer server;
    ScriptedEnvironment scripted;
};

TEST_F(GaEventSendTest, AHitCarriesEveryFieldOnceWithItsParameters) {
    scripted.writeSettingsFile(
        "[General]\nSOFTWARE.plimbo.Installer.CLIENT_ID=1234.1700000000000\n");
    scripted.randomDraws = {0x0000000500000000};
    scripted.clockReadings = {1700000000.5};
    scripted.languages = {QStringLiteral("en-GB"), QStringLiteral("fr")};
    scripted.run()->send(QStringLiteral("finish_download"),
                         {{QStringLiteral("duration"), QStringLiteral("90000.0")},
                          {QStringLiteral("auto_retry_count"), QStringLiteral("2")}});

    const RecordedRequest hit = hits(1).value(0);
    EXPECT_EQ(hit.path, "/g/collect");
    RawItems items = rawItems(hit.query);
    RawItems expected{{"v", "2"},
                      {"tid", "G-TEST000001"},
                      {"gtm", "2oe4k0"},
                      {"_p", "5"},
                      {"_z", "ccd.NbB"},
                      {"cid", "1234.1700000000000"},
                      {"ul", "en-gb"},
                      {"sr", "1920x1080"},
                      {"_s", "1"},
                      {"sid", "1700000000500"},
                      {"sct", "1"},
                      {"seg", "1"},
                      {"av", "1.0.0"},
                      {"en", "installer_finish_download"},
                      {"dl", std::nullopt},
                      {"dt", "Plimbo%20Mac%20Installer"},
                      {"ep.duration", "90000.0"},
                      {"ep.auto_retry_count", "2"}};
    std::sort(items.begin(), items.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(items, expected) << hit.query.toStdString();
}

TEST_F(GaEventSendTest, AHitIsABodilessPostWithItsFourHeadersInOrder) {
    scripted.run()->send(QStringLiteral("ungzip"));

    const RecordedRequest hit = hits(1).value(0);
    EXPECT_EQ(hit.method, "POST");
    EXPECT_TRUE(hit.body.isEmpty());
    const QList<QPair<QByteArray, QByteArray>> expected{{"Content-Type", "application/json"},
                                                        {"Origin", "https://plimbo.invalid"},
                                                        {"Referrer", "https://plimbo.invalid"},
                                                        {"User-Agent", "Plimbo/1.0.0 (macos)"}};
    QList<QPair<QByteArray, QByteArray>> sent;
    for (const auto &header : hit.headers) {
        if (std::any_of(expected.begin(), expected.end(), [&](const auto &wanted) {
                return wanted.first.compare(header.first, Qt::CaseInsensitive) == 0;
            }))
            sent.append(header);
    }
    EXPECT_EQ(sent, expected);
    EXPECT_TRUE(hit.header("Referer").isEmpty());
}

TEST_F(GaEventSendTest, AnEventWithoutParametersHasTheSixteenFixedItems) {
    scripted.run()->send(QStringLiteral("ungzip"));

    const RecordedRequest hit = hits(1).value(0);
    const RawItems items = rawItems(hit.query);
    QList<QByteArray> names;
    for (const auto &[name, value] : items)
        names.append(name);
    std::sort(names.begin(), names.end());
    const QList<QByteArray> fixed{"_p",  "_s",  "_z",  "av",  "cid", "dl",  "dt", "en",
                                  "gtm", "sct", "seg", "sid", "sr",  "tid", "ul", "v"};
    EXPECT_EQ(names, fixed) << hit.query.toStdString();
    EXPECT_TRUE(items.contains({"dl", std::nullopt}));
    EXPECT_EQ(rawValue(hit, "en"), "installer_ungzip");
}

TEST_F(GaEventSendTest, ParametersReachTheEndpointEncodedExactly) {
    QString ascii;
    for (char16_t c = 0x20; c < 0x7f; ++c)
        ascii += QChar(c);
    const QList<std::tuple<QString, QString, QByteArray>> cases{
        {QStringLiteral("url"), QStringLiteral("https://cdn.example/a b/P.tar.gz?x=1&y=2#top"),
         "ep.url=https://cdn.example/a%20b/P.tar.gz?x%3D1%26y%3D2%23top"},
        {QStringLiteral("auto_retry_count"), QStringLiteral("2"), "ep.auto_retry_count=2"},
        {QStringLiteral("plus"), QStringLiteral("1+1"), "ep.plus=1%2B1"},
        {QStringLiteral("percent"), QStringLiteral("100%25"), "ep.percent=100%2525"},
        {QStringLiteral("accent"), QStringLiteral("Zürich ☕"), "ep.accent=Z%C3%BCrich%20%E2%98%95"},
        {QStringLiteral("empty"), QString(), "ep.empty="},
        {QStringLiteral("a=b&c"), QStringLiteral("d"), "ep.a%3Db%26c=d"},
        {QStringLiteral("ascii"), ascii,
         "ep.ascii=%20!%22%23$%25%26'()*%2B,-./0123456789:;%3C%3D%3E?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
         "%5B%5C%5D%5E_%60abcdefghijklmnopqrstuvwxyz%7B%7C%7D~"},
    };
    QMap<QString, QString> parameters;
    for (const auto &[name, value, encoded] : cases)
        parameters.insert(name, value);
    scripted.run()->send(QStringLiteral("start_download"), parameters);

    const RecordedRequest hit = hits(1).value(0);
    const QList<QByteArray> sent = hit.query.split('&');
    EXPECT_EQ(sent.size(), 16 + cases.size());
    for (const auto &[name, value, encoded] : cases)
        EXPECT_TRUE(sent.contains(encoded))
            << encoded.toStdString() << " not in " << hit.query.toStdString();
    EXPECT_FALSE(hit.query.contains('+'));
}

TEST_F(GaEventSendTest, HitNumbersFollowTheOrderOfTheCalls) {
    const auto event = scripted.run();
    for (int call = 1; call <= 5; ++call)
        event->send(QStringLiteral("download_progress_spot"),
                    {{QStringLiteral("call"), QString::number(call)}});

    const QList<RecordedRequest> received = hits(5);
    ASSERT_EQ(received.size(), 5);
    for (const RecordedRequest &hit : received)
        EXPECT_EQ(rawValue(hit, "_s"), rawValue(hit, "ep.call"));
    EXPECT_EQ(event->_sessionHitsCount.load(), 5);
}

TEST_F(GaEventSendTest, HitsSentAtOnceFromEightThreadsCarryDistinctNumbers) {
    constexpr int threadCount = 8;
    constexpr int hitsPerThread = 25;
    const auto event = scripted.run();
    std::latch start(threadCount); // all threads begin together, so that their sends overlap
    std::vector<std::thread> senders;
    for (int thread = 0; thread < threadCount; ++thread) {
        senders.emplace_back([&event, &start] {
            start.arrive_and_wait();
            for (int hit = 0; hit < hitsPerThread; ++hit)
                event->send(QStringLiteral("download_progress_spot"));
        });
    }
    for (std::thread &sender : senders)
        sender.join();

    QSet<int> numbers;
    for (const RecordedRequest &hit : hits(threadCount * hitsPerThread))
        numbers.insert(rawValue(hit, "_s").toInt());
    QSet<int> expected;
    for (int number = 1; number <= threadCount * hitsPerThread; ++number)
        expected.insert(number);
    EXPECT_EQ(numbers, expected);
}

TEST_F(GaEventSendTest, HitsReachAnHttpsEndpointTrustedThroughTheExtraCaFile) {
    TestServer secure(TestServer::Tls::On);
    secure.setResponse(collectPath, {204});
    scripted.endpoint = loopbackEndpoint("https", secure.port());
    scripted.extraCaFile = TestServer::caFile();
    scripted.run()->send(QStringLiteral("launch_plimbo"));
    EXPECT_TRUE(secure.waitForRequests(collectPath, 1));
}

TEST_F(GaEventSendTest, AnAnswerBodyIsPrintedOnStandardOutput) {
    const QList<std::tuple<int, QByteArray, QByteArray>> cases{
        {200, "{\"status\":\"ok\"}", "{\"status\":\"ok\"}\n"},
        {204, "", "\n"},
        {400, "bad request", "bad request\n"},
        {200, "caf\xc3\xa9", "caf\xc3\xa9\n"},
    };
    const auto event = scripted.run();
    for (const auto &[status, body, printed] : cases) {
        SCOPED_TRACE(body.toStdString());
        server.setResponse(collectPath, {status, {}, body});
        QByteArray output;
        bool seen = false;
        {
            StdoutCapture capture;
            event->send(QStringLiteral("ungzip"));
            seen = capture.waitFor(printed);
            output = capture.text();
        }
        EXPECT_TRUE(seen) << "printed: " << output.toStdString();
    }
}

// Whatever the sender printed for a failure would come before the marker that a later hit prints.
TEST_F(GaEventSendTest, NothingIsPrintedForAFailedRequestOrABodyThatIsNotUtf8) {
    server.setHandler(collectPath, [](const RecordedRequest &request) {
        if (request.query.contains("ep.body=lead"))
            return TestResponse{200, {}, "\xff ok"};
        if (request.query.contains("ep.body=tail"))
            return TestResponse{200, {}, "ok \xc3"};
        return TestResponse{200, {}, "marker"};
    });
    const LoopbackPort refusing(false); // bound, never listening
    ScriptedEnvironment unreachable;
    unreachable.endpoint = loopbackEndpoint("http", refusing.port());
    const auto event = scripted.run();

    QByteArray output;
    bool seen = false;
    {
        StdoutCapture capture;
        unreachable.run()->send(QStringLiteral("ungzip"));
        event->send(QStringLiteral("ungzip"), {{QStringLiteral("body"), QStringLiteral("lead")}});
        event->send(QStringLiteral("ungzip"), {{QStringLiteral("body"), QStringLiteral("tail")}});
        server.waitForRequests(collectPath, 2);
        event->send(QStringLiteral("ungzip"));
        seen = capture.waitFor("marker\n");
        QThread::msleep(200);
        output = capture.text();
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(output, "marker\n");
}

} // namespace
