#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

void runOnMainSync(std::function<void()> work) {
    QCoreApplication *app = QCoreApplication::instance();
    Q_ASSERT(QThread::currentThread() != app->thread());
    QMetaObject::invokeMethod(app, std::move(work), Qt::BlockingQueuedConnection);
}

void runOnMainAsync(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

void runOnMainAfter(int delayMs, std::function<void()> work) {
    runOnMainAsync([delayMs, work = std::move(work)]() mutable {
        QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(work));
    });
}
