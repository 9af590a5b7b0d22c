#pragma once

#include <QColor>
#include <QFont>
#include <QTextEdit>

// A one-line, read-only text view: no frame, no document margin, no scroll bars, no focus.
// `background` may be transparent.
QTextEdit *makeTextView(const QString &text, const QFont &font, const QColor &color,
                        const QColor &background, Qt::Alignment alignment);

// Replaces the whole text, keeping the view's own font, colour and alignment.
void replaceText(QTextEdit *view, const QString &text);
// The same with `text` + `ending`, `text` cut short at its end so that the line fits the view.
void replaceTextFitting(QTextEdit *view, const QString &text, const QString &ending);

// Gives characters [start, start + length) exactly `color` and `font`.
void setAttributes(QTextEdit *view, int start, int length, const QColor &color, const QFont &font);
