#include "ui/TextView.h"

#include <QFontMetricsF>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace {

// The view's own attributes are its font, its palette's text colour and its document's
// alignment; replaceText() reads them back from there.
QTextCharFormat baseFormat(const QTextEdit *view) {
    QTextCharFormat format;
    format.setFont(view->font());
    format.setForeground(view->palette().color(QPalette::Text));
    return format;
}

} // namespace

QTextEdit *makeTextView(const QString &text, const QFont &font, const QColor &color,
                        const QColor &background, Qt::Alignment alignment) {
    auto *view = new QTextEdit;
    view->setReadOnly(true);
    view->setFrameShape(QFrame::NoFrame);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setLineWrapMode(QTextEdit::NoWrap);
    view->setFocusPolicy(Qt::NoFocus);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->setTextInteractionFlags(Qt::NoTextInteraction);
    // Like a label: clicks and wheel turns reach the window behind (it is dragged by them).
    view->setAttribute(Qt::WA_TransparentForMouseEvents);
    view->document()->setDocumentMargin(0);

    view->setFont(font);
    // A frame only as high as the font's size would cut off descenders: the view grows downward
    // from its frame's top edge to hold one whole line.
    view->setMinimumHeight(int(std::ceil(QFontMetricsF(font).height())));
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Text, color);
    view->setPalette(palette);
    QTextOption option = view->document()->defaultTextOption();
    option.setAlignment(alignment);
    view->document()->setDefaultTextOption(option);

    replaceText(view, text);
    return view;
}

void replaceText(QTextEdit *view, const QString &text) {
    view->setPlainText(text);
    QTextBlockFormat paragraph;
    paragraph.setAlignment(view->document()->defaultTextOption().alignment());
    QTextCursor cursor(view->document());
    cursor.select(QTextCursor::Document);
    cursor.mergeBlockFormat(paragraph);
    cursor.setBlockCharFormat(baseFormat(view));
    cursor.setCharFormat(baseFormat(view));
}

void replaceTextFitting(QTextEdit *view, const QString &text, const QString &ending) {
    const QFontMetricsF metrics(view->font());
    const double room = view->width() - metrics.horizontalAdvance(ending);
    replaceText(view, metrics.elidedText(text, Qt::ElideRight, room) + ending);
}

void setAttributes(QTextEdit *view, int start, int length, const QColor &color, const QFont &font) {
    // A range reaching past the text is cut to it rather than refused.
    const int end = view->document()->characterCount() - 1;
    const int from = std::clamp(start, 0, end);
    const int to = std::clamp(start + std::max(0, length), from, end);
    if (from == to)
        return;
    QTextCursor cursor(view->document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setFont(font);
    format.setForeground(color);
    cursor.setCharFormat(format);
}
