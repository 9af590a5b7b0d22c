// bench_analytics: how long `send` keeps its caller when the endpoint takes connections and never
// answers. Prints one Markdown table row: median, 99th percentile and maximum of 10,000 calls.
#include "analytics/GaEvent.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>
#include <vector>

namespace {

// Never accepts: connections wait in its queue, unanswered, until the process ends.
quint16 stalledListener() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(listener, 128) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        qFatal("cannot listen on 127.0.0.1");
    return ntohs(address.sin_port);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    GaEvent::Environment environment;
    environment.settings = &settings;
    environment.analyticsEndpoint = QStringLiteral("http://127.0.0.1:%1").arg(stalledListener());
    GaEvent event(QStringLiteral("G-BENCH00001"), QStringLiteral("2oe4k0"),
                  QStringLiteral("ccd.NbB"), QStringLiteral("Plimbo Mac Installer"),
                  QStringLiteral("https://plimbo.invalid"), QStringLiteral("1.0.0"), environment);
    std::vector<double> micros(10000);
    for (double &call : micros) {
        const auto before = std::chrono::steady_clock::now();
        event.send(QStringLiteral("download_progress_spot"),
                   {{QStringLiteral("downloaded"), QStringLiteral("52428800")}});
        call = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before)
                   .count();
    }
    std::sort(micros.begin(), micros.end());
    std::printf(
        "| analytics send, 10,000 calls to a stalled endpoint | median %.1f µs, p99 %.1f µs, "
        "max %.0f µs | — | — |\n",
        micros[5000], micros[9900], micros.back());
    terminateProcess(0); // the queued hits would wait out their timeouts; nothing waits for them
}
