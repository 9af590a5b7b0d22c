// How long `send` keeps its caller when the endpoint accepts connections and never answers:
// the hits pile up in the shared session while the caller goes on.

#include "analytics/GaEvent.h"
#include "platform/Log.h"
#include "LoopbackPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int callCount = 10000;

// A loopback listener that accepts every connection and never reads or answers.
class StalledServer {
  public:
    StalledServer() {
        // Ends with the process; the accepted connections stay open and silent until then.
        std::thread([this] {
            while (::accept(listener_.descriptor(), nullptr, nullptr) >= 0)
                ++accepted_;
        }).detach();
    }
    quint16 port() const { return listener_.port(); }
    int accepted() const { return accepted_; }

  private:
    LoopbackPort listener_{true};
    std::atomic<int> accepted_{0};
};

// CPU time of the calling thread: what a call costs apart from waiting for a core.
double threadCpuMicros() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double percentile(const std::vector<double> &sorted, double fraction) {
    return sorted[std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())))];
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    StalledServer server;
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    GaEvent::Environment environment;
    environment.settings = &settings;
    environment.analyticsEndpoint = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    GaEvent event(QStringLiteral("G-BENCH00001"), QStringLiteral("2oe4k0"),
                  QStringLiteral("ccd.NbB"), QStringLiteral("Plimbo Mac Installer"),
                  QStringLiteral("https://plimbo.invalid"), QStringLiteral("1.0.0"), environment);
    const QMap<QString, QString> parameters{
        {QStringLiteral("speed"), QStringLiteral("1048576")},
        {QStringLiteral("downloaded"), QStringLiteral("52428800")},
        {QStringLiteral("total"), QStringLiteral("104857600")},
        {QStringLiteral("ticks"), QStringLiteral("120")}};

    std::vector<double> micros;
    std::vector<double> cpuMicros;
    micros.reserve(callCount);
    cpuMicros.reserve(callCount);
    const auto start = std::chrono::steady_clock::now();
    for (int call = 0; call < callCount; ++call) {
        const double cpuBefore = threadCpuMicros();
        const auto before = std::chrono::steady_clock::now();
        event.send(QStringLiteral("download_progress_spot"), parameters);
        const auto after = std::chrono::steady_clock::now();
        cpuMicros.push_back(threadCpuMicros() - cpuBefore);
        micros.push_back(std::chrono::duration<double, std::micro>(after - before).count());
    }
    const double totalMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double first = micros.front();
    std::sort(micros.begin(), micros.end());
    std::sort(cpuMicros.begin(), cpuMicros.end());
    // Give the session thread a moment to reach the server, so that its connections show.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    printLine(QStringLiteral("send against a stalled endpoint, %1 calls").arg(callCount));
    printLine(QStringLiteral("                wall time   thread CPU time"));
    const auto row = [](const char *label, double wall, double cpu) {
        printLine(QStringLiteral("  %1 %2 us %3 us")
                      .arg(QLatin1String(label), -12)
                      .arg(wall, 9, 'f', 2)
                      .arg(cpu, 14, 'f', 2));
    };
    row("median", percentile(micros, 0.5), percentile(cpuMicros, 0.5));
    row("99th pct", percentile(micros, 0.99), percentile(cpuMicros, 0.99));
    row("max", micros.back(), cpuMicros.back());
    printLine(QStringLiteral("  first call    %1 us").arg(first, 0, 'f', 2));
    printLine(QStringLiteral("  all calls     %1 ms").arg(totalMs, 0, 'f', 1));
    printLine(
        QStringLiteral("  connections   %1 accepted by the stalled server").arg(server.accepted()));
    printLine(QStringLiteral("  descriptors   %1 open").arg(openDescriptors()));
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    printLine(
        QStringLiteral("  peak memory   %1 MiB").arg(double(usage.ru_maxrss) / 1024, 0, 'f', 1));
    // The hits still queued would wait out their 60-second timeouts; nothing waits for them.
    terminateProcess(0);
}
