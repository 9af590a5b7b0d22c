// bench_download URL FILE CAFILE: one download by the installer's download session, moved to FILE
// as the installer moves it; status 0 once it is there.
#include "platform/DownloadSession.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <semaphore>

namespace {

class MovingDelegate : public DownloadSessionDelegate {
  public:
    explicit MovingDelegate(QString destination) : destination_(std::move(destination)) {}

    void didWriteData(DownloadSession *, DownloadTask *, int64_t, int64_t, int64_t) override {}
    void didFinishDownloadingTo(DownloadSession *, DownloadTask *, const QString &path) override {
        moved_ = QFile::rename(path, destination_);
    }
    void didCompleteWithError(DownloadSession *, DownloadTask *,
                              const std::optional<DownloadError> &error) override {
        if (error)
            std::fprintf(stderr, "bench_download: %s\n", qPrintable(error->description));
        completed_.release();
    }

    bool waitUntilMoved() {
        completed_.acquire();
        return moved_;
    }

  private:
    const QString destination_;
    bool moved_ = false; // written before the release that waitUntilMoved acquires
    std::binary_semaphore completed_{0};
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_download URL FILE CAFILE\n");
        return 2;
    }
    const QString destination = QString::fromLocal8Bit(argv[2]);
    MovingDelegate delegate(destination);
    DownloadSessionOptions options;
    options.extraCaFile = QString::fromLocal8Bit(argv[3]);
    options.temporaryFolder = QFileInfo(destination).absolutePath(); // the move is a rename
    DownloadSession session(&delegate, options);
    session.downloadTask(QUrl(QString::fromLocal8Bit(argv[1])))->resume();
    return delegate.waitUntilMoved() ? 0 : 1;
}
