#include "ui/Fonts.h"

#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <gtest/gtest.h>

namespace {

struct FaceCase {
    const char *name;
    int weight;
};

std::ostream &operator<<(std::ostream &out, const FaceCase &c) {
    return out << c.name;
}

class NamedFontTest : public testing::TestWithParam<FaceCase> {};

TEST_P(NamedFontTest, GivesTheRubikFaceAtPixelSize) {
    const FaceCase &face = GetParam();
    ASSERT_TRUE(QFile(QStringLiteral(":/fonts/%1.ttf").arg(face.name)).exists());
    const QFontInfo info(namedFont(face.name, 14));
    EXPECT_EQ(info.family(), "Rubik");
    EXPECT_EQ(info.weight(), face.weight);
    EXPECT_FALSE(info.italic());
    EXPECT_EQ(info.pixelSize(), 14);
}

INSTANTIATE_TEST_SUITE_P(Faces, NamedFontTest,
                         testing::Values(FaceCase{"Rubik-Regular", QFont::Normal},
                                         FaceCase{"Rubik-Medium", QFont::Medium},
                                         FaceCase{"Rubik-SemiBold", QFont::DemiBold},
                                         FaceCase{"Rubik-Bold", QFont::Bold}),
                         [](const auto &info) { return std::string(info.param.name).substr(6); });

TEST(NamedFont, SizeIsInDeviceIndependentPixels) {
    EXPECT_EQ(QFontInfo(namedFont("Rubik-Bold", 32)).pixelSize(), 32);
    EXPECT_EQ(QFontInfo(namedFont("Rubik-Medium", 16)).pixelSize(), 16);
}

TEST(NamedFont, UnknownNameFallsBackToTheApplicationFont) {
    const QFont font = namedFont("Rubik-Hairline", 14);
    EXPECT_EQ(font.family(), QGuiApplication::font().family());
    EXPECT_EQ(font.pixelSize(), 14);
}

TEST(NamedFont, RegisteringAgainChangesNothing) {
    const QFont before = namedFont("Rubik-SemiBold", 14);
    registerFonts();
    EXPECT_EQ(namedFont("Rubik-SemiBold", 14), before);
}

} // namespace
