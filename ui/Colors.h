#pragma once

#include <QColor>
#include <QString>

// "#RRGGBB" (or "#RRGGBBAA", whose last byte then replaces `alpha`) into a colour; a text that
// cannot be read gives black at `alpha`. Whitespace around the text and after one "#" is ignored.
QColor hexColor(const QString &text, double alpha);
