#include "platform/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void writeLine(FILE *stream, const QString &text) {
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, line.size(), stream);
    std::fflush(stream);
}

} // namespace

void nsLog(const QString &message) {
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz");
    const QString name = QCoreApplication::instance() ? QCoreApplication::applicationName()
                                                      : QStringLiteral("plimbo-installer");
    writeLine(stderr, QStringLiteral("%1 %2[%3:%4] %5")
                          .arg(stamp, name)
                          .arg(::getpid())
                          .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()), 0, 16)
                          .arg(message));
}

void printLine(const QString &text) {
    writeLine(stdout, text);
}

void printErrorLine(const QString &text) {
    writeLine(stderr, text);
}

void terminateProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
