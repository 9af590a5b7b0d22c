#include "platform/ResumeData.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

const ResumeData sample{QUrl("https://example.test/archive.tar.gz"), "/tmp/plimbo-download-abc123",
                        123456789012, "\"etag-1\""};

TEST(ResumeDataTest, ReadsBackWhatItWrote) {
    const std::optional<ResumeData> read = ResumeData::parse(sample.serialise());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->url, sample.url);
    EXPECT_EQ(read->partialFile, sample.partialFile);
    EXPECT_EQ(read->bytesWritten, sample.bytesWritten);
    EXPECT_EQ(read->validator, sample.validator);
}

struct Corruption {
    const char *name;
    std::function<QByteArray()> data;
};

void PrintTo(const Corruption &corruption, std::ostream *out) {
    *out << corruption.name;
}

ResumeData changed(const std::function<void(ResumeData &)> &change) {
    ResumeData data = sample;
    change(data);
    return data;
}

class ResumeDataRejects : public ::testing::TestWithParam<Corruption> {};

TEST_P(ResumeDataRejects, Data) {
    EXPECT_EQ(ResumeData::parse(GetParam().data()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    ResumeDataTest, ResumeDataRejects,
    ::testing::Values(
        Corruption{"Empty", [] { return QByteArray(); }},
        Corruption{"OtherFormat", [] { return QByteArray("{\"url\":\"https://x\"}"); }},
        Corruption{"Truncated", [] { return sample.serialise().chopped(1); }},
        Corruption{"TrailingBytes", [] { return sample.serialise() + '\0'; }},
        Corruption{"LaterVersion",
                   [] {
                       QByteArray data = sample.serialise();
                       data[5] = 2; // the version follows the four-byte magic
                       return data;
                   }},
        Corruption{"NothingWritten",
                   [] { return changed([](ResumeData &d) { d.bytesWritten = 0; }).serialise(); }},
        Corruption{"NoValidator",
                   [] { return changed([](ResumeData &d) { d.validator.clear(); }).serialise(); }},
        Corruption{"HeaderInjection",
                   [] {
                       return changed([](ResumeData &d) { d.validator = "\"a\"\r\nX-Evil: 1"; })
                           .serialise();
                   }},
        Corruption{
            "NoFile",
            [] { return changed([](ResumeData &d) { d.partialFile.clear(); }).serialise(); }},
        Corruption{"NoUrl",
                   [] { return changed([](ResumeData &d) { d.url = QUrl(); }).serialise(); }}),
    [](const ::testing::TestParamInfo<Corruption> &info) { return info.param.name; });

} // namespace
