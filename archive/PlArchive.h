#pragma once

#include <QString>
#include <functional>
#include <mutex>

class ArchiveInput;

// Unpacks the downloaded gzip-compressed tar archive into the application bundle, every entry
// below the bundle's folder. The archive is unpacked into a staging folder beside the bundle and
// put in the bundle's place whole, so that a failed extraction leaves the earlier bundle exactly as
// it was. Runs on whatever thread calls it.
class PlArchive {
  public:
    using CompleteCallback = std::function<void()>;

    PlArchive(); // the compiled-in archive and install paths
    PlArchive(QString archivePath, QString installPath);

    // Extracts the archive open as `archiveFd`, read from its start, so that the bytes unpacked
    // are those checked through the same descriptor, whatever happens to its name. A fatal
    // archive error, an entry not written as archived (once the others have had their turn), or
    // nothing to install at all, ends the process with status 1, the earlier bundle untouched.
    // The new bundle is on disk before it replaces the earlier one.
    void untar(int archiveFd);
    // The same extraction, returning the status the process should end with: 0 once the new
    // bundle is in place, 1 when the extraction failed.
    int extract(int archiveFd);
    // The same extraction from an input that may still be growing. Once every entry is on disk,
    // `approve` (when given) decides whether the new bundle replaces the earlier one; when it
    // does not, the new bundle goes.
    using Approval = std::function<bool()>;
    int extract(ArchiveInput &input, const Approval &approve);
    int extract();     // of the archive at its path, which a link never stands for
    int listArchive(); // prints each entry's name on standard output; returns how many

    // Kept for whoever wants to hear of the end of an extraction; the class itself never calls
    // it, untar() returning is the signal.
    CompleteCallback completeCallback() const;
    void setCompleteCallback(CompleteCallback callback);

  private:
    enum class OnFatal { EndProcess, Return };
    int run(ArchiveInput &input, const Approval &approve, OnFatal onFatal);

    QString archivePath_;
    QString installPath_;
    mutable std::mutex callbackMutex_;
    CompleteCallback completeCallback_;
};
