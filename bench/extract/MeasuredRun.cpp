#include "MeasuredRun.h"

#include <QProcess>

MeasuredRun runMeasured(const QStringList &command, const QString &logPath) {
    QProcess measure;
    measure.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    measure.start(QStringLiteral(PLIMBO_BENCH_MEASURE), QStringList{logPath} + command);
    MeasuredRun run;
    if (!measure.waitForFinished(-1) || measure.exitCode() != 0)
        return run;
    const QList<QByteArray> fields = measure.readAllStandardOutput().simplified().split(' ');
    if (fields.size() != 4)
        return run;
    run.exitStatus = fields[0].toInt();
    run.wallSeconds = fields[1].toDouble();
    run.cpuSeconds = fields[2].toDouble();
    run.peakRssMiB = fields[3].toDouble() / 1024; // KiB on Linux
    return run;
}
