#pragma once

#include <QLocalServer>
#include <QLockFile>

class QWidget;

// One installer at a time for each user, since they would share the archive path and the bundle.
// The first holds a lock and listens; a later one asks it to bring its window to the front.
class SingleInstance {
  public:
    SingleInstance();

    // False when another installer runs. Needs no application object.
    bool claim();
    // Asks the running installer to bring its window to the front.
    void askRunningToRaise();
    // Brings `window` to the front whenever a later installer asks.
    void raiseOnRequest(QWidget *window);

  private:
    const QString folder_;
    const QString socketPath_;
    QLockFile lock_;
    QLocalServer server_;
};
