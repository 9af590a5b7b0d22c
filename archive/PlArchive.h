#pragma once

#include <QString>
#include <functional>
#include <mutex>

// Unpacks the downloaded gzip-compressed tar archive into the application bundle, every entry
// below the bundle's folder. Runs on whatever thread calls it.
class PlArchive {
  public:
    using CompleteCallback = std::function<void()>;

    PlArchive(); // the compiled-in archive and install paths
    PlArchive(QString archivePath, QString installPath);

    // A fatal archive error ends the process with status 1 at once; the files written so far
    // stay on disk as they are. Data that could not be written (a full disk) ends it with status
    // 1 once the other entries are out.
    void untar();
    // The same extraction, returning the status the process should end with: 0 once finished,
    // 1 after a fatal archive error or lost data. The files written so far stay on disk, the one in progress
    // finished at its archived size and the folders given their archived permissions and times.
    int extract();
    int listArchive(); // prints each entry's name on standard output; returns how many

    // Kept for whoever wants to hear of the end of an extraction; the class itself never calls
    // it, untar() returning is the signal.
    CompleteCallback completeCallback() const;
    void setCompleteCallback(CompleteCallback callback);

  private:
    enum class OnFatal { EndProcess, Return };
    int run(OnFatal onFatal);

    QString archivePath_;
    QString installPath_;
    mutable std::mutex callbackMutex_;
    CompleteCallback completeCallback_;
};
