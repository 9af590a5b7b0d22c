#include "ui/Colors.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

std::optional<unsigned> hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return std::nullopt;
}

// Base 16 with one optional sign; "-" is only valid for zero. Values that need the top bit are
// never written by the installer and read as unreadable.
std::optional<std::uint64_t> parseHex(QStringView text) {
    bool negative = false;
    if (text.startsWith(u'+') || text.startsWith(u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (QChar c : text) {
        const std::optional<unsigned> digit = hexDigit(c);
        if (!digit || value > (std::numeric_limits<std::uint64_t>::max() >> 4))
            return std::nullopt;
        value = (value << 4) | *digit;
    }
    if ((negative && value != 0) || value >> 63)
        return std::nullopt;
    return value;
}

// Characters as the user sees them: a letter with a combining mark counts once.
int visibleLength(const QString &text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

double channel(std::uint64_t value, int shift) {
    return ((value >> shift) & 0xFF) / 255.0;
}

} // namespace

QColor hexColor(const QString &text, double alpha) {
    QString digits = text.trimmed();
    if (digits.startsWith(u'#'))
        digits = digits.mid(1).trimmed();
    const std::uint64_t value = digits.isEmpty() ? 0 : parseHex(digits).value_or(0);

    if (visibleLength(digits) == 8)
        return QColor::fromRgbF(channel(value, 24), channel(value, 16), channel(value, 8),
                                channel(value, 0));
    // fromRgbF refuses an alpha outside 0...1 (a NaN reads as 0).
    const double opacity = alpha >= 0 ? std::min(alpha, 1.0) : 0.0;
    return QColor::fromRgbF(channel(value, 16), channel(value, 8), channel(value, 0), opacity);
}
