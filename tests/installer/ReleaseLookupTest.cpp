#include "installer/ReleaseLookup.h"

#include "installer/ViewController.h"
#include "support/TestServer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

const QString kLookupPath = QStringLiteral("/v1/apps/latest");
const QUrl kArchive(QStringLiteral("https://cdn.example.test/builds/Plimbo-1.2.3.tar.gz"));

struct AnswerCase {
    const char *name;
    QByteArray body;
    bool givesUrl;
    const char *printed; // the start of what goes to standard output
};

class AnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, ReadsOnlyAnAbsoluteUpdateUrlOfAnObject) {
    const AnswerCase &c = GetParam();
    ::testing::internal::CaptureStdout();
    const std::optional<QUrl> url = archiveUrlFromAnswer(c.body);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(url.has_value(), c.givesUrl);
    if (c.givesUrl)
        EXPECT_EQ(*url, kArchive);
    if (*c.printed) {
        EXPECT_EQ(printed.rfind(c.printed, 0), 0u) << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    } else {
        EXPECT_EQ(printed, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerTest,
    ::testing::Values(
        AnswerCase{"address",
                   R"({"updateUrl":"https://cdn.example.test/builds/Plimbo-1.2.3.tar.gz"})", true,
                   ""},
        AnswerCase{
            "otherKeys",
            R"({"version":"1.2.3","updateUrl":"https://cdn.example.test/builds/Plimbo-1.2.3.tar.gz","notes":[1,2]})",
            true, ""},
        AnswerCase{"htmlPage", "<html><body>502 Bad Gateway</body></html>", false,
                   "Failed to load: "},
        AnswerCase{"emptyBody", "", false, "Failed to load: "},
        AnswerCase{"truncatedObject", R"({"updateUrl":"https://cdn)", false, "Failed to load: "},
        AnswerCase{"array", R"(["https://cdn.example.test/builds/Plimbo-1.2.3.tar.gz"])", false,
                   ""},
        AnswerCase{"emptyText", R"({"updateUrl":""})", false, ""},
        AnswerCase{"missing", R"({"url":"https://cdn.example.test/a.tar.gz"})", false, ""},
        AnswerCase{"null", R"({"updateUrl":null})", false, ""},
        AnswerCase{"number", R"({"updateUrl":42})", false, ""},
        AnswerCase{"relative", R"({"updateUrl":"builds/Plimbo.tar.gz"})", false, ""},
        AnswerCase{"malformed", R"({"updateUrl":"https://cdn example/a b"})", false, ""},
        AnswerCase{"loneSurrogate",
                   R"({"updateUrl":"https://cdn.example.test/builds/Plimbo\ude00.tar.gz"})", false,
                   ""},
        AnswerCase{"highSurrogateAlone",
                   R"({"updateUrl":"https://cdn.example.test/builds/Plimbo.tar.gz#\ud83d"})", false,
                   ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AnswerTextTest, EscapedSurrogatePairIsOneCharacter) {
    const std::optional<QUrl> url = archiveUrlFromAnswer(
        R"({"updateUrl":"https://cdn.example.test/builds/\ud83d\ude00.tar.gz"})");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path(), QStringLiteral("/builds/\U0001F600.tar.gz"));
    EXPECT_EQ(url->toEncoded(), "https://cdn.example.test/builds/%F0%9F%98%80.tar.gz");
}

class LookupTest : public ::testing::Test {
  protected:
    std::optional<QUrl> lookUp(const TestServer &server, int timeoutMs = 60000) {
        Deployment deployment = compiledDeployment();
        deployment.releaseService = server.url().toString(QUrl::RemovePath);
        deployment.extraCaFile = TestServer::caFile();
        ViewController controller(deployment, ControllerTimings{timeoutMs});
        return controller.fetchLatestReleaseURL();
    }
};

TEST_F(LookupTest, SendsOneGetWithTheFixedQueryAndNoAddedHeader) {
    TestServer server(TestServer::Tls::On);
    server.setResponse(kLookupPath, {200, {}, R"({"updateUrl":")" + kArchive.toEncoded() + "\"}"});

    EXPECT_EQ(lookUp(server), kArchive);

    const QList<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, kLookupPath.toUtf8());
    EXPECT_EQ(requests[0].query, "store=CONSOLE_ZIP&platform=CONSOLE_OSX");
    EXPECT_EQ(requests[0].body, "");
    for (const auto &[name, value] : requests[0].headers)
        EXPECT_TRUE(name.compare("Host", Qt::CaseInsensitive) == 0 ||
                    name.compare("Accept", Qt::CaseInsensitive) == 0)
            << name.constData();
}

TEST_F(LookupTest, UsesAConformingAnswerWhateverTheStatus) {
    TestServer server(TestServer::Tls::On);
    server.setResponse(kLookupPath, {500, {}, R"({"updateUrl":")" + kArchive.toEncoded() + "\"}"});
    EXPECT_EQ(lookUp(server), kArchive);
}

TEST_F(LookupTest, GivesNoUrlForAnHtmlErrorPage) {
    TestServer server(TestServer::Tls::On);
    server.setResponse(kLookupPath, {503, {}, "<html>Service Unavailable</html>"});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lookUp(server), std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("Failed to load: ", 0), 0u);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(LookupTest, RefusesACertificateNobodyTrusts) {
    TestServer server(TestServer::Tls::Untrusted);
    server.setResponse(kLookupPath, {200, {}, R"({"updateUrl":")" + kArchive.toEncoded() + "\"}"});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lookUp(server), std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("Failed to load: ", 0), 0u);
}

TEST_F(LookupTest, ReturnsWhenNothingListens) {
    quint16 closedPort;
    {
        TestServer gone;
        closedPort = gone.port();
    }
    Deployment deployment = compiledDeployment();
    deployment.releaseService = QStringLiteral("https://127.0.0.1:%1").arg(closedPort);
    ViewController controller(deployment);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(controller.fetchLatestReleaseURL(), std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("Failed to load: ", 0), 0u);
}

TEST_F(LookupTest, GivesUpWhenTheServiceNeverAnswers) {
    TestServer server(TestServer::Tls::On);
    TestResponse silent;
    silent.stallBeforeHeaders = true;
    server.setResponse(kLookupPath, silent);
    QElapsedTimer clock;
    clock.start();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lookUp(server, 1000), std::nullopt);
    ::testing::internal::GetCapturedStdout();
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(server.requests().size(), 1);
}

} // namespace
