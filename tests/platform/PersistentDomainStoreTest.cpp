#include "platform/PersistentDomainStore.h"

#include <QCborArray>
#include <QCborValue>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVariantList>
#include <gtest/gtest.h>

namespace {

// Typed text of a value: 0 and 0.0, text and bytes all read differently.
std::string diag(const QVariant &value) {
    return QCborValue::fromVariant(value).toDiagnosticNotation().toStdString();
}

QByteArray contentsOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class PersistentDomainStoreTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString domainFile(const QString &name) const { return dir_.filePath(name + ".cbor"); }

    QTemporaryDir dir_;
    PersistentDomainStore store_{dir_.path()};
};

TEST_F(PersistentDomainStoreTest, AbsentDomainReadsAsNothing) {
    EXPECT_FALSE(store_.persistentDomain("com.example.absent"));
    EXPECT_FALSE(QFileInfo::exists(domainFile("com.example.absent")));
}

TEST_F(PersistentDomainStoreTest, EveryPropertyListTypeSurvivesTheRoundTrip) {
    const QVariantMap domain{
        {"text", QString::fromUtf8("Plimb\u00f3 \"quoted\"")},
        {"zero", 0},
        {"large", qint64(1) << 40},
        {"integral real", 1.0},
        {"real", 0.25},
        {"flag", false},
        {"data", QByteArray("\x00\xff", 2)},
        {"date", QDateTime(QDate(2024, 2, 29), QTime(12, 30, 15), Qt::UTC)},
        {"list", QVariantList{1, "two", QVariantList{}}},
        {"map", QVariantMap{{"nested", QVariantList{QVariantMap{{"inner", true}}}}}},
    };
    store_.setPersistentDomain(domain, "com.example.types");
    ASSERT_TRUE(store_.synchronize());

    const std::optional<QVariantMap> read =
        PersistentDomainStore(dir_.path()).persistentDomain("com.example.types");

    ASSERT_TRUE(read);
    EXPECT_EQ(diag(*read), diag(domain));
    EXPECT_EQ(read->value("date").toDateTime(), domain.value("date").toDateTime());
}

TEST_F(PersistentDomainStoreTest, DomainSetIsOnDiskOnlyAfterSynchronize) {
    const QVariantMap domain{{"key", "value"}};
    store_.setPersistentDomain(domain, "com.example.pending");

    EXPECT_EQ(diag(store_.persistentDomain("com.example.pending").value()), diag(domain));
    EXPECT_FALSE(PersistentDomainStore(dir_.path()).persistentDomain("com.example.pending"));

    ASSERT_TRUE(store_.synchronize());
    EXPECT_EQ(
        diag(PersistentDomainStore(dir_.path()).persistentDomain("com.example.pending").value()),
        diag(domain));
}

TEST_F(PersistentDomainStoreTest, FileThatIsNoDomainIsNeverReplaced) {
    const QByteArray cases[] = {"plain text", QCborValue(QCborArray{1, 2}).toCbor(), {}};
    for (const QByteArray &bytes : cases) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        writeBytes(domainFile("com.example.odd"), bytes);

        EXPECT_FALSE(store_.persistentDomain("com.example.odd"));
        store_.setPersistentDomain({{"key", "value"}}, "com.example.odd");
        EXPECT_FALSE(store_.synchronize());
        EXPECT_EQ(contentsOf(domainFile("com.example.odd")), bytes);
    }
}

TEST_F(PersistentDomainStoreTest, NamesThatLeaveTheFolderAreRefused) {
    PersistentDomainStore inner(dir_.filePath("inner"));
    for (const QString name : {"", ".", "..", "../outside", "a/b", "a\\b"}) {
        SCOPED_TRACE(name.toStdString());
        inner.setPersistentDomain({{"key", "value"}}, name);
        EXPECT_FALSE(inner.synchronize());
        EXPECT_FALSE(inner.persistentDomain(name));
    }
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(PersistentDomainStoreTest, FailedWriteIsReportedAndForgotten) {
    writeBytes(dir_.filePath("plain-file"), {});
    PersistentDomainStore unwritable(dir_.filePath("plain-file"));
    unwritable.setPersistentDomain({{"key", "value"}}, "com.example.lost");

    EXPECT_FALSE(unwritable.synchronize());
    EXPECT_FALSE(unwritable.persistentDomain("com.example.lost"));
}

TEST_F(PersistentDomainStoreTest, OneFailedDomainDoesNotStopTheOthers) {
    writeBytes(domainFile("com.example.odd"), "plain text");
    store_.setPersistentDomain({{"key", 1}}, "com.example.odd");
    store_.setPersistentDomain({{"key", 2}}, "com.example.fine");

    EXPECT_FALSE(store_.synchronize());
    EXPECT_EQ(diag(PersistentDomainStore(dir_.path()).persistentDomain("com.example.fine").value()),
              diag(QVariantMap{{"key", 2}}));
}

#ifndef Q_OS_MACOS
TEST(PersistentDomainStoreDefaultTest, KeepsDomainsInTheUsersConfigFolder) {
    QStandardPaths::setTestModeEnabled(true);
    const QString file =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath("plimbo/com.example.default.cbor");
    QFile::remove(file);

    PersistentDomainStore store;
    store.setPersistentDomain({{"key", "value"}}, "com.example.default");
    EXPECT_TRUE(store.synchronize());
    EXPECT_TRUE(QFileInfo::exists(file));

    QFile::remove(file);
    QStandardPaths::setTestModeEnabled(false);
}
#endif

} // namespace
