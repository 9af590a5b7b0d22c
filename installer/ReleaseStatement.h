#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVersionNumber>
#include <optional>

// What the maker signs for one release: the archive, which product and platform it is for, and
// until when the statement may be acted on.
struct ReleaseStatement {
    QString product;
    QString platform;
    QVersionNumber version;
    qint64 length = 0;
    QByteArray sha512; // raw, 64 bytes
    QDateTime expires;
};

// What this installer holds a statement to.
struct StatementExpectation {
    QString product;
    QString platform;
    QVersionNumber highestInstalled; // null when nothing was installed yet
    QDateTime now;
};

struct StatementCheck {
    std::optional<ReleaseStatement> statement; // set when it passed
    QString fault;                             // otherwise why not, as one line
};

// `statement` is the base64 of a compact JSON object; `signature` the base64 of an Ed25519
// signature over exactly the decoded bytes, made with one of `publicKeys` (base64 raw keys,
// separated by commas). The bytes are checked as they came, before they are parsed.
StatementCheck checkStatement(const QByteArray &statement, const QByteArray &signature,
                              const QByteArray &publicKeys, const StatementExpectation &expected);

// Empty when `length` bytes with the SHA-512 digest `sha512` (raw) are the statement's archive;
// otherwise why not, as one line.
QString archiveFault(const ReleaseStatement &statement, qint64 length, const QByteArray &sha512);

// The highest version this user's installer has installed, from the installer's settings.
QVersionNumber highestInstalledVersion();
// Raises the stored highest version to `version`, after a successful installation.
void recordInstalledVersion(const QVersionNumber &version);
