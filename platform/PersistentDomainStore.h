#pragma once

#include <QMap>
#include <QString>
#include <QVariantMap>
#include <optional>

// Preference domains read and written whole, like the user defaults' persistent domains.
//
// The default store is the user's own: on macOS the real preferences (CFPreferences, current
// user, any host), elsewhere one file per domain in "<config>/plimbo". A store built on a folder
// keeps its domains there, which is how tests point it at a temporary folder.
//
// A domain file holds one CBOR map. CBOR has a type for every property-list value (text,
// integer, real, boolean, data, date, array, dictionary), so an entry read and written back keeps
// its type: an integer stays an integer, bytes stay bytes.
class PersistentDomainStore {
  public:
    PersistentDomainStore();
    explicit PersistentDomainStore(QString folder);

    // Absent when the domain does not exist, is empty, or its file cannot be read as a domain.
    // Values set and not yet synchronized are answered from memory.
    std::optional<QVariantMap> persistentDomain(const QString &name) const;

    // Sets one key of the domain when `synchronize` next runs. Only the keys set are written:
    // whatever another program (the Dock itself) wrote meanwhile stays.
    void setValue(const QString &name, const QString &key, const QVariant &value);

    // Writes every value set since the last call, each domain file atomically; true when all
    // were written. A failed write is reported, not retried. A domain file that exists but
    // cannot be read is never replaced, so that nothing the store does not understand is lost.
    bool synchronize();

  private:
    std::optional<QVariantMap> read(const QString &name) const;
    bool write(const QString &name, const QVariantMap &values) const;

    QString folder_;                     // empty: the system's preferences (macOS)
    QMap<QString, QVariantMap> pending_; // domain → key → value
};
