#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>

namespace {

struct Face {
    const char *name;
    QFont::Weight weight;
};

constexpr Face kFaces[] = {
    {"Rubik-Regular", QFont::Normal},
    {"Rubik-Medium", QFont::Medium},
    {"Rubik-SemiBold", QFont::DemiBold},
    {"Rubik-Bold", QFont::Bold},
};

// Name -> the loaded family at the face's weight; filled once, on the main thread.
QHash<QString, QFont> &loadedFaces() {
    static QHash<QString, QFont> faces;
    return faces;
}

} // namespace

void registerFonts() {
    for (const Face &face : kFaces) {
        const QString name = QString::fromLatin1(face.name);
        if (loadedFaces().contains(name))
            continue;
        const int id =
            QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/%1.ttf").arg(name));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (families.isEmpty())
            continue;
        QFont font(families.first());
        font.setWeight(face.weight);
        font.setStyle(QFont::StyleNormal);
        loadedFaces().insert(name, font);
    }
}

QFont namedFont(const QString &name, double pointSize) {
    QFont font = loadedFaces().value(name, QGuiApplication::font());
    font.setPixelSize(std::max(1, qRound(pointSize)));
    return font;
}
