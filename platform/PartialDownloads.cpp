#include "platform/PartialDownloads.h"

#include "platform/AnswerPlan.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

namespace {

const QString partialFilePrefix = QStringLiteral("plimbo-download-");
const QString recordSuffix = QStringLiteral(".resume");

} // namespace

QString createPartialFile(const QString &folder) {
    QTemporaryFile temporary(folder + QLatin1Char('/') + partialFilePrefix +
                             QStringLiteral("XXXXXX"));
    temporary.setAutoRemove(false);
    return temporary.open() ? temporary.fileName() : QString();
}

bool isPartialFileOf(const QString &folder, const QString &path) {
    const QFileInfo info(path);
    return info.absolutePath() == folder && info.fileName().startsWith(partialFilePrefix);
}

std::optional<ResumeData> takeKeptDownload(const QString &folder, const QUrl &url,
                                           qint64 knownLength) {
    std::optional<ResumeData> kept;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({partialFilePrefix + u'*'}, QDir::Files)) {
        const QString path = dir.filePath(name);
        if (name.endsWith(recordSuffix) && QFileInfo::exists(path.chopped(recordSuffix.size())))
            continue; // read with its partial file
        QFile record(path + recordSuffix);
        QDataStream in(&record);
        QUrl recordedUrl;
        QByteArray validator;
        if (record.open(QIODevice::ReadOnly))
            in >> recordedUrl >> validator;
        const qint64 size = QFileInfo(path).size();
        if (!kept && in.status() == QDataStream::Ok && recordedUrl == url && size > 0 &&
            (knownLength < 0 || size < knownLength) && !validator.isEmpty()) {
            kept = ResumeData{url, path, size, validator, knownLength};
            continue;
        }
        QFile::remove(path);
        QFile::remove(path + recordSuffix);
    }
    return kept;
}

void recordPartialFile(const QString &path, const QUrl &url, const ResponseHead &head) {
    QSaveFile record(path + recordSuffix);
    if (!canContinueLater(head)) {
        QFile::remove(record.fileName());
        return;
    }
    if (record.open(QIODevice::WriteOnly)) {
        QDataStream out(&record);
        out << url << head.validator();
        record.commit();
    }
}

void forgetPartialFile(const QString &path, bool file) {
    QFile::remove(path + recordSuffix);
    if (file)
        QFile::remove(path);
}
