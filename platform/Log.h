#pragma once

#include <QString>

// The installer's output is usually piped into a log, so every line is flushed at once.

// A system-log line: standard error, stamped like the platform's own log lines.
void nsLog(const QString &message);

// One line on standard output / standard error, as written, followed by a newline.
void printLine(const QString &text);
void printErrorLine(const QString &text);

// Flushes standard output and error and ends the process at once with `status`, without running
// static destructors that would race the threads still working (the main thread runs Qt).
[[noreturn]] void terminateProcess(int status);
