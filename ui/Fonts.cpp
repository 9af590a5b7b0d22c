#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QResource>
#include <algorithm>
#include <optional>

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

// The family of the face named `name` at its weight, or nothing. Each face is loaded when it is
// first asked for, on the main thread: the first screen needs two of the four. Its bytes are the
// program's own, stored uncompressed, which neither Qt nor FreeType then copies.
std::optional<QFont> loadedFace(const QString &name) {
    static QHash<QString, std::optional<QFont>> faces;
    if (const auto known = faces.constFind(name); known != faces.cend())
        return *known;
    std::optional<QFont> &loaded = faces[name];
    const Face *face = std::find_if(std::begin(kFaces), std::end(kFaces),
                                    [&](const Face &known) { return name == known.name; });
    if (face == std::end(kFaces))
        return loaded;
    const QResource bytes(QStringLiteral(":/fonts/%1.ttf").arg(name));
    const QStringList families = QFontDatabase::applicationFontFamilies(
        QFontDatabase::addApplicationFontFromData(bytes.uncompressedData()));
    if (families.isEmpty())
        return loaded;
    loaded.emplace(families.first());
    loaded->setWeight(face->weight);
    loaded->setStyle(QFont::StyleNormal);
    return loaded;
}

} // namespace

QFont namedFont(const QString &name, double pointSize) {
    QFont font = loadedFace(name).value_or(QGuiApplication::font());
    font.setPixelSize(std::max(1, qRound(pointSize)));
    return font;
}
