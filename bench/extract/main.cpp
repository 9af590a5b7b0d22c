// Times PlArchive::untar against bsdtar on the same application-like archive, each run in a
// child process of its own into a fresh folder, alternating, and prints medians side by side.
//
// bench_extract [--runs N] [--archive FILE] [--work DIR] [--bsdtar PROGRAM]

#include "AppLikeArchive.h"
#include "MeasuredRun.h"
#include "TreeSummary.h"
#include "archive/PlArchive.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

struct Tool {
    const char *label;
    QStringList command; // the install folder follows
    QList<MeasuredRun> runs;
};

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double medianOf(const QList<MeasuredRun> &runs, double MeasuredRun::*field) {
    QList<double> values;
    for (const MeasuredRun &run : runs)
        values << run.*field;
    return median(values);
}

double maximumOf(const QList<MeasuredRun> &runs, double MeasuredRun::*field) {
    double maximum = 0;
    for (const MeasuredRun &run : runs)
        maximum = std::max(maximum, run.*field);
    return maximum;
}

[[noreturn]] void fail(const QString &message) {
    std::fprintf(stderr, "bench_extract: %s\n", qPrintable(message));
    std::exit(1);
}

} // namespace

int main(int argc, char **argv) {
    // The measured child: nothing but the extraction, as the installer's job runs it.
    if (argc == 4 && std::strcmp(argv[1], "--untar") == 0) {
        PlArchive(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])).untar();
        return 0;
    }
    // The same binary doing nothing: the memory floor of the libraries it loads.
    if (argc == 2 && std::strcmp(argv[1], "--idle") == 0)
        return 0;

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs per tool."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption archiveOption(
        QStringLiteral("archive"),
        QStringLiteral("Archive to extract instead of the generated one."), QStringLiteral("FILE"));
    // Shallow by default, like the real install folder: the disk writer's symlink check walks
    // every folder of each entry's absolute path.
    const QCommandLineOption workOption(
        QStringLiteral("work"), QStringLiteral("Folder for the extractions."),
        QStringLiteral("DIR"), QDir::tempPath() + QStringLiteral("/plimbo-bench-extract"));
    const QCommandLineOption bsdtarOption(
        QStringLiteral("bsdtar"), QStringLiteral("The reference program."),
        QStringLiteral("PROGRAM"), QStandardPaths::findExecutable(QStringLiteral("bsdtar")));
    parser.addOptions({runsOption, archiveOption, workOption, bsdtarOption});
    parser.process(app);

    const int runs = parser.value(runsOption).toInt();
    const QString bsdtar = parser.value(bsdtarOption);
    const QString work = QDir(parser.value(workOption)).absolutePath();
    if (runs < 1)
        fail(QStringLiteral("--runs needs a positive number"));
    if (bsdtar.isEmpty())
        fail(QStringLiteral("bsdtar not found; install libarchive-tools or pass --bsdtar"));
    const QString archive = parser.isSet(archiveOption)
                                ? QFileInfo(parser.value(archiveOption)).absoluteFilePath()
                                : appLikeArchive(QStringLiteral(PLIMBO_BENCH_DIR));
    const QString install = QDir(work).filePath(QStringLiteral("Plimbo.app"));
    const QString log = QDir(work).filePath(QStringLiteral("child.log"));
    const QString self = QCoreApplication::applicationFilePath();

    Tool tools[] = {
        {"PlArchive::untar", {self, QStringLiteral("--untar"), archive}, {}},
        {"bsdtar -xpf", {bsdtar, QStringLiteral("-xpf"), archive, QStringLiteral("-C")}, {}}};
    std::optional<TreeSummary> expected;
    for (int round = 0; round < runs; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            Tool &tool = tools[(round + turn) % 2]; // alternate which goes first
            QDir(install).removeRecursively();
            if (!QDir().mkpath(install))
                fail(QStringLiteral("cannot create ") + install);
            ::sync(); // the previous run's write-back is not this run's cost

            const MeasuredRun measured = runMeasured(tool.command + QStringList{install}, log);
            if (measured.exitStatus != 0)
                fail(QStringLiteral("%1 failed, see %2").arg(tool.label, log));
            const TreeSummary summary = summarizeTree(install);
            if (expected && !(summary == *expected))
                fail(QStringLiteral("%1 extracted %2, expected %3")
                         .arg(tool.label, summary.toString(), expected->toString()));
            expected = summary;
            tool.runs << measured;
            std::printf("run %d %-18s wall %7.3f s  CPU %7.3f s  peak RSS %6.1f MiB\n", round + 1,
                        tool.label, measured.wallSeconds, measured.cpuSeconds, measured.peakRssMiB);
            std::fflush(stdout);
        }
    }
    QDir(work).removeRecursively();
    const MeasuredRun idle =
        runMeasured({self, QStringLiteral("--idle")}, QStringLiteral("/dev/null"));

    std::printf("\nArchive %s: %.1f MiB gzip, %s\n", qPrintable(archive),
                double(QFileInfo(archive).size()) / (1 << 20), qPrintable(expected->toString()));
    std::printf("%d runs per tool, alternating, each into a fresh %s\n\n", runs,
                qPrintable(install));
    std::printf("%-22s %12s %12s %16s\n", "", "median wall", "median CPU", "peak RSS (max)");
    for (const Tool &tool : tools)
        std::printf("%-22s %10.3f s %10.3f s %12.1f MiB\n", tool.label,
                    medianOf(tool.runs, &MeasuredRun::wallSeconds),
                    medianOf(tool.runs, &MeasuredRun::cpuSeconds),
                    maximumOf(tool.runs, &MeasuredRun::peakRssMiB));
    std::printf("%-22s %12.3f %12.3f %16.2f\n", "untar / bsdtar",
                medianOf(tools[0].runs, &MeasuredRun::wallSeconds) /
                    medianOf(tools[1].runs, &MeasuredRun::wallSeconds),
                medianOf(tools[0].runs, &MeasuredRun::cpuSeconds) /
                    medianOf(tools[1].runs, &MeasuredRun::cpuSeconds),
                maximumOf(tools[0].runs, &MeasuredRun::peakRssMiB) /
                    maximumOf(tools[1].runs, &MeasuredRun::peakRssMiB));
    std::printf("%-22s %12s %12s %12.1f MiB\n", "bench binary, idle", "", "", idle.peakRssMiB);
    return 0;
}
