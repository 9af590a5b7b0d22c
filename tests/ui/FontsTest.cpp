#include "ui/Fonts.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <gtest/gtest.h>

// Each face is the compiled Rubik at its own weight, whichever is asked for first; a name the
// program does not carry gives the application's face.
TEST(NamedFont, GivesTheCompiledFaceAtItsWeight) {
    const struct {
        const char *name;
        QFont::Weight weight;
    } faces[] = {{"Rubik-Bold", QFont::Bold},
                 {"Rubik-Regular", QFont::Normal},
                 {"Rubik-SemiBold", QFont::DemiBold},
                 {"Rubik-Medium", QFont::Medium}};
    for (const auto &face : faces) {
        const QFontInfo shown(namedFont(face.name, 14));
        EXPECT_EQ(shown.family(), "Rubik") << face.name;
        EXPECT_EQ(shown.weight(), face.weight) << face.name;
        EXPECT_EQ(shown.pixelSize(), 14) << face.name;
    }
    EXPECT_EQ(namedFont("Rubik-Thin", 14).family(), QGuiApplication::font().family());
}
