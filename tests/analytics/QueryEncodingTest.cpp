#include "analytics/QueryEncoding.h"

#include <gtest/gtest.h>

namespace {

TEST(QueryEncodingTest, TextKeepsOnlyTheListedCharacters) {
    const QList<QPair<QString, QByteArray>> cases{
        {QString(), ""},
        {QStringLiteral("AZaz09-._~"), "AZaz09-._~"},
        {QStringLiteral("!$'()*,;:@/?"), "!$'()*,;:@/?"},
        {QStringLiteral("a+b"), "a%2Bb"},
        {QStringLiteral("a b&c=d#e%f"), "a%20b%26c%3Dd%23e%25f"},
        {QStringLiteral("\"<>[\\]^`{|}"), "%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
        {QStringLiteral("\t\n\x7f"), "%09%0A%7F"},
        {QStringLiteral("café ☕"), "caf%C3%A9%20%E2%98%95"},
        {QStringLiteral("\U0001F600"), "%F0%9F%98%80"},
        {QStringLiteral("é").normalized(QString::NormalizationForm_D), "e%CC%81"},
    };
    for (const auto &[text, encoded] : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(encodeQueryText(text), encoded);
    }
}

TEST(QueryEncodingTest, ItemsAreJoinedInOrderWithBareNamesForAbsentValues) {
    const QList<QPair<QList<QueryItem>, QByteArray>> cases{
        {{}, ""},
        {{{QStringLiteral("dl"), std::nullopt}}, "dl"},
        {{{QStringLiteral("b"), QStringLiteral("2")},
          {QStringLiteral("dl"), std::nullopt},
          {QStringLiteral("a"), QStringLiteral("1")}},
         "b=2&dl&a=1"},
        {{{QStringLiteral("empty"), QString()}, {QStringLiteral("x"), QStringLiteral("=")}},
         "empty=&x=%3D"},
        {{{QStringLiteral("ep.a=b&c"), QStringLiteral("+")}}, "ep.a%3Db%26c=%2B"},
        {{{QString(), std::nullopt}, {QStringLiteral("e\\"), std::nullopt}}, "&e%5C"},
        {{{QStringLiteral("a"), std::nullopt}, {QString(), std::nullopt}}, "a&"},
        {{{QString(), std::nullopt}, {QString(), std::nullopt}, {QString(), QString()}}, "&&="},
    };
    for (const auto &[items, query] : cases) {
        SCOPED_TRACE(query.toStdString());
        EXPECT_EQ(encodeQuery(items), query);
    }
}

} // namespace
