// encodeQuery and encodeQueryText against a receiver written here: the query holds only the
// listed characters, "%XX", "&" and "=", and splitting it at "&" and each piece's first "=" and
// decoding "%XX" gives back every name and value.
// Input: items separated by newlines; a tab separates an item's name from its value (no tab, no
// value); a backslash takes the next byte as it is. Texts are read as UTF-8.

#include "analytics/QueryEncoding.h"
#include "fuzz/Check.h"

#include <QByteArrayView>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

struct ItemBytes {
    QByteArray name;
    std::optional<QByteArray> value;
};

QList<QueryItem> itemsOf(QByteArrayView input) {
    QList<QueryItem> items;
    ItemBytes item;
    const auto finish = [&] {
        items.append({QString::fromUtf8(item.name),
                      item.value ? std::optional(QString::fromUtf8(*item.value)) : std::nullopt});
        item = {};
    };
    for (qsizetype i = 0; i < input.size(); ++i) {
        char c = input[i];
        if (c == '\n') {
            finish();
            continue;
        }
        if (c == '\t' && !item.value) {
            item.value = QByteArray();
            continue;
        }
        if (c == '\\' && i + 1 < input.size())
            c = input[++i];
        (item.value ? *item.value : item.name) += c;
    }
    finish();
    return items;
}

constexpr QByteArrayView kUpperHex = "0123456789ABCDEF";
constexpr QByteArrayView kKept = "-._~!$'()*,;:@/?";

bool isKept(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kKept.contains(c);
}

// Kept characters, `separators` and "%XX" with upper-case hex only.
bool isEncoded(QByteArrayView text, QByteArrayView separators = {}) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isKept(text[i]) || separators.contains(text[i]))
            continue;
        if (text[i] != '%' || i + 2 >= text.size() || !kUpperHex.contains(text[i + 1]) ||
            !kUpperHex.contains(text[i + 2]))
            return false;
        i += 2;
    }
    return true;
}

QByteArray percentDecoded(QByteArrayView text) {
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            bytes += char(kUpperHex.indexOf(text[i + 1]) * 16 + kUpperHex.indexOf(text[i + 2]));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

// What a receiver reads: pieces between "&", each split at its first "=".
QList<ItemBytes> received(const QByteArray &query) {
    QList<ItemBytes> items;
    for (const QByteArray &piece : query.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals < 0)
            items.append({percentDecoded(piece), std::nullopt});
        else
            items.append({percentDecoded(QByteArrayView(piece).first(equals)),
                          percentDecoded(QByteArrayView(piece).sliced(equals + 1))});
    }
    return items;
}

QString shown(const std::optional<QString> &text) {
    return text ? QLatin1Char('"') + *text + QLatin1Char('"') : QStringLiteral("(none)");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QueryItem> items =
        itemsOf(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QByteArray query = encodeQuery(items);

    for (const QueryItem &item : items) {
        for (const std::optional<QString> &text : {std::optional(item.name), item.value}) {
            if (text)
                check(isEncoded(encodeQueryText(*text)),
                      [&] { return QStringLiteral("stray character for ") + shown(text); });
        }
    }
    check(!query.contains('+'), [&] { return QStringLiteral("raw \"+\" in ") + query; });
    check(isEncoded(query, "&="), [&] { return QStringLiteral("stray character in ") + query; });

    const QList<ItemBytes> back = received(query);
    check(back.size() == items.size(), [&] {
        return QStringLiteral("%1 items sent, %2 received in \"%3\"")
            .arg(items.size())
            .arg(back.size())
            .arg(QString::fromLatin1(query));
    });
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QueryItem &sent = items[i];
        const bool same = back[i].name == sent.name.toUtf8() &&
                          back[i].value.has_value() == sent.value.has_value() &&
                          (!sent.value || *back[i].value == sent.value->toUtf8());
        check(same, [&] {
            return QStringLiteral("item %1 (%2=%3) reads back differently from \"%4\"")
                .arg(i)
                .arg(shown(sent.name), shown(sent.value), QString::fromLatin1(query));
        });
    }
    return 0;
}
