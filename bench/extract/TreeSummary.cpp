#include "TreeSummary.h"

#include <QDirIterator>
#include <QFileInfo>

QString TreeSummary::toString() const {
    return QStringLiteral("%1 MiB in %2 files, %3 folders, %4 symlinks")
        .arg(double(bytes) / (1 << 20), 0, 'f', 1)
        .arg(files)
        .arg(directories)
        .arg(symlinks);
}

TreeSummary summarizeTree(const QString &root) {
    TreeSummary summary;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink()) {
            ++summary.symlinks;
        } else if (info.isDir()) {
            ++summary.directories;
        } else {
            ++summary.files;
            summary.bytes += info.size();
        }
    }
    return summary;
}
