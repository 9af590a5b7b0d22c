// Runs one PlArchive operation the way the installer does, on a thread of its own while the main
// thread runs Qt's event loop, so tests see the real exit status and both output streams.
// Usage: archive_probe untar|list <archive> <install folder>

#include "archive/PlArchive.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4 || (arguments[1] != u"untar" && arguments[1] != u"list"))
        return 2;
    PlArchive archive(arguments[2], arguments[3]);
    const bool list = arguments[1] == u"list";

    // The worker is a plain thread and the main loop polls a flag for its end, so that sanitizers
    // see every hand-over.
    std::atomic<bool> finished = false;
    std::thread worker([&] {
        if (list)
            printErrorLine(QStringLiteral("listed %1").arg(archive.listArchive()));
        else
            archive.untar();
        finished = true;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (finished)
            QCoreApplication::quit();
    });
    poll.start(10);
    const int status = app.exec();
    worker.join();
    return status;
}
