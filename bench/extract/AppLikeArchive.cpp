#include "AppLikeArchive.h"

#include "ArchiveWriter.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>

namespace {

constexpr quint32 kSeed = 20240611;
constexpr int kFilesPerHalf = 2000;
constexpr qint64 kBytesPerHalf = qint64(200) << 20;
constexpr int kResourceFolders = 48;
constexpr qsizetype kChunk = 64 * 1024;
constexpr const char *kFramework = "Contents/Frameworks/PlimboCore.framework/";

// Log-uniform between 512 bytes and 4 MiB, like the files of a real bundle, then scaled so they
// add up to `total`.
QList<qint64> fileSizes(QRandomGenerator &random, int count, qint64 total) {
    const double low = std::log(512.0), high = std::log(4.0 * 1024 * 1024);
    QList<double> raw;
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        raw << std::exp(low + random.generateDouble() * (high - low));
        sum += raw.last();
    }
    QList<qint64> sizes;
    qint64 assigned = 0;
    for (double size : raw) {
        sizes << qint64(size * double(total) / sum);
        assigned += sizes.last();
    }
    sizes.last() += total - assigned;
    return sizes;
}

QList<QByteArray> dictionary(QRandomGenerator &random) {
    QList<QByteArray> words;
    for (int i = 0; i < 4096; ++i) {
        QByteArray word;
        for (int letters = 2 + random.bounded(9); letters > 0; --letters)
            word += char('a' + random.bounded(26));
        words << word;
    }
    return words;
}

void writeRandom(ArchiveWriter &writer, QRandomGenerator &random, qint64 size) {
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= kChunk) {
        random.fillRange(reinterpret_cast<quint32 *>(chunk.data()), kChunk / sizeof(quint32));
        writer.writeData(chunk.constData(), size_t(std::min<qint64>(left, kChunk)));
    }
}

void writeText(ArchiveWriter &writer, QRandomGenerator &random, const QList<QByteArray> &words,
               qint64 size) {
    QByteArray chunk;
    for (qint64 left = size; left > 0; left -= chunk.size()) {
        chunk.clear();
        while (chunk.size() < kChunk) {
            for (int count = 4 + random.bounded(10); count > 0; --count)
                chunk += words[random.bounded(words.size())] + ' ';
            chunk += '\n';
        }
        chunk.truncate(std::min<qint64>(left, chunk.size()));
        writer.writeData(chunk.constData(), size_t(chunk.size()));
    }
}

QByteArray resourcePath(int index, const char *stem, const char *suffix) {
    return QByteArray("Contents/Resources/r") + QByteArray::number(index % kResourceFolders) + '/' +
           stem + QByteArray::number(index) + suffix;
}

void generate(const QString &path) {
    QRandomGenerator random(kSeed);
    const QList<qint64> binarySizes = fileSizes(random, kFilesPerHalf, kBytesPerHalf);
    const QList<qint64> textSizes = fileSizes(random, kFilesPerHalf, kBytesPerHalf);
    const QList<QByteArray> words = dictionary(random);

    ArchiveWriter writer(path);
    for (const char *folder :
         {"Contents/", "Contents/MacOS/", "Contents/Resources/", "Contents/Frameworks/"})
        writer.addDirectory(folder);
    for (int i = 0; i < kResourceFolders; ++i)
        writer.addDirectory("Contents/Resources/r" + QByteArray::number(i) + '/');
    writer.addDirectory(QByteArray(kFramework) + "Versions/A/");
    writer.addSymlink(QByteArray(kFramework) + "Versions/Current", "A");
    writer.addSymlink(QByteArray(kFramework) + "PlimboCore", "Versions/Current/PlimboCore");

    for (int i = 0; i < kFilesPerHalf; ++i) {
        if (i == 0)
            writer.beginFile("Contents/MacOS/Plimbo", binarySizes[i], 0755);
        else if (i == 1)
            writer.beginFile(QByteArray(kFramework) + "Versions/A/PlimboCore", binarySizes[i],
                             0755);
        else
            writer.beginFile(resourcePath(i, "blob", ".bin"), binarySizes[i]);
        writeRandom(writer, random, binarySizes[i]);
        writer.beginFile(resourcePath(i, "text", ".txt"), textSizes[i]);
        writeText(writer, random, words, textSizes[i]);
    }
    writer.close();
}

} // namespace

QString appLikeArchive(const QString &cacheDir) {
    const QString path = QDir(cacheDir).filePath(QStringLiteral("app-like-%1.tar.gz").arg(kSeed));
    if (QFile::exists(path))
        return path;
    std::printf("Generating %s once (a minute or so)...\n", qPrintable(path));
    std::fflush(stdout);
    const QString partial = path + QStringLiteral(".part");
    generate(partial);
    QFile::rename(partial, path);
    return path;
}
