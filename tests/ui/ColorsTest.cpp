#include "ui/Colors.h"

#include <array>
#include <gtest/gtest.h>

// Alphas are multiples of 0.2 so that each lands on a whole 8-bit value.
TEST(HexColor, ReadsChannelsAndAlpha) {
    const struct {
        const char *text;
        double alpha;
        std::array<int, 4> rgba;
    } cases[] = {
        {"#FFC200", 1.0, {255, 194, 0, 255}},
        {"#1D1E25", 0.6, {29, 30, 37, 153}},
        {"#191B1D", 0.4, {25, 27, 29, 102}},
        {"#9ABCDE", 0.8, {0x9a, 0xbc, 0xde, 204}},
        {"#12345678", 0.2, {0x12, 0x34, 0x56, 0x78}}, // the last byte is the alpha
        {"#9abcdef0", 1.0, {0x9a, 0xbc, 0xde, 0xf0}}, // lower case
        {" \t#  1D1E25\n", 0.6, {29, 30, 37, 153}},   // blanks around and after "#"
        {"#xyz", 0.4, {0, 0, 0, 102}},                // unreadable: black
        {"#FFC200", 1.5, {255, 194, 0, 255}},         // alpha kept within 0...1
        {"#FFC200", -0.5, {255, 194, 0, 0}},
    };
    for (const auto &c : cases) {
        const QColor color = hexColor(QString::fromUtf8(c.text), c.alpha);
        EXPECT_EQ((std::array{color.red(), color.green(), color.blue(), color.alpha()}), c.rgba)
            << testing::PrintToString(c.text) << " at " << c.alpha;
    }
}
