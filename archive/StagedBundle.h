#pragma once

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
    // Swaps the staged bundle with the earlier one, or renames it when there is none, then removes
    // the earlier tree. False, with the reason printed, when nothing was put in place.
    bool putInPlace();

  private:
    QByteArray install_;
    QByteArray folder_; // the staging folder, which holds the new bundle
    QByteArray path_;
};
