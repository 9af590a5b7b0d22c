#pragma once

#include <QString>

// Enough of an extracted tree to tell that two extractions produced the same result.
struct TreeSummary {
    qint64 files = 0;
    qint64 directories = 0;
    qint64 symlinks = 0;
    qint64 bytes = 0;

    bool operator==(const TreeSummary &) const = default;
    QString toString() const;
};

TreeSummary summarizeTree(const QString &root);
