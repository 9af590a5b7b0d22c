#pragma once

#include <QByteArray>
#include <optional>

// gzip streams in memory, through libarchive's own filter.

// The data of a gzip stream, if it is one and decompresses whole to at most `limit` bytes.
std::optional<QByteArray> gunzip(const QByteArray &stream, qsizetype limit);

QByteArray gzip(const QByteArray &data);
