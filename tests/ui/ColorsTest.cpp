#include "ui/Colors.h"

#include <gtest/gtest.h>

namespace {

struct ColorCase {
    const char *name;
    QString text;
    double alpha;
    double red, green, blue, expectedAlpha;
};

std::ostream &operator<<(std::ostream &out, const ColorCase &c) {
    return out << c.name;
}

// QColor keeps 16 bits per component.
constexpr double kTolerance = 1.0 / 65535;

constexpr double kFFC2[] = {1.0, 194 / 255.0, 0.0};

class HexColorTest : public testing::TestWithParam<ColorCase> {};

TEST_P(HexColorTest, ReadsTextLikeTheOriginal) {
    const ColorCase &c = GetParam();
    const QColor color = hexColor(c.text, c.alpha);
    ASSERT_TRUE(color.isValid());
    EXPECT_NEAR(color.redF(), c.red, kTolerance);
    EXPECT_NEAR(color.greenF(), c.green, kTolerance);
    EXPECT_NEAR(color.blueF(), c.blue, kTolerance);
    EXPECT_NEAR(color.alphaF(), c.expectedAlpha, kTolerance);
}

ColorCase yellow(const char *name, const QString &text, double alpha = 0.5) {
    return {name, text, alpha, kFFC2[0], kFFC2[1], kFFC2[2], alpha};
}

ColorCase black(const char *name, const QString &text, double alpha = 0.7) {
    return {name, text, alpha, 0, 0, 0, alpha};
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexColorTest,
    testing::Values(
        yellow("hash", "#FFC200"), yellow("noHash", "FFC200"), yellow("lowerCase", "#ffc200"),
        yellow("blankAfterHash", "# FFC200"), yellow("blanksAndNewline", "   #FFC200\n"),
        yellow("unicodeBlanks", QString::fromUtf16(u"\u2003\t#\u00a0FFC200\u2028")),
        yellow("plusSign", "#+FFC200"), yellow("opaque", "#FFC200", 1.0),
        ColorCase{"eightDigitsCarryAlpha", "#FFC20080", 0.3, 1.0, 194 / 255.0, 0.0, 128 / 255.0},
        ColorCase{"eightDigitsWithoutHash", " 191B1DFF ", 0.0, 25 / 255.0, 27 / 255.0, 29 / 255.0,
                  1.0},
        ColorCase{"threeDigitsAreNotShortHand", "#FFF", 0.4, 0.0, 15 / 255.0, 1.0, 0.4},
        ColorCase{"nineDigitsUseLow24Bits", "#123456789", 0.2, 0x45 / 255.0, 0x67 / 255.0,
                  0x89 / 255.0, 0.2},
        ColorCase{"largestReadableValue", "#7FFFFFFFFFFFFFFF", 0.9, 1.0, 1.0, 1.0, 0.9},
        ColorCase{"unreadableEightCharactersGiveTransparent", "#xyzxyzxy", 0.8, 0, 0, 0, 0},
        black("empty", ""), black("hashAlone", "#"), black("onlyBlanks", " \n\t"),
        black("notHex", "#xyz"), black("twoHashes", "##FFC200"), black("minusOne", "#-1"),
        black("minusZero", "#-0"), black("minusAlone", "#-"), black("plusAlone", "#+"),
        black("twoSigns", "#+-1"), black("blankInside", "#FF C200"),
        black("noHexPrefix", "#0xFFC2"),
        black("fullWidthDigits", QString::fromUtf16(u"#\uff11\uff12\uff13\uff14\uff15\uff16")),
        black("seventeenDigitsOverflow", "#1FFFFFFFFFFFFFFFF"),
        black("topBitSet", "#8000000000000000"),
        black("sevenCharactersWithCombiningMark", QString::fromUtf16(u"#abcdefa\u0301")),
        ColorCase{"alphaClampedHigh", "#FFC200", 1.5, 1.0, 194 / 255.0, 0.0, 1.0},
        ColorCase{"alphaClampedLow", "#FFC200", -0.5, 1.0, 194 / 255.0, 0.0, 0.0}),
    [](const testing::TestParamInfo<ColorCase> &info) { return std::string(info.param.name); });

TEST(HexColor, ScreenColoursHaveTheirBytes) {
    EXPECT_EQ(hexColor("#191B1D", 1.0).rgba(), qRgba(25, 27, 29, 255));
    EXPECT_EQ(hexColor("#1D1E25", 1.0).rgba(), qRgba(29, 30, 37, 255));
    EXPECT_EQ(hexColor("#FFC200", 1.0).rgba(), qRgba(255, 194, 0, 255));
    EXPECT_EQ(hexColor("#FFFFFF", 0.6).rgba(), qRgba(255, 255, 255, 153));
}

} // namespace
