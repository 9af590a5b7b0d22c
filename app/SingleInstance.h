#pragma once

#include <QLocalServer>
#include <QLockFile>

class QWidget;

// One installer at a time for each user, since they would share the archive path and the bundle.
// The first holds a lock and listens; a later one asks it to bring its window to the front.
class SingleInstance {
  public:
    SingleInstance();

    // True only when another installer holds the lock. A runtime folder that cannot hold it is
    // said on standard error, and this installer goes on unguarded. Needs no application object.
    bool anotherRuns();
    // Asks the running installer to bring its window to the front.
    void askRunningToRaise();
    // Brings `window` to the front whenever a later installer asks (when this one is guarded).
    void raiseOnRequest(QWidget *window);
    // The user's runtime folder, where the lock is; empty when there is none the user owns.
    const QString &folder() const { return folder_; }

  private:
    const QString folder_;
    const QString socketPath_;
    QLockFile lock_;
    QLocalServer server_;
    bool guarded_ = false;
};
