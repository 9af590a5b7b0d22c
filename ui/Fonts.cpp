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

// Name -> the loaded family at the face's weight. Loaded when a face is first asked for, on the
// main thread, so that start-up does not wait for faces the first screen may not need yet.
const QHash<QString, QFont> &loadedFaces() {
    static const QHash<QString, QFont> faces = [] {
        QHash<QString, QFont> loaded;
        for (const Face &face : kFaces) {
            const QString name = QString::fromLatin1(face.name);
            const int id =
                QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/%1.ttf").arg(name));
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (families.isEmpty())
                continue;
            QFont font(families.first());
            font.setWeight(face.weight);
            font.setStyle(QFont::StyleNormal);
            loaded.insert(name, font);
        }
        return loaded;
    }();
    return faces;
}

} // namespace

QFont namedFont(const QString &name, double pointSize) {
    QFont font = loadedFaces().value(name, QGuiApplication::font());
    font.setPixelSize(std::max(1, qRound(pointSize)));
    return font;
}
