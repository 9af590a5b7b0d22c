#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// One item of a URL query: a name and a value, or the name alone when the value is absent.
struct QueryItem {
    QString name;
    std::optional<QString> value;
};

// The UTF-8 bytes of `text` with everything but ASCII letters, digits and - . _ ~ ! $ ' ( ) * ,
// ; : @ / ? written as %XX (upper-case hex). "+" is escaped too: receivers read it as a space.
QByteArray encodeQueryText(const QString &text);

// The items, in the given order, as "name=value" or "name", joined with "&".
QByteArray encodeQuery(const QList<QueryItem> &items);
