#include "system/UserDefaultsHelper.h"

#include "platform/Log.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QVariantList>
#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const QString dockDomain = QStringLiteral("com.apple.dock");
const QString persistentApps = QStringLiteral("persistent-apps");

bool isList(const QVariant &value) {
    return value.typeId() == QMetaType::QVariantList;
}

bool isMap(const QVariant &value) {
    return value.typeId() == QMetaType::QVariantMap;
}

// The text at "tile-data.file-data._CFURLString" contains `path`. Anything else in the list (no
// dictionary on the way, no text at the end) belongs to no path.
bool belongsTo(const QVariant &tile, const QString &path) {
    QVariant value = tile;
    for (const char *key : {"tile-data", "file-data", "_CFURLString"}) {
        if (!isMap(value))
            return false;
        value = value.toMap().value(QLatin1String(key));
    }
    return value.typeId() == QMetaType::QString && value.toString().contains(path);
}

QVariantMap tileFor(const QString &path) {
    const QVariantMap fileData{{QStringLiteral("_CFURLString"), path},
                               {QStringLiteral("_CFURLStringType"), 0}};
    return {{QStringLiteral("tile-data"), QVariantMap{{QStringLiteral("file-data"), fileData}}}};
}

QString quoted(const QString &text) {
    QString result = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            result += u'\\' + QString(c);
        else if (c == u'\n')
            result += QStringLiteral("\\n");
        else if (c == u'\t')
            result += QStringLiteral("\\t");
        else if (c.unicode() < 0x20)
            result += QStringLiteral("\\U%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result + u'"';
}

// Old-style property-list text on one line, as the system log shows a collection:
// (item, item) for an array, {"key" = value; "key" = value;} for a dictionary, quoted text,
// bare numbers, 1/0 for booleans, <hex> for data, and "(null)" for nothing at all.
QString describe(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("(null)");
    case QMetaType::QVariantList: {
        QStringList items;
        for (const QVariant &item : value.toList())
            items.append(describe(item));
        return u'(' + items.join(QStringLiteral(", ")) + u')';
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QStringList entries;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            entries.append(quoted(it.key()) + QStringLiteral(" = ") + describe(it.value()) + u';');
        return u'{' + entries.join(u' ') + u'}';
    }
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    case QMetaType::QByteArray:
        return u'<' + QString::fromLatin1(value.toByteArray().toHex()) + u'>';
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(u"yyyy-MM-dd HH:mm:ss +0000");
    default:
        return quoted(value.toString());
    }
}

// The Dock's list, unless the domain or the list is missing: then nothing may be written, since
// writing one would leave the Dock a partial domain.
QVariant persistentAppsIn(const PersistentDomainStore &store) {
    return store.persistentDomain(dockDomain).value_or(QVariantMap()).value(persistentApps);
}

} // namespace

UserDefaultsHelper::UserDefaultsHelper(PersistentDomainStore store) : store_(std::move(store)) {}

bool UserDefaultsHelper::addApplicationToDock(const QString &path) {
    // Every text contains the empty one: it would match, and on removal drop, every tile.
    if (path.isEmpty())
        return false;
    const QVariant apps = persistentAppsIn(store_);
    nsLog(describe(apps));
    if (!isList(apps))
        return false;
    QVariantList tiles = apps.toList();
    QVariantList matches;
    std::copy_if(tiles.cbegin(), tiles.cend(), std::back_inserter(matches),
                 [&](const QVariant &tile) { return belongsTo(tile, path); });
    nsLog(describe(matches));
    if (!matches.isEmpty())
        return false;

    tiles.append(tileFor(path));
    store_.setValue(dockDomain, persistentApps, tiles);
    return store_.synchronize();
}

bool UserDefaultsHelper::removeApplicationFromDock(const QString &path) {
    if (path.isEmpty())
        return false;
    const QVariant apps = persistentAppsIn(store_);
    if (!isList(apps))
        return false;
    QVariantList tiles = apps.toList();
    if (tiles.removeIf([&](const QVariant &tile) { return belongsTo(tile, path); }) == 0)
        return false;
    store_.setValue(dockDomain, persistentApps, tiles);
    return store_.synchronize();
}
