#pragma once

#include <QStringList>

// What one run of a command cost.
struct MeasuredRun {
    int exitStatus = -1; // -1: killed by a signal, or the measurement failed
    double wallSeconds = 0;
    double cpuSeconds = 0; // user + system
    double peakRssMiB = 0;
};

// Runs `command` (program first) through bench_extract_measure, its output going to `logPath`.
MeasuredRun runMeasured(const QStringList &command, const QString &logPath);
