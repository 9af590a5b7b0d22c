#pragma once

#include <QObject>

// Answers the application's questions; the installer itself lives in the window's controller.
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    void applicationDidFinishLaunching() {}
    void applicationWillTerminate() {} // nothing is saved at exit
    bool applicationSupportsSecureRestorableState() const { return true; }
};
