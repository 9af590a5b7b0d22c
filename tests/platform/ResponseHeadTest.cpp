#include "platform/ResponseHead.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

ResponseHead headOf(std::initializer_list<const char *> lines) {
    ResponseHead head;
    for (const char *line : lines)
        head.addLine(QByteArray(line) + "\r\n");
    return head;
}

TEST(ResponseHeadTest, KeepsOnlyTheLatestResponse) {
    const ResponseHead head = headOf({"HTTP/1.1 302 Found", "Location: /elsewhere", "ETag: \"a\"",
                                      "", "HTTP/2 206", "content-range: bytes 5-9/10", ""});
    EXPECT_EQ(head.status(), 206);
    EXPECT_TRUE(head.value("Location").isEmpty());
    EXPECT_TRUE(head.validator().isEmpty());
    EXPECT_EQ(head.value("Content-Range"), "bytes 5-9/10");
}

struct RangeCase {
    const char *value;
    qint64 first, last, completeLength; // first -1: rejected
};

void PrintTo(const RangeCase &range, std::ostream *out) {
    *out << '"' << range.value << '"';
}

class ContentRangeParsing : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ContentRangeParsing, Value) {
    const RangeCase &expected = GetParam();
    const std::optional<ResponseHead::ContentRange> range =
        headOf({"HTTP/1.1 206 Partial Content",
                (QByteArray("Content-Range: ") + expected.value).constData()})
            .contentRange();
    if (expected.first < 0) {
        EXPECT_EQ(range, std::nullopt);
        return;
    }
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, expected.first);
    EXPECT_EQ(range->last, expected.last);
    EXPECT_EQ(range->completeLength, expected.completeLength);
}

INSTANTIATE_TEST_SUITE_P(
    ResponseHeadTest, ContentRangeParsing,
    ::testing::Values(RangeCase{"bytes 0-9/10", 0, 9, 10}, RangeCase{"bytes 5-9/*", 5, 9, -1},
                      RangeCase{"bytes 9-5/10", -1, 0, 0}, RangeCase{"bytes 0-10/10", -1, 0, 0},
                      RangeCase{"bytes */10", -1, 0, 0}, RangeCase{"bytes -5-9/10", -1, 0, 0},
                      RangeCase{"bytes +5-9/10", -1, 0, 0}, RangeCase{"bytes 0-9/ten", -1, 0, 0},
                      RangeCase{"bytes 0-9", -1, 0, 0}, RangeCase{"items 0-9/10", -1, 0, 0},
                      RangeCase{"", -1, 0, 0}));

struct LengthCase {
    std::vector<const char *> fields;
    qint64 length;
};

class ContentLengthParsing : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ContentLengthParsing, Fields) {
    ResponseHead head = headOf({"HTTP/1.1 200 OK"});
    for (const char *field : GetParam().fields)
        head.addLine(field);
    EXPECT_EQ(head.contentLength(), GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(
    ResponseHeadTest, ContentLengthParsing,
    ::testing::Values(LengthCase{{"Content-Length: 1234"}, 1234}, LengthCase{{}, -1},
                      LengthCase{{"Content-Length: 12 34"}, -1},
                      LengthCase{{"Content-Length: -5"}, -1},
                      LengthCase{{"Content-Length: 99999999999999999999999"}, -1},
                      LengthCase{{"Content-Length: 10", "Transfer-Encoding: chunked"}, -1}));

TEST(ResponseHeadTest, PrefersAStrongETagAsValidator) {
    EXPECT_EQ(headOf({"HTTP/1.1 200 OK", "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT",
                      "ETag: \"strong\""})
                  .validator(),
              "\"strong\"");
    EXPECT_EQ(headOf({"HTTP/1.1 200 OK", "ETag: W/\"weak\"",
                      "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT"})
                  .validator(),
              "Mon, 01 Jan 2024 00:00:00 GMT");
    EXPECT_TRUE(headOf({"HTTP/1.1 200 OK", "ETag: W/\"weak\""}).validator().isEmpty());
    EXPECT_TRUE(headOf({"HTTP/1.1 200 OK", "ETag: \"a\"\rX-Injected: 1"}).validator().isEmpty());
}

TEST(ResponseHeadTest, AcceptsByteRangesOnlyWhenSaid) {
    EXPECT_TRUE(headOf({"HTTP/1.1 200 OK", "Accept-Ranges: bytes"}).acceptsByteRanges());
    EXPECT_TRUE(headOf({"HTTP/1.1 200 OK", "accept-ranges: none, Bytes"}).acceptsByteRanges());
    EXPECT_FALSE(headOf({"HTTP/1.1 200 OK", "Accept-Ranges: none"}).acceptsByteRanges());
    EXPECT_FALSE(headOf({"HTTP/1.1 200 OK"}).acceptsByteRanges());
}

} // namespace
