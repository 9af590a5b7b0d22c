// The download session against the curl tool: the same 1 GiB HTTPS file from nginx on loopback,
// each side in a child process of its own, alternating, several runs. Optionally through a proxy
// that cuts the connection at random offsets. Started by `run` beside this file.
#include "ChildProcess.h"
#include "ControllerStandIn.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>

namespace {

constexpr char curlLoop[] = R"(n=0
until curl -sS -C - -o "$1" --cacert "$2" "$3" 2>/dev/null; do
    n=$((n + 1)); [ "$n" -ge 1000 ] && exit 1
done
echo "retries $n")";

struct Options {
    int port = 0;
    QString path;
    QString caFile;
    QByteArray sha256;
    QString work;
    int runs = 5;
    int cuts = 0;
    QString proxyScript;
    qint64 size = 0;
};

int usage() {
    std::fprintf(stderr,
                 "usage: bench_download fetch URL DESTINATION CAFILE\n"
                 "       bench_download compare --port P --path /FILE --size BYTES --ca CAFILE\n"
                 "              --sha256 HEX --work DIR [--runs N] [--cuts N --proxy SCRIPT]\n");
    return 2;
}

int fetch(int argc, char **argv) {
    if (argc != 5)
        return usage();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ControllerStandIn controller(QUrl(QString::fromLocal8Bit(argv[2])),
                                 QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    controller.start();
    app.exec();
    std::printf("retries %d\n", controller.retries());
    return controller.succeeded() ? 0 : 1;
}

std::optional<Options> parseOptions(int argc, char **argv) {
    Options options;
    std::map<QByteArray, QByteArray> values;
    for (int i = 2; i + 1 < argc; i += 2)
        values[argv[i]] = argv[i + 1];
    if ((argc - 2) % 2 != 0)
        return std::nullopt;
    options.port = values["--port"].toInt();
    options.path = QString::fromLocal8Bit(values["--path"]);
    options.size = values["--size"].toLongLong();
    options.caFile = QString::fromLocal8Bit(values["--ca"]);
    options.sha256 = values["--sha256"];
    options.work = QString::fromLocal8Bit(values["--work"]);
    if (values.count("--runs"))
        options.runs = values["--runs"].toInt();
    options.cuts = values["--cuts"].toInt();
    options.proxyScript = QString::fromLocal8Bit(values["--proxy"]);
    if (options.port <= 0 || options.path.isEmpty() || options.size <= 0 ||
        options.caFile.isEmpty() || options.sha256.isEmpty() || options.work.isEmpty() ||
        options.runs <= 0 || (options.cuts > 0 && options.proxyScript.isEmpty()))
        return std::nullopt;
    return options;
}

QByteArray sha256Of(const QString &path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

int retriesIn(const QByteArray &output) {
    const qsizetype at = output.lastIndexOf("retries ");
    return at < 0 ? -1 : output.mid(at + 8).trimmed().toInt();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Side {
    const char *name;
    bool isSession; // else the curl tool
    std::vector<ChildCost> costs;
    std::vector<int> retries;
};

// One download by one side, through a fresh cutting proxy when cuts are asked for.
bool measure(Side &side, const Options &options, int run) {
    std::optional<ChildProcess> proxy;
    int port = options.port;
    if (options.cuts > 0) {
        proxy.emplace(QStringList{"python3", options.proxyScript, QString::number(options.port),
                                  QString::number(options.cuts), QString::number(options.size),
                                  QString::number(run)});     // both sides meet the same cuts
        port = proxy->readLine().split(' ').value(1).toInt(); // "port N"
    }
    const QString url = QStringLiteral("https://127.0.0.1:%1%2").arg(port).arg(options.path);
    const QString destination = options.work + QStringLiteral("/download.bin");
    QFile::remove(destination);
    const QString self = QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe"));
    const QStringList command =
        side.isSession ? QStringList{self, "fetch", url, destination, options.caFile}
        : options.cuts > 0
            ? QStringList{"bash", "-c", curlLoop, "bash", destination, options.caFile, url}
            : QStringList{"curl", "-sS", "-o", destination, "--cacert", options.caFile, url};
    const ChildCost cost = ChildProcess(command).wait();
    const int retries = options.cuts > 0 || side.isSession ? retriesIn(cost.output) : 0;
    const bool identical = sha256Of(destination) == options.sha256;
    QFile::remove(destination);
    std::printf("run %d %-7s wall %7.2f s  cpu %6.2f s  rss %6.1f MiB  retries %2d  %s\n", run + 1,
                side.name, cost.wallSeconds, cost.cpuSeconds, cost.peakRssMiB, retries,
                identical ? "sha256 ok" : "SHA256 MISMATCH");
    std::fflush(stdout);
    side.costs.push_back(cost);
    side.retries.push_back(retries);
    return cost.exitStatus == 0 && identical && retries == options.cuts;
}

void printSummary(const Options &options, const Side &session, const Side &curl) {
    const double mebibytes = double(options.size) / (1024 * 1024);
    std::printf("\n%d runs, %.0f MiB over HTTPS, %d cuts per download\n\n", options.runs, mebibytes,
                options.cuts);
    std::printf("| side | median wall s | MiB/s | median CPU s | peak RSS MiB | retries |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::map<const char *, double> wall, cpu;
    for (const Side *side : {&session, &curl}) {
        std::vector<double> walls, cpus;
        double peak = 0;
        for (const ChildCost &cost : side->costs) {
            walls.push_back(cost.wallSeconds);
            cpus.push_back(cost.cpuSeconds);
            peak = std::max(peak, cost.peakRssMiB);
        }
        wall[side->name] = median(walls);
        cpu[side->name] = median(cpus);
        const auto [fewest, most] = std::minmax_element(side->retries.begin(), side->retries.end());
        std::printf("| %s | %.2f | %.0f | %.2f | %.1f | %d..%d |\n", side->name, wall[side->name],
                    mebibytes / wall[side->name], cpu[side->name], peak, *fewest, *most);
    }
    std::printf("\nwall ratio %.3f (target <= 1.05), CPU ratio %.3f (target <= 1.25)\n",
                wall[session.name] / wall[curl.name], cpu[session.name] / cpu[curl.name]);
}

int compare(int argc, char **argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options)
        return usage();
    Side session{"session", true, {}, {}};
    Side curl{"curl", false, {}, {}};
    bool sound = true;
    for (int run = 0; run < options->runs; ++run) {
        // Alternate who goes first, so neither side always meets a warmer cache.
        Side &first = run % 2 ? curl : session;
        Side &second = run % 2 ? session : curl;
        sound = measure(first, *options, run) && sound;
        sound = measure(second, *options, run) && sound;
    }
    printSummary(*options, session, curl);
    if (!sound)
        std::printf("\nFAILED: a download failed, differed from the original or retried "
                    "another number of times than there were cuts\n");
    return sound ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "fetch")
        return fetch(argc, argv);
    if (mode == "compare")
        return compare(argc, argv);
    return usage();
}
