#include "platform/PersistentDomainStore.h"

#include <QCborMap>
#include <QCborValue>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <utility>

#ifdef Q_OS_MACOS
#include <CoreFoundation/CoreFoundation.h>
#include <QByteArray>
#include <QDateTime>
#include <QVariantList>
#include <memory>
#include <vector>
#endif

namespace {

// A domain name becomes a file name; one that could reach outside the folder is refused.
bool isPlainName(const QString &name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(u'\\');
}

QString domainFile(const QString &folder, const QString &name) {
    return QDir(folder).filePath(name + QStringLiteral(".cbor"));
}

std::optional<QVariantMap> readFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCborParserError error;
    const QCborValue value = QCborValue::fromCbor(file.readAll(), &error);
    if (error.error != QCborError::NoError || !value.isMap())
        return std::nullopt;
    return value.toMap().toVariantMap();
}

// Sets the keys of `values` in the domain as it is on disk now, so that keys another program
// added since it was read stay.
bool writeFile(const QString &folder, const QString &path, const QVariantMap &values) {
    std::optional<QVariantMap> domain = QFileInfo::exists(path) ? readFile(path) : QVariantMap();
    if (!domain || !QDir().mkpath(folder))
        return false;
    domain->insert(values);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QCborValue(QCborMap::fromVariantMap(*domain)).toCbor());
    return file.commit();
}

#ifdef Q_OS_MACOS

struct CFReleaser {
    void operator()(CFTypeRef ref) const { CFRelease(ref); }
};
using CFOwned = std::unique_ptr<const void, CFReleaser>;

QVariant fromPropertyList(CFPropertyListRef value);

QVariantMap fromDictionary(CFDictionaryRef dictionary) {
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void *> keys(count);
    std::vector<const void *> values(count);
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    QVariantMap map;
    for (CFIndex i = 0; i < count; ++i) {
        if (CFGetTypeID(keys[i]) == CFStringGetTypeID())
            map.insert(QString::fromCFString(static_cast<CFStringRef>(keys[i])),
                       fromPropertyList(values[i]));
    }
    return map;
}

QVariant fromPropertyList(CFPropertyListRef value) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID())
        return QString::fromCFString(static_cast<CFStringRef>(value));
    if (type == CFBooleanGetTypeID())
        return bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)));
    if (type == CFNumberGetTypeID()) {
        const auto number = static_cast<CFNumberRef>(value);
        if (CFNumberIsFloatType(number)) {
            double real = 0;
            CFNumberGetValue(number, kCFNumberDoubleType, &real);
            return real;
        }
        qint64 integer = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
        return integer;
    }
    if (type == CFDataGetTypeID())
        return QByteArray::fromCFData(static_cast<CFDataRef>(value));
    if (type == CFDateGetTypeID())
        return QDateTime::fromCFDate(static_cast<CFDateRef>(value));
    if (type == CFArrayGetTypeID()) {
        const auto array = static_cast<CFArrayRef>(value);
        QVariantList list;
        for (CFIndex i = 0, count = CFArrayGetCount(array); i < count; ++i)
            list.append(fromPropertyList(CFArrayGetValueAtIndex(array, i)));
        return list;
    }
    if (type == CFDictionaryGetTypeID())
        return fromDictionary(static_cast<CFDictionaryRef>(value));
    return {};
}

CFOwned toPropertyList(const QVariant &value);

// Null when some value has no property-list form: the domain is then not written at all.
CFOwned toDictionary(const QVariantMap &map) {
    CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFOwned owner(dictionary);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const CFOwned key(it.key().toCFString());
        const CFOwned item = toPropertyList(it.value());
        if (!item)
            return nullptr;
        CFDictionarySetValue(dictionary, key.get(), item.get());
    }
    return owner;
}

CFOwned toPropertyList(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        return CFOwned(value.toString().toCFString());
    case QMetaType::Bool:
        return CFOwned(CFRetain(value.toBool() ? kCFBooleanTrue : kCFBooleanFalse));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qint64 integer = value.toLongLong();
        return CFOwned(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &integer));
    }
    case QMetaType::Double: {
        const double real = value.toDouble();
        return CFOwned(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &real));
    }
    case QMetaType::QByteArray:
        return CFOwned(value.toByteArray().toCFData());
    case QMetaType::QDateTime:
        return CFOwned(value.toDateTime().toCFDate());
    case QMetaType::QVariantList: {
        CFMutableArrayRef array =
            CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
        CFOwned owner(array);
        for (const QVariant &element : value.toList()) {
            const CFOwned item = toPropertyList(element);
            if (!item)
                return nullptr;
            CFArrayAppendValue(array, item.get());
        }
        return owner;
    }
    case QMetaType::QVariantMap:
        return toDictionary(value.toMap());
    default:
        return nullptr;
    }
}

std::optional<QVariantMap> readPreferences(const QString &name) {
    const CFOwned domainName(name.toCFString());
    const auto domain = static_cast<CFStringRef>(domainName.get());
    const CFOwned values(CFPreferencesCopyMultiple(nullptr, domain, kCFPreferencesCurrentUser,
                                                   kCFPreferencesAnyHost));
    if (!values)
        return std::nullopt;
    QVariantMap map = fromDictionary(static_cast<CFDictionaryRef>(values.get()));
    if (map.isEmpty())
        return std::nullopt;
    return map;
}

// Sets the keys of `values`, leaving every other key as it is now, then flushes.
bool writePreferences(const QString &name, const QVariantMap &values) {
    const CFOwned domainName(name.toCFString());
    const auto domain = static_cast<CFStringRef>(domainName.get());
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const CFOwned key(it.key().toCFString());
        const CFOwned value = toPropertyList(it.value());
        if (!value)
            return false;
        CFPreferencesSetValue(static_cast<CFStringRef>(key.get()), value.get(), domain,
                              kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    }
    return CFPreferencesSynchronize(domain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

#endif

} // namespace

#ifdef Q_OS_MACOS
PersistentDomainStore::PersistentDomainStore() = default;
#else
PersistentDomainStore::PersistentDomainStore()
    : folder_(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                  .filePath(QStringLiteral("plimbo"))) {}
#endif

PersistentDomainStore::PersistentDomainStore(QString folder) : folder_(std::move(folder)) {}

std::optional<QVariantMap> PersistentDomainStore::persistentDomain(const QString &name) const {
    std::optional<QVariantMap> domain = read(name);
    const auto staged = pending_.constFind(name);
    if (staged == pending_.cend())
        return domain;
    QVariantMap merged = domain.value_or(QVariantMap());
    merged.insert(*staged);
    return merged;
}

void PersistentDomainStore::setValue(const QString &name, const QString &key,
                                     const QVariant &value) {
    pending_[name].insert(key, value);
}

bool PersistentDomainStore::synchronize() {
    bool written = true;
    for (auto it = pending_.cbegin(); it != pending_.cend(); ++it)
        written = write(it.key(), it.value()) && written;
    pending_.clear();
    return written;
}

std::optional<QVariantMap> PersistentDomainStore::read(const QString &name) const {
#ifdef Q_OS_MACOS
    if (folder_.isEmpty())
        return readPreferences(name);
#endif
    if (!isPlainName(name))
        return std::nullopt;
    std::optional<QVariantMap> domain = readFile(domainFile(folder_, name));
    if (domain && domain->isEmpty())
        return std::nullopt;
    return domain;
}

bool PersistentDomainStore::write(const QString &name, const QVariantMap &values) const {
#ifdef Q_OS_MACOS
    if (folder_.isEmpty())
        return writePreferences(name, values);
#endif
    return isPlainName(name) && writeFile(folder_, domainFile(folder_, name), values);
}
