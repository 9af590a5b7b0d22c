#pragma once

#include <QString>

// Starts the installed application and returns without waiting for it: with `launchCommand`
// when one is given (a command line that starts it and returns, as `open` does), else the
// platform's own way, `open` on macOS, the bundle's program itself elsewhere. Empty when it
// started; else why not. On macOS, as there, the outcome of `open` is not known.
QString launchApplication(const QString &installPath, const QString &launchCommand);

// The bundle's program, which the application menu and the launch start.
QString bundleProgram(const QString &installPath);
