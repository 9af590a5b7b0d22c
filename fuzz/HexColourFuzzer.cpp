// hexColor with any text and alpha: always a valid colour with its alpha in 0...1, and a text that
// is exactly "#RRGGBB" or "#RRGGBBAA" gives those bytes.
// Input: the alpha as text on the first line ("0.5", "-inf", "nan"...), the colour text after it.

#include "fuzz/Check.h"
#include "ui/Colors.h"

#include <QByteArray>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// QColor keeps 16 bits per component.
constexpr double kTolerance = 1.0 / 65535;

bool near(double actual, double expected) {
    return std::abs(actual - expected) <= kTolerance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    bool readable = false;
    const double alphaRead = input.left(std::max<qsizetype>(newline, 0)).toDouble(&readable);
    const double alpha = readable ? alphaRead : 1.0;
    const QString text = QString::fromUtf8(input.mid(newline + 1));

    const QColor colour = hexColor(text, alpha);
    const auto describe = [&](const char *failure) {
        return QStringLiteral("%1 for \"%2\" at alpha %3: %4")
            .arg(QLatin1String(failure), text)
            .arg(alpha, 0, 'g', 17)
            .arg(colour.name(QColor::HexArgb));
    };
    check(colour.isValid(), [&] { return describe("invalid colour"); });
    check(colour.alphaF() >= 0 && colour.alphaF() <= 1, [&] { return describe("alpha outside"); });

    static const QRegularExpression exact(
        QRegularExpression::anchoredPattern(QStringLiteral("#([0-9A-Fa-f]{6})([0-9A-Fa-f]{2})?")));
    const QRegularExpressionMatch match = exact.match(text);
    if (!match.hasMatch())
        return 0;
    const uint rgb = match.captured(1).toUInt(nullptr, 16);
    check(colour.red() == int(rgb >> 16) && colour.green() == int((rgb >> 8) & 0xFF) &&
              colour.blue() == int(rgb & 0xFF),
          [&] { return describe("other channels"); });
    const double expectedAlpha = match.hasCaptured(2)
                                     ? match.captured(2).toUInt(nullptr, 16) / 255.0
                                     : (std::isnan(alpha) ? 0.0 : std::clamp(alpha, 0.0, 1.0));
    check(near(colour.alphaF(), expectedAlpha), [&] { return describe("other alpha"); });
    return 0;
}
