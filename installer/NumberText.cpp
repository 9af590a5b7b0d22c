#include "installer/NumberText.h"

#include <charconv>

QString fixedText(double value, int decimals) {
    char buffer[400]; // the longest double in fixed notation with a few decimals
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString shortestDecimalText(double value) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (!text.contains(QLatin1Char('.')) && text.back().isDigit())
        text += QLatin1String(".0");
    return text;
}
