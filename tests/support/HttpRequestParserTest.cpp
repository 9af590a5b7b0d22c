#include "support/HttpRequestParser.h"

#include <gtest/gtest.h>

namespace {

using Result = HttpRequestParser::Result;

const QByteArray postWithBody = "POST /submit?a=1&b=%20 HTTP/1.1\r\n"
                                "Host: 127.0.0.1\r\n"
                                "X-First:  one \r\n"
                                "x-first: again\r\n"
                                "Content-Length: 11\r\n"
                                "\r\n"
                                "hello world";

void expectPostWithBody(const RecordedRequest &request) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/submit");
    EXPECT_EQ(request.query, "a=1&b=%20");
    EXPECT_EQ(request.version, "HTTP/1.1");
    ASSERT_EQ(request.headers.size(), 4);
    EXPECT_EQ(request.headers[1], qMakePair(QByteArray("X-First"), QByteArray("one")));
    EXPECT_EQ(request.headers[2], qMakePair(QByteArray("x-first"), QByteArray("again")));
    EXPECT_EQ(request.header("X-FIRST"), "one");
    EXPECT_EQ(request.header("Absent"), QByteArray());
    EXPECT_EQ(request.body, "hello world");
}

TEST(HttpRequestParserTest, ReadsWholeRequest) {
    HttpRequestParser parser;
    parser.append(postWithBody);
    RecordedRequest request;
    ASSERT_EQ(parser.next(request), Result::Complete);
    expectPostWithBody(request);
    EXPECT_EQ(parser.next(request), Result::Incomplete);
}

TEST(HttpRequestParserTest, ReadsRequestArrivingByteByByte) {
    HttpRequestParser parser;
    RecordedRequest request;
    for (qsizetype i = 0; i + 1 < postWithBody.size(); ++i) {
        parser.append(postWithBody.mid(i, 1));
        ASSERT_EQ(parser.next(request), Result::Incomplete) << "after byte " << i;
    }
    parser.append(postWithBody.right(1));
    ASSERT_EQ(parser.next(request), Result::Complete);
    expectPostWithBody(request);
}

TEST(HttpRequestParserTest, SplitsPipelinedRequests) {
    HttpRequestParser parser;
    parser.append("GET /one HTTP/1.1\nHost: a\n\n" // bare line feeds are tolerated
                  "\r\nGET /two HTTP/1.1\r\nHost: a\r\n\r\nGET /thr");
    RecordedRequest first, second, third;
    ASSERT_EQ(parser.next(first), Result::Complete);
    ASSERT_EQ(parser.next(second), Result::Complete);
    EXPECT_EQ(parser.next(third), Result::Incomplete);
    parser.append("ee HTTP/1.1\r\n\r\n");
    ASSERT_EQ(parser.next(third), Result::Complete);
    EXPECT_EQ(first.path, "/one");
    EXPECT_EQ(second.path, "/two");
    EXPECT_EQ(third.path, "/three");
    EXPECT_TRUE(third.body.isEmpty());
}

TEST(HttpRequestParserTest, DecodesChunkedBody) {
    HttpRequestParser parser;
    parser.append("PUT /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "5;name=value\r\nhello\r\n1\r\n \r\nA\r\n0123456789\r\n");
    RecordedRequest request;
    EXPECT_EQ(parser.next(request), Result::Incomplete);
    parser.append("0\r\nX-Trailer: dropped\r\n\r\nGET /next HTTP/1.1\r\n\r\n");
    ASSERT_EQ(parser.next(request), Result::Complete);
    EXPECT_EQ(request.body, "hello 0123456789");
    ASSERT_EQ(parser.next(request), Result::Complete);
    EXPECT_EQ(request.path, "/next");
}

TEST(HttpRequestParserTest, AsksForContinueOnlyWhileTheBodyIsMissing) {
    const QByteArray head = "POST /p HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\n";
    HttpRequestParser waiting;
    waiting.append(head);
    RecordedRequest request;
    EXPECT_EQ(waiting.next(request), Result::Incomplete);
    EXPECT_TRUE(waiting.takeContinueRequest());
    EXPECT_FALSE(waiting.takeContinueRequest());
    waiting.append("abc");
    EXPECT_EQ(waiting.next(request), Result::Complete);
    EXPECT_EQ(request.body, "abc");

    HttpRequestParser eager;
    eager.append(head + "abc");
    EXPECT_EQ(eager.next(request), Result::Complete);
    EXPECT_FALSE(eager.takeContinueRequest());
}

TEST(HttpRequestParserTest, RejectsMalformedRequests) {
    const QList<QByteArray> inputs = {
        "GET /\r\n\r\n",
        "GET  / HTTP/1.1\r\n\r\n",
        "GET / SPDY/3\r\n\r\n",
        "GET / HTTP/1.1\r\nNo colon here\r\n\r\n",
        "GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n",
        "GET / HTTP/1.1\r\nBad Name: b\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
        "POST / HTTP/1.1\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n",
        "POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n",
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n",
        "GET / HTTP/1.1\r\nX: " + QByteArray(70 * 1024, 'a'),
    };
    for (const QByteArray &input : inputs) {
        HttpRequestParser parser;
        parser.append(input);
        RecordedRequest request;
        EXPECT_EQ(parser.next(request), Result::Malformed) << input.left(80).constData();
        parser.append("GET / HTTP/1.1\r\n\r\n");
        EXPECT_EQ(parser.next(request), Result::Malformed) << "recovered after bad input";
    }
}

TEST(HttpRequestParserTest, AcceptsRepeatedEqualContentLength) {
    HttpRequestParser parser;
    parser.append("POST / HTTP/1.0\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nok");
    RecordedRequest request;
    ASSERT_EQ(parser.next(request), Result::Complete);
    EXPECT_EQ(request.body, "ok");
    EXPECT_EQ(request.version, "HTTP/1.0");
}

} // namespace
