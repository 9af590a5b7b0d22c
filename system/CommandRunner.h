#pragma once

#include <QString>

// Runs `commandLine` through `shell` -c with an empty standard input and returns everything it
// wrote to standard output and standard error, in the order written, once every process holding
// the output has closed it. The exit status is not reported; a shell that cannot be started
// gives the empty text.
QString runShellCommand(const QString &commandLine,
                        const QString &shell = QStringLiteral("/bin/zsh"));
