#pragma once

#include <QString>
#include <functional>
#include <mutex>

// Unpacks the downloaded gzip-compressed tar archive into the application bundle, every entry
// below the bundle's folder. Runs on whatever thread calls it; a fatal archive error ends the
// process with status 1.
class PlArchive {
  public:
    using CompleteCallback = std::function<void()>;

    PlArchive(); // the compiled-in archive and install paths
    PlArchive(QString archivePath, QString installPath);

    void untar();
    int listArchive(); // prints each entry's name on standard output; returns how many

    // Kept for whoever wants to hear of the end of an extraction; the class itself never calls
    // it, untar() returning is the signal.
    CompleteCallback completeCallback() const;
    void setCompleteCallback(CompleteCallback callback);

  private:
    QString archivePath_;
    QString installPath_;
    mutable std::mutex callbackMutex_;
    CompleteCallback completeCallback_;
};
