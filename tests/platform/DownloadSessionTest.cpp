#include "platform/DownloadSession.h"

#include "platform/ResumeData.h"
#include "support/TestServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

// Failures show their description.
static void PrintTo(const DownloadError &error, std::ostream *out) {
    *out << "error \"" << error.description.toStdString() << "\""
         << (error.resumeData ? " with resume data" : "");
}

namespace {

const QString filePath = QStringLiteral("/file");
const QByteArray etag = "\"v1\"";

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

// The body in chunked transfer coding, pieces of `piece` bytes.
QByteArray chunked(const QByteArray &body, qsizetype piece) {
    QByteArray encoded;
    for (qsizetype at = 0; at < body.size(); at += piece) {
        const QByteArray part = body.mid(at, piece);
        encoded += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    return encoded + "0\r\n\r\n";
}

struct Progress {
    int64_t bytes;
    int64_t total;
    int64_t expected;
};

// Records what the session reports on its thread; the test's thread waits for completions.
class RecordingDelegate : public DownloadSessionDelegate {
  public:
    void didWriteData(DownloadSession *, DownloadTask *task, int64_t bytesWritten,
                      int64_t totalBytesWritten, int64_t totalBytesExpectedToWrite) override {
        std::lock_guard lock(mutex_);
        note(task, 'p');
        progress_[task].push_back({bytesWritten, totalBytesWritten, totalBytesExpectedToWrite});
    }

    void didFinishDownloadingTo(DownloadSession *, DownloadTask *task,
                                const QString &path) override {
        QFile file(path);
        const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        std::lock_guard lock(mutex_);
        note(task, 'f');
        delivered_[task] = content;
        deliveredPaths_.push_back(path);
    }

    void didCompleteWithError(DownloadSession *, DownloadTask *task,
                              const std::optional<DownloadError> &error) override {
        std::lock_guard lock(mutex_);
        note(task, 'c');
        errors_[task] = error;
        ++completions_;
        completed_.notify_all();
    }

    bool waitForCompletions(int count, int timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        return completed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return completions_ >= count; });
    }

    int completions() {
        std::lock_guard lock(mutex_);
        return completions_;
    }

    // The task's callbacks in order: 'p' progress, 'f' finished file, 'c' completion.
    std::string events(DownloadTask *task) {
        std::lock_guard lock(mutex_);
        return events_[task];
    }

    std::vector<Progress> progress(DownloadTask *task) {
        std::lock_guard lock(mutex_);
        return progress_[task];
    }

    std::optional<QByteArray> delivered(DownloadTask *task) {
        std::lock_guard lock(mutex_);
        const auto found = delivered_.find(task);
        return found == delivered_.end() ? std::nullopt : std::optional(found->second);
    }

    std::vector<QString> deliveredPaths() {
        std::lock_guard lock(mutex_);
        return deliveredPaths_;
    }

    std::optional<DownloadError> error(DownloadTask *task) {
        std::lock_guard lock(mutex_);
        return errors_[task];
    }

    std::set<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

  private:
    void note(DownloadTask *task, char event) {
        events_[task] += event;
        threads_.insert(std::this_thread::get_id());
    }

    std::mutex mutex_;
    std::condition_variable completed_;
    int completions_ = 0;
    std::map<DownloadTask *, std::string> events_;
    std::map<DownloadTask *, std::vector<Progress>> progress_;
    std::map<DownloadTask *, QByteArray> delivered_;
    std::vector<QString> deliveredPaths_;
    std::map<DownloadTask *, std::optional<DownloadError>> errors_;
    std::set<std::thread::id> threads_;
};

int64_t sumOfBytes(const std::vector<Progress> &progress) {
    int64_t sum = 0;
    for (const Progress &step : progress)
        sum += step.bytes;
    return sum;
}

// Totals only grow, each step adds its own bytes, and every step announces `expected`.
void expectConsistentProgress(const std::vector<Progress> &progress, int64_t expected) {
    ASSERT_FALSE(progress.empty());
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].total, progress[i - 1].total + progress[i].bytes) << "step " << i;
        EXPECT_GT(progress[i].bytes, 0) << "step " << i;
    }
    for (const Progress &step : progress)
        EXPECT_EQ(step.expected, expected);
}

class DownloadSessionTest : public ::testing::Test {
  protected:
    DownloadSession &session(int stallTimeoutSeconds = 5, const QString &extraCaFile = {}) {
        if (!session_) {
            DownloadSessionOptions options;
            options.stallTimeoutSeconds = stallTimeoutSeconds;
            options.extraCaFile = extraCaFile;
            options.temporaryFolder = folder_.path();
            session_ = std::make_unique<DownloadSession>(&delegate_, options);
        }
        return *session_;
    }

    // Starts the task and waits for its completion; returns its error.
    std::optional<DownloadError> run(const std::shared_ptr<DownloadTask> &task) {
        ran_.push_back(task);
        const int before = delegate_.completions();
        task->resume();
        EXPECT_TRUE(delegate_.waitForCompletions(before + 1)) << "no completion";
        return delegate_.error(task.get());
    }

    QByteArray resumeDataAfterFailure(const std::shared_ptr<DownloadTask> &task) {
        const std::optional<DownloadError> error = run(task);
        EXPECT_TRUE(error && error->resumeData) << "expected a failure with resume data";
        return error && error->resumeData ? *error->resumeData : QByteArray();
    }

    QStringList partialFiles() const { return QDir(folder_.path()).entryList(QDir::Files); }

    // First a cut after `cutAt` bytes, then whatever `later` answers.
    void serveCutThen(qint64 cutAt, TestHandler later) {
        server_.setHandler(filePath, [this, cutAt, later](const RecordedRequest &request) {
            if (attempts_++ > 0)
                return later(request);
            TestResponse response = serveFile(request, content_, etag);
            response.cutAfterBytes = cutAt;
            return response;
        });
    }

    QTemporaryDir folder_;
    RecordingDelegate delegate_;
    const QByteArray content_ = randomBytes(3 * 1024 * 1024, 7);
    std::atomic<int> attempts_ = 0; // requests answered by serveCutThen's handler
    TestServer server_;             // its handlers use the members above

  private:
    std::unique_ptr<DownloadSession> session_;
    // Every task lives to the end of the test, so none takes over an address already recorded.
    std::vector<std::shared_ptr<DownloadTask>> ran_;
};

TEST_F(DownloadSessionTest, DeliversTheWholeFileOffTheMainThread) {
    server_.setHandler(filePath, [this](const RecordedRequest &request) {
        return serveFile(request, content_, etag);
    });
    const std::shared_ptr<DownloadTask> task = session().downloadTask(server_.url(filePath));
    EXPECT_EQ(task->url(), server_.url(filePath));

    EXPECT_EQ(run(task), std::nullopt);

    EXPECT_EQ(delegate_.delivered(task.get()), content_);
    const std::vector<Progress> progress = delegate_.progress(task.get());
    EXPECT_EQ(delegate_.events(task.get()), std::string(progress.size(), 'p') + "fc");
    expectConsistentProgress(progress, content_.size());
    EXPECT_EQ(progress.back().total, content_.size());
    EXPECT_EQ(sumOfBytes(progress), content_.size());
    const std::set<std::thread::id> threads = delegate_.threads();
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    EXPECT_TRUE(partialFiles().isEmpty()) << "the delivered file outlived its callback";
    EXPECT_TRUE(server_.requestsTo(filePath).first().header("Range").isEmpty());
}

TEST_F(DownloadSessionTest, ResumesACutTransferWithARangeRequest) {
    const qint64 cutAt = 1024 * 1024 + 12345;
    serveCutThen(cutAt, [this](const RecordedRequest &request) {
        return serveFile(request, content_, etag);
    });
    const std::shared_ptr<DownloadTask> first = session().downloadTask(server_.url(filePath));
    const QByteArray resumeData = resumeDataAfterFailure(first);
    EXPECT_EQ(delegate_.events(first.get()).back(), 'c');
    EXPECT_EQ(delegate_.events(first.get()).find('f'), std::string::npos);
    EXPECT_EQ(delegate_.progress(first.get()).back().total, cutAt);

    const std::shared_ptr<DownloadTask> resumed = session().downloadTaskWithResumeData(resumeData);
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->url(), server_.url(filePath));
    EXPECT_EQ(run(resumed), std::nullopt);

    const RecordedRequest request = server_.requestsTo(filePath).last();
    EXPECT_EQ(request.header("Range"), "bytes=" + QByteArray::number(cutAt) + "-");
    EXPECT_EQ(request.header("If-Range"), etag);
    EXPECT_EQ(delegate_.delivered(resumed.get()), content_);
    const std::vector<Progress> progress = delegate_.progress(resumed.get());
    expectConsistentProgress(progress, content_.size());
    EXPECT_EQ(progress.front().total, cutAt + progress.front().bytes);
    EXPECT_EQ(progress.back().total, content_.size());
    EXPECT_EQ(sumOfBytes(progress), content_.size() - cutAt);
    EXPECT_TRUE(partialFiles().isEmpty());
}

TEST_F(DownloadSessionTest, StartsOverWhenTheFileChangedBetweenAttempts) {
    const QByteArray changed = randomBytes(2 * 1024 * 1024, 8);
    serveCutThen(1500000, [&changed](const RecordedRequest &request) {
        return serveFile(request, changed, "\"v2\"");
    });
    const QByteArray resumeData =
        resumeDataAfterFailure(session().downloadTask(server_.url(filePath)));
    const std::shared_ptr<DownloadTask> resumed = session().downloadTaskWithResumeData(resumeData);
    ASSERT_TRUE(resumed);

    EXPECT_EQ(run(resumed), std::nullopt);

    EXPECT_EQ(delegate_.delivered(resumed.get()), changed);
    const std::vector<Progress> progress = delegate_.progress(resumed.get());
    expectConsistentProgress(progress, changed.size());
    EXPECT_EQ(progress.front().total, progress.front().bytes); // counting from byte 0 again
    EXPECT_EQ(progress.back().total, changed.size());
}

TEST_F(DownloadSessionTest, StalledTransferTimesOutAndResumes) {
    const qint64 stallAt = 700000;
    server_.setHandler(filePath, [this, stallAt](const RecordedRequest &request) {
        TestResponse response = serveFile(request, content_, etag);
        if (attempts_++ == 0)
            response.stallAfterBytes = stallAt;
        return response;
    });
    session(1);
    QElapsedTimer timer;
    timer.start();
    const QByteArray resumeData =
        resumeDataAfterFailure(session().downloadTask(server_.url(filePath)));
    EXPECT_LT(timer.elapsed(), 2500);
    ASSERT_TRUE(ResumeData::parse(resumeData));
    EXPECT_EQ(ResumeData::parse(resumeData)->bytesWritten, stallAt);

    const std::shared_ptr<DownloadTask> resumed = session().downloadTaskWithResumeData(resumeData);
    ASSERT_TRUE(resumed);
    EXPECT_EQ(run(resumed), std::nullopt);
    EXPECT_EQ(delegate_.delivered(resumed.get()), content_);
}

TEST_F(DownloadSessionTest, ResumedTaskThatReachesNoServerKeepsItsResumeData) {
    auto gone = std::make_unique<TestServer>();
    gone->setHandler(filePath, [this](const RecordedRequest &request) {
        TestResponse response = serveFile(request, content_, etag);
        response.cutAfterBytes = 100000;
        return response;
    });
    const QByteArray resumeData =
        resumeDataAfterFailure(session().downloadTask(gone->url(filePath)));
    gone.reset();

    const std::optional<DownloadError> error =
        run(session().downloadTaskWithResumeData(resumeData));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->resumeData, resumeData);
    EXPECT_EQ(partialFiles().size(), 1);
}

struct FailureCase {
    const char *name;
    std::function<TestResponse(const RecordedRequest &, const QByteArray &content)> answer;
};

void PrintTo(const FailureCase &failure, std::ostream *out) {
    *out << failure.name;
}

class FirstAttemptFailure : public DownloadSessionTest,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FirstAttemptFailure, LeavesNoResumeDataAndNoFile) {
    server_.setHandler(filePath, [this](const RecordedRequest &request) {
        return GetParam().answer(request, content_);
    });
    const std::shared_ptr<DownloadTask> task = session().downloadTask(server_.url(filePath));

    const std::optional<DownloadError> error = run(task);

    ASSERT_TRUE(error);
    EXPECT_FALSE(error->description.isEmpty());
    EXPECT_EQ(error->resumeData, std::nullopt);
    EXPECT_EQ(delegate_.delivered(task.get()), std::nullopt);
    EXPECT_TRUE(partialFiles().isEmpty());
}

TestResponse cutFile(const RecordedRequest &request, const QByteArray &content, QByteArray tag,
                     bool acceptRanges, qint64 cutAt) {
    TestResponse response = serveFile(request, content, tag, acceptRanges);
    response.cutAfterBytes = cutAt;
    return response;
}

INSTANTIATE_TEST_SUITE_P(
    DownloadSession, FirstAttemptFailure,
    ::testing::Values(
        FailureCase{"NoAcceptRanges",
                    [](const RecordedRequest &request, const QByteArray &content) {
                        return cutFile(request, content, etag, false, 500000);
                    }},
        FailureCase{"NoValidator",
                    [](const RecordedRequest &, const QByteArray &content) {
                        TestResponse response{200, {{"Accept-Ranges", "bytes"}}, content};
                        response.cutAfterBytes = 500000;
                        return response;
                    }},
        FailureCase{"OnlyAWeakETag",
                    [](const RecordedRequest &, const QByteArray &content) {
                        TestResponse response{
                            200, {{"Accept-Ranges", "bytes"}, {"ETag", "W/\"v1\""}}, content};
                        response.cutAfterBytes = 500000;
                        return response;
                    }},
        FailureCase{"NothingWritten",
                    [](const RecordedRequest &request, const QByteArray &content) {
                        return cutFile(request, content, etag, true, 0);
                    }}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return info.param.name; });

class ResumedAttemptFailure : public DownloadSessionTest,
                              public ::testing::WithParamInterface<FailureCase> {};

// However the second answer disagrees with the bytes on disk, nothing spliced is delivered.
TEST_P(ResumedAttemptFailure, FailsWithoutResumeDataOrFile) {
    serveCutThen(1000000, [this](const RecordedRequest &request) {
        return GetParam().answer(request, content_);
    });
    const QByteArray resumeData =
        resumeDataAfterFailure(session().downloadTask(server_.url(filePath)));
    const std::shared_ptr<DownloadTask> resumed = session().downloadTaskWithResumeData(resumeData);
    ASSERT_TRUE(resumed);

    const std::optional<DownloadError> error = run(resumed);

    ASSERT_TRUE(error);
    EXPECT_EQ(error->resumeData, std::nullopt);
    EXPECT_EQ(delegate_.delivered(resumed.get()), std::nullopt);
    EXPECT_TRUE(partialFiles().isEmpty());
}

TestResponse partial(const QByteArray &content, qint64 first, qint64 last) {
    return {
        206,
        {{"ETag", etag},
         {"Content-Range", "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) +
                               '/' + QByteArray::number(content.size())}},
        content.mid(first, last - first + 1)};
}

INSTANTIATE_TEST_SUITE_P(
    DownloadSession, ResumedAttemptFailure,
    ::testing::Values(
        FailureCase{"PartialFromAnotherStart",
                    [](const RecordedRequest &, const QByteArray &content) {
                        return partial(content, 999999, content.size() - 1);
                    }},
        FailureCase{"PartialShortOfTheEnd",
                    [](const RecordedRequest &, const QByteArray &content) {
                        return partial(content, 1000000, content.size() - 2);
                    }},
        FailureCase{"PartialWithoutContentRange",
                    [](const RecordedRequest &, const QByteArray &content) {
                        return TestResponse{206, {{"ETag", etag}}, content.mid(1000000)};
                    }},
        FailureCase{"RangeNotSatisfiable",
                    [](const RecordedRequest &, const QByteArray &content) {
                        return TestResponse{
                            416,
                            {{"Content-Range", "bytes */" + QByteArray::number(content.size())}},
                            "no such range"};
                    }}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return info.param.name; });

// The partial file must still be exactly what the resume data says.
TEST_F(DownloadSessionTest, RefusesAPartialFileThatChanged) {
    serveCutThen(1000000, [this](const RecordedRequest &request) {
        return serveFile(request, content_, etag);
    });
    const QByteArray resumeData =
        resumeDataAfterFailure(session().downloadTask(server_.url(filePath)));
    QFile partial(ResumeData::parse(resumeData)->partialFile);
    ASSERT_TRUE(partial.open(QIODevice::Append));
    partial.write("x");
    partial.close();

    const std::optional<DownloadError> error =
        run(session().downloadTaskWithResumeData(resumeData));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->resumeData, std::nullopt);
    EXPECT_EQ(server_.requestsTo(filePath).size(), 1);
    EXPECT_TRUE(partialFiles().isEmpty());
}

TEST_F(DownloadSessionTest, RejectsResumeDataItDidNotWrite) {
    const QString outside = QDir::temp().filePath(QStringLiteral("plimbo-download-elsewhere"));
    const QString foreignName = QDir(folder_.path()).filePath(QStringLiteral("notes.txt"));
    const QByteArray valid =
        ResumeData{server_.url(filePath), QDir(folder_.path()).filePath("plimbo-download-a"), 10,
                   etag}
            .serialise();
    for (const QByteArray &data :
         {QByteArray(), QByteArray("garbage"), valid.chopped(1), valid + "x",
          ResumeData{server_.url(filePath), outside, 10, etag}.serialise(),
          ResumeData{server_.url(filePath), foreignName, 10, etag}.serialise()})
        EXPECT_EQ(session().downloadTaskWithResumeData(data), nullptr) << data.toHex().constData();
    EXPECT_NE(session().downloadTaskWithResumeData(valid), nullptr);
}

TEST_F(DownloadSessionTest, DeliversAnErrorPageAsTheFile) {
    server_.setResponse(filePath, {404, {{"Content-Type", "text/html"}}, "<h1>gone</h1>"});
    const std::shared_ptr<DownloadTask> task = session().downloadTask(server_.url(filePath));

    EXPECT_EQ(run(task), std::nullopt);

    EXPECT_EQ(delegate_.delivered(task.get()), "<h1>gone</h1>");
    EXPECT_EQ(delegate_.progress(task.get()).back().expected, 13);
}

TEST_F(DownloadSessionTest, FetchesOnlyHttpAndHttps) {
    for (const char *address : {"ftp://127.0.0.1/file", "file:///etc/hostname", "data:,x"}) {
        const std::shared_ptr<DownloadTask> task = session().downloadTask(QUrl(address));
        const std::optional<DownloadError> error = run(task);
        ASSERT_TRUE(error) << address;
        EXPECT_EQ(error->resumeData, std::nullopt) << address;
        EXPECT_EQ(delegate_.events(task.get()), "c") << address;
    }
    EXPECT_TRUE(partialFiles().isEmpty());
}

TEST_F(DownloadSessionTest, ReportsAnUnknownLengthAsMinusOne) {
    // A transfer coding overrides the Content-Length the test server adds.
    server_.setResponse(filePath,
                        {200, {{"Transfer-Encoding", "chunked"}}, chunked(content_, 100000)});
    const std::shared_ptr<DownloadTask> task = session().downloadTask(server_.url(filePath));

    EXPECT_EQ(run(task), std::nullopt);

    EXPECT_EQ(delegate_.delivered(task.get()), content_);
    const std::vector<Progress> progress = delegate_.progress(task.get());
    expectConsistentProgress(progress, -1);
    EXPECT_EQ(progress.back().total, content_.size());
}

TEST_F(DownloadSessionTest, CoalescesProgressToAboutTenCallbacksASecond) {
    const QByteArray large = randomBytes(32 * 1024 * 1024, 9);
    server_.setHandler(filePath, [&large](const RecordedRequest &request) {
        return serveFile(request, large, etag);
    });
    const std::shared_ptr<DownloadTask> task = session().downloadTask(server_.url(filePath));
    QElapsedTimer timer;
    timer.start();

    EXPECT_EQ(run(task), std::nullopt);

    // libcurl hands over at most 256 KiB at a time: at least 128 writes for 32 MiB.
    const std::vector<Progress> progress = delegate_.progress(task.get());
    EXPECT_LE(qint64(progress.size()), timer.elapsed() / 100 + 1);
    EXPECT_LT(progress.size(), 50u);
    EXPECT_EQ(progress.back().total, large.size());
    EXPECT_EQ(delegate_.delivered(task.get()), large);
}

TEST_F(DownloadSessionTest, VerifiesTlsAgainstTheExtraCa) {
    TestServer trusted(TestServer::Tls::On);
    TestServer untrusted(TestServer::Tls::Untrusted);
    for (TestServer *server : {&trusted, &untrusted}) {
        server->setHandler(filePath, [this](const RecordedRequest &request) {
            return serveFile(request, content_, etag);
        });
    }
    session(5, TestServer::caFile());
    const std::shared_ptr<DownloadTask> good = session().downloadTask(trusted.url(filePath));
    const std::shared_ptr<DownloadTask> bad = session().downloadTask(untrusted.url(filePath));

    EXPECT_EQ(run(good), std::nullopt);
    const std::optional<DownloadError> error = run(bad);

    EXPECT_EQ(delegate_.delivered(good.get()), content_);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->resumeData, std::nullopt);
    EXPECT_EQ(delegate_.delivered(bad.get()), std::nullopt);
}

TEST_F(DownloadSessionTest, ClosingTheSessionStopsItsTransfers) {
    server_.setHandler(filePath, [this](const RecordedRequest &request) {
        TestResponse response = serveFile(request, content_, etag);
        response.stallAfterBytes = 300000;
        return response;
    });
    auto closing = std::make_unique<DownloadSession>(
        &delegate_, DownloadSessionOptions{30, {}, folder_.path()});
    std::shared_ptr<DownloadTask> task = closing->downloadTask(server_.url(filePath));
    task->resume();
    ASSERT_TRUE(server_.waitForRequests(filePath, 1));
    QThread::msleep(200);
    EXPECT_EQ(partialFiles().size(), 1);
    QElapsedTimer timer;
    timer.start();

    closing.reset();

    EXPECT_LT(timer.elapsed(), 2000);
    task->resume(); // a task of a closed session stays idle
    EXPECT_EQ(delegate_.completions(), 0);
    task.reset();
    EXPECT_TRUE(partialFiles().isEmpty());
}

} // namespace
