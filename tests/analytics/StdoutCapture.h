#pragma once

#include <QByteArray>
#include <QTemporaryFile>

// Sends the process's standard output into a file for its lifetime, so that a test can wait for
// lines that other threads print.
class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture(); // restores standard output
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QByteArray text() const;
    // True as soon as the captured text is `expected`; false when it is not within the timeout.
    bool waitFor(const QByteArray &expected, int timeoutMs = 5000) const;

  private:
    QTemporaryFile file_;
    int savedStdout_ = -1;
};
