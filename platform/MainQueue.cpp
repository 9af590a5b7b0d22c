#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <deque>
#include <future>
#include <mutex>

namespace {

// Work for the main thread waits in a queue of our own, guarded by a standard mutex, and Qt is
// only asked to drain it. Qt's own hand-over then carries no state of ours, so every hand-over of
// the installer's data is one the thread checkers can see.
class MainQueue : public QObject {
    Q_OBJECT
  public:
    // Made on the main thread before any other thread can post to it (prepareMainQueue), so that
    // it belongs to that thread; never destroyed, as late posts may come.
    static MainQueue &instance() {
        static MainQueue *queue = new MainQueue;
        return *queue;
    }

    void post(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(std::move(work));
        }
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
    }

  private slots:
    void drain() {
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard lock(mutex_);
                if (pending_.empty())
                    return;
                work = std::move(pending_.front());
                pending_.pop_front();
            }
            work();
        }
    }

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
};

} // namespace

void prepareMainQueue() {
    MainQueue::instance();
}

Q_COREAPP_STARTUP_FUNCTION(prepareMainQueue)

void runOnMainSync(std::function<void()> work) {
    Q_ASSERT(QThread::currentThread() != MainQueue::instance().thread());
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    MainQueue::instance().post([&work, &done] {
        work();
        done.set_value();
    });
    finished.wait();
}

void runOnMainAsync(std::function<void()> work) {
    MainQueue::instance().post(std::move(work));
}

void runOnMainAfter(int delayMs, std::function<void()> work) {
    runOnMainAsync([delayMs, work = std::move(work)]() mutable {
        QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(work));
    });
}

#include "MainQueue.moc"
