#include "analytics/QueryEncoding.h"

QByteArray encodeQueryText(const QString &text) {
    // Qt keeps the unreserved characters (letters, digits, - . _ ~) as they are by itself.
    return text.toUtf8().toPercentEncoding("!$'()*,;:@/?");
}

QByteArray encodeQuery(const QList<QueryItem> &items) {
    // Joined rather than appended after a non-empty query: a bare empty name encodes to nothing
    // and still takes its place.
    QByteArrayList pieces;
    pieces.reserve(items.size());
    for (const QueryItem &item : items) {
        QByteArray piece = encodeQueryText(item.name);
        if (item.value)
            piece += '=' + encodeQueryText(*item.value);
        pieces.append(piece);
    }
    return pieces.join('&');
}
