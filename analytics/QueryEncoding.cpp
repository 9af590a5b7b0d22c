#include "analytics/QueryEncoding.h"

QByteArray encodeQueryText(const QString &text) {
    // Qt keeps the unreserved characters (letters, digits, - . _ ~) as they are by itself.
    return text.toUtf8().toPercentEncoding("!$'()*,;:@/?");
}

QByteArray encodeQuery(const QList<QueryItem> &items) {
    QByteArray query;
    for (const QueryItem &item : items) {
        if (!query.isEmpty())
            query += '&';
        query += encodeQueryText(item.name);
        if (item.value)
            query += '=' + encodeQueryText(*item.value);
    }
    return query;
}
