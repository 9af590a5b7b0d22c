#include "analytics/StdoutCapture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <cstdio>
#include <unistd.h>

StdoutCapture::StdoutCapture() {
    if (!file_.open())
        qFatal("cannot make a file for standard output");
    std::fflush(stdout);
    savedStdout_ = ::dup(STDOUT_FILENO);
    ::dup2(file_.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    std::fflush(stdout);
    ::dup2(savedStdout_, STDOUT_FILENO);
    ::close(savedStdout_);
}

QByteArray StdoutCapture::text() const {
    QFile file(file_.fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool StdoutCapture::waitFor(const QByteArray &expected, int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    while (text() != expected) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    return true;
}
