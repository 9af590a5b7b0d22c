#pragma once

#include <QByteArray>
#include <QStringList>
#include <sys/types.h>

// What one child process cost, measured by the kernel when it was reaped.
struct ChildCost {
    double wallSeconds = 0;
    double cpuSeconds = 0; // user + system, its own reaped children included
    double peakRssMiB = 0;
    int exitStatus = -1; // -1: killed by a signal
    QByteArray output;   // its standard output
};

// A child process started with posix_spawn; standard output is captured, standard error shared.
class ChildProcess {
  public:
    explicit ChildProcess(const QStringList &command);
    ~ChildProcess(); // kills (SIGTERM) and reaps a child still running
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    QByteArray readLine(); // blocks; empty at the end of its output
    ChildCost wait();      // reads the rest of its output and reaps it

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    QByteArray pending_;
    double startSeconds_ = 0;
};
