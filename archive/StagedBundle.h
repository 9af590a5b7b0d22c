#pragma once

#include "archive/FlushPool.h"

#include <QByteArray>

// A new bundle put together in a hidden folder beside the installed one, on the same file system,
// and put in its place in one atomic step; until then the earlier bundle stays as it was. Staging
// folders that killed runs left behind are removed first.
class StagedBundle {
  public:
    explicit StagedBundle(const QByteArray &installPath);
    ~StagedBundle(); // removes the staging folder unless it was put in place
    StagedBundle(const StagedBundle &) = delete;
    StagedBundle &operator=(const StagedBundle &) = delete;

    // Where the new bundle is to be unpacked; empty when no staging folder could be made (the
    // reason is printed).
    const QByteArray &path() const { return path_; }
    // Takes each file of the new bundle as soon as it is complete and flushes it to disk while the
    // extraction goes on, so that little is left to flush when the last one is written.
    FlushPool &written() { return written_; }
    // Writes the staged bundle to disk, swaps it with the earlier one, or renames it when there is
    // none, writes that to disk and then removes the earlier tree. An archive without entries
    // leaves the earlier bundle. False, with the reason printed, when nothing was put in place or
    // no bundle is there at all.
    bool putInPlace();

  private:
    bool swapIn(); // false, with everything as it was, unless the swap reached the disk

    QByteArray install_;
    QByteArray folder_; // the staging folder, which holds the new bundle
    QByteArray path_;
    FlushPool written_;
};
