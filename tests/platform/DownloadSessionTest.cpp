#include "platform/DownloadSession.h"

#include "platform/AnswerPlan.h"
#include "platform/Transport.h"
#include "support/RawStub.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/mount.h>

namespace {

using Action = AnswerPlan::Action;

ResponseHead headOf(const QByteArray &text) {
    ResponseHead head;
    for (const QByteArray &line : text.split('\n'))
        head.addLine(line);
    return head;
}

TEST(AnswerPlan, BodyGoesAfterTheFileOverItOrNowhere) {
    const struct {
        QByteArray head;
        qint64 onDisk;
        Action action;
        qint64 expectedSize;
    } rows[] = {
        // clang-format off
        {"HTTP/1.1 206\nContent-Range: bytes 100-999/1000\nContent-Length: 900", 100, Action::Append, 1000},
        {"HTTP/1.1 206\nContent-Range: bytes 100-999/*", 100, Action::Append, 1000},
        {"HTTP/1.1 302\nLocation: /b\nHTTP/1.1 206\nContent-Range: bytes 0-9/10", 0, Action::Append, 10},
        {"HTTP/1.1 206\nContent-Range: bytes 0-999/1000", 100, Action::Refuse, -1},
        {"HTTP/1.1 206\nContent-Range: bytes 101-999/1000", 100, Action::Refuse, -1},
        {"HTTP/1.1 206\nContent-Range: bytes 100-499/1000", 100, Action::Refuse, -1},
        {"HTTP/1.1 206\nContent-Range: bytes 100-999/1000\nContent-Length: 800", 100, Action::Refuse, -1},
        {"HTTP/1.1 206\nContent-Range: bytes 100-1999/1000", 100, Action::Refuse, -1},
        {"HTTP/1.1 206", 100, Action::Refuse, -1},
        {"HTTP/1.1 416", 100, Action::Refuse, -1},
        {"HTTP/1.1 416", 0, Action::Fail, -1},
        {"HTTP/1.1 503\nRetry-After: 5", 100, Action::Fail, -1},
        {"HTTP/1.1 200\nContent-Length: 1000", 100, Action::StartOver, 1000},
        {"HTTP/1.1 200\nTransfer-Encoding: chunked\nContent-Length: 5", 0, Action::StartOver, -1},
        {"HTTP/1.1 404\nContent-Length: 10", 0, Action::Fail, -1},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.head.toStdString());
        const AnswerPlan plan = planForAnswer(headOf(row.head), row.onDisk);
        EXPECT_EQ(plan.action, row.action);
        EXPECT_EQ(plan.expectedSize, row.expectedSize);
    }
}

// Tried again later: a server or network that is down, slow or busy; never an answer that stays.
TEST(Transport, OnlyWhatMayPassIsTriedAgain) {
    const std::tuple<CURLcode, long, bool> rows[] = {
        // clang-format off
        {CURLE_OK, 503, true}, {CURLE_OK, 429, true}, {CURLE_OK, 404, false}, {CURLE_OK, 403, false},
        {CURLE_COULDNT_CONNECT, 0, true}, {CURLE_RECV_ERROR, 0, true},
        {CURLE_OPERATION_TIMEDOUT, 0, true}, {CURLE_PEER_FAILED_VERIFICATION, 0, false},
        // clang-format on
    };
    for (const auto &[result, status, transient] : rows)
        EXPECT_EQ(isTransientFailure(result, status), transient) << result << " " << status;
}

TEST(AnswerPlan, OnlyRangesTiedToAValidatorCanBeContinued) {
    const std::pair<QByteArray, bool> rows[] = {
        {"HTTP/1.1 200\nAccept-Ranges: bytes\nETag: \"v1\"", true},
        {"HTTP/1.1 200\nAccept-Ranges: none, Bytes\nLast-Modified: Tue, 01 Dec 2026", true},
        {"HTTP/1.1 206\nETag: \"v1\"", true},
        {"HTTP/1.1 200\nETag: \"v1\"", false},
        {"HTTP/1.1 200\nAccept-Ranges: bytes\nETag: W/\"v1\"", false},
        {"HTTP/1.1 200\nAccept-Ranges: bytes", false},
    };
    for (const auto &[head, continuable] : rows)
        EXPECT_EQ(canContinueLater(headOf(head)), continuable) << head.toStdString();
}

// The session's callbacks, recorded on its thread; run() waits for a task's completion.
class Recorder : public DownloadSessionDelegate {
  public:
    void didWriteData(DownloadSession *, DownloadTask *, int64_t, int64_t total,
                      int64_t expected) override {
        std::lock_guard lock(mutex_);
        lastProgress = {total, expected};
    }
    void didFinishDownloadingTo(DownloadSession *, DownloadTask *, const QString &path) override {
        QFile file(path);
        const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable";
        std::lock_guard lock(mutex_);
        delivered = content;
    }
    void didCompleteWithError(DownloadSession *, DownloadTask *,
                              const std::optional<DownloadError> &error) override {
        std::lock_guard lock(mutex_);
        error_ = error;
        done_ = true;
        completed_.notify_all();
    }

    std::optional<DownloadError> run(const std::shared_ptr<DownloadTask> &task) {
        done_ = false;
        task->resume();
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(completed_.wait_for(lock, std::chrono::seconds(20), [&] { return done_; }));
        return error_;
    }

    std::optional<QByteArray> delivered;
    std::pair<int64_t, int64_t> lastProgress;

  private:
    std::mutex mutex_;
    std::condition_variable completed_;
    bool done_ = false;
    std::optional<DownloadError> error_;
};

const qint64 cut = 20000;

QByteArray content() {
    QByteArray data(65536, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    return data;
}

QByteArray chunked(const QByteArray &body) {
    return QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n0\r\n\r\n";
}

QByteArray whole(const QByteArray &etag = "\"v1\"") {
    return RawStub::answer(
        "200 OK", "Content-Length: 65536\r\nAccept-Ranges: bytes\r\nETag: " + etag + "\r\n",
        content());
}

// An answer that breaks off after `cut` bytes of the body.
QByteArray broken(const QByteArray &answer) {
    return answer.chopped(content().size() - cut);
}

QByteArray rest(const QByteArray &range, const QByteArray &framing, const QByteArray &body) {
    return RawStub::answer("206 Partial Content",
                           "Content-Range: bytes " + range + "\r\n" + framing + "ETag: \"v1\"\r\n",
                           body);
}

struct Scenario {
    const char *name;
    QList<RawStub::Reply> replies; // the first attempt's, then the resumption's
    bool resumable;                // the first attempt leaves resume data
    bool delivers;                 // the resumption hands over the whole file
    qint64 knownLength = -1;       // a failure over it is the wrong file
    bool smallDisk = false;        // the downloads' folder holds 32 KiB
};

// First attempts that break after `cut` bytes, and what the resumption is answered.
// clang-format off
const Scenario scenarios[] = {
    {"ContinuesExactlyWhereTheFileEnds", {{broken(whole())}, {rest("20000-65535/65536", "Content-Length: 45536\r\n", content().mid(cut))}}, true, true, 65536},
    {"WholeAnswerStartsTheFileOver", {{broken(whole())}, {whole()}}, true, true},
    {"StallTimesOutAndResumes", {{broken(whole()), true}, {rest("20000-65535/65536", "", content().mid(cut))}}, true, true},
    {"PartialAnswerFromElsewhereIsRefused", {{broken(whole())}, {rest("0-65535/65536", "", content())}}, true, false},
    {"ChunkedPartialEndingShortIsNotComplete", {{broken(whole())}, {rest("20000-65535/65536", "Transfer-Encoding: chunked\r\n", chunked(content().mid(cut, 9000)))}}, true, false},
    {"ErrorAnswerKeepsThePartialFile", {{broken(whole())}, {RawStub::answer("503 Service Unavailable", "Content-Length: 4\r\n", "busy")}, {rest("20000-65535/65536", "", content().mid(cut))}}, true, true},
    {"WeakValidatorCannotBeResumed", {{broken(whole("W/\"v1\""))}}, false, false},
    {"TrickleIsAStall", {{RawStub::answer("200 OK", "Content-Length: 65536\r\n", {}), false, content()}}, false, false},
    {"BodyPastTheKnownLengthIsCut", {{RawStub::answer("200 OK", {}, content() + "more")}}, false, false, 65536},
    {"ResumedBodyPastTheKnownLengthIsCut", {{broken(whole())}, {rest("20000-65535/65536", "", content().mid(cut) + "more")}}, true, false, 65536},
    {"OtherAnnouncedLengthIsRefused", {{whole()}}, false, false, 70000},
    {"FullDiskRemovesThePartialFile", {{RawStub::answer("200 OK", "Transfer-Encoding: chunked\r\nAccept-Ranges: bytes\r\nETag: \"v1\"\r\n", chunked(content()))}}, false, false, -1, true},
    {"MoreThanTheFreeSpaceIsRefused", {{RawStub::answer("200 OK", "Content-Length: 1125899906842624\r\nAccept-Ranges: bytes\r\nETag: \"v1\"\r\n", content())}}, false, false},
};
// clang-format on

class Resumption : public ::testing::TestWithParam<Scenario> {};

const DownloadSessionOptions overPlainHttp(const QTemporaryDir &folder) {
    return {1, {}, folder.path(), "http"};
}

TEST_P(Resumption, DeliversOnlyTheExactFile) {
    QTemporaryDir folder;
    // mount(2) itself: the checker loses track of a thread that started a process.
    const QByteArray disk = QFile::encodeName(folder.path());
    if (GetParam().smallDisk && ::mount("plimbo", disk.constData(), "tmpfs", 0, "size=32k") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const auto unmount = qScopeGuard([&] {
        if (GetParam().smallDisk)
            ::umount(disk.constData());
    });
    Recorder recorder;
    DownloadSession session(&recorder, overPlainHttp(folder));
    RawStub stub(GetParam().replies);

    std::optional<DownloadError> error = recorder.run(
        session.downloadTask(stub.url(QStringLiteral("/Plimbo.tar.gz")), GetParam().knownLength));
    ASSERT_TRUE(error);
    EXPECT_FALSE(recorder.delivered);
    ASSERT_EQ(error->resumeData.has_value(), GetParam().resumable);
    for (int attempt = 2; error && error->resumeData && attempt <= GetParam().replies.size();
         ++attempt) {
        const std::shared_ptr<DownloadTask> resumed =
            session.downloadTaskWithResumeData(*error->resumeData);
        ASSERT_TRUE(resumed);
        error = recorder.run(resumed);
        const QByteArray request = stub.requests(attempt).value(attempt - 1);
        EXPECT_TRUE(request.contains("\r\nRange: bytes=20000-\r\n")) << request.toStdString();
        EXPECT_TRUE(request.contains("\r\nIf-Range: \"v1\"\r\n")) << request.toStdString();
    }
    EXPECT_EQ(error.has_value(), !GetParam().delivers);
    EXPECT_EQ(error && error->wrongFile, error && GetParam().knownLength >= 0);
    EXPECT_EQ(recorder.delivered, GetParam().delivers ? std::optional(content()) : std::nullopt);
    EXPECT_EQ((recorder.lastProgress == std::pair<int64_t, int64_t>(65536, 65536)),
              GetParam().delivers);
    if (!error || !error->resumeData) {
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList()) << "file left";
    }
}

INSTANTIATE_TEST_SUITE_P(Transfers, Resumption, ::testing::ValuesIn(scenarios),
                         [](const auto &info) { return std::string(info.param.name); });

// A run that ends half way leaves what the next one carries on from, given the same address;
// another address starts over and the kept file goes.
TEST(DownloadSession, NextRunCarriesOnOnlyWithTheSameAddress) {
    for (const bool same : {true, false}) {
        QTemporaryDir folder;
        Recorder recorder;
        RawStub stub({{broken(whole())},
                      {same ? rest("20000-65535/65536", "", content().mid(cut)) : whole()}});
        {
            DownloadSession first(&recorder, overPlainHttp(folder));
            ASSERT_TRUE(
                recorder.run(first.downloadTask(stub.url(QStringLiteral("/a"))))->resumeData);
        }
        DownloadSession next(&recorder, overPlainHttp(folder));
        EXPECT_FALSE(recorder.run(next.downloadTask(stub.url(same ? "/a" : "/b"))));
        EXPECT_EQ(recorder.delivered, content());
        EXPECT_EQ(stub.requests(2).value(1).contains("\r\nRange: bytes=20000-\r\n"), same);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList());
    }
}

// A progress callback that waits, as the installer's waits for the main thread to draw it, holds
// back neither the bytes still to come nor the file they go to; the file waits for the last one.
TEST(DownloadSession, ProgressThatWaitsHoldsNothingBack) {
    class WaitingDisplay : public Recorder {
      public:
        void didWriteData(DownloadSession *session, DownloadTask *task, int64_t bytes,
                          int64_t total, int64_t expected) override {
            std::unique_lock lock(mutex_);
            if (total < expected)
                heldBack = !changed_.wait_for(lock, std::chrono::seconds(10),
                                              [&] { return onDisk_ == expected; });
            else // drawn slowly: the file is handed over only afterwards
                changed_.wait_for(lock, std::chrono::milliseconds(500), [&] { return finished_; });
            reported_ = total;
            lock.unlock();
            Recorder::didWriteData(session, task, bytes, total, expected);
        }
        void didFinishDownloadingTo(DownloadSession *session, DownloadTask *task,
                                    const QString &path) override {
            {
                std::lock_guard lock(mutex_);
                reportedAtFinish = reported_;
                finished_ = true;
            }
            changed_.notify_all();
            Recorder::didFinishDownloadingTo(session, task, path);
        }
        void didStoreData(DownloadSession *, DownloadTask *, const QString &,
                          int64_t bytesOnDisk) override {
            {
                std::lock_guard lock(mutex_);
                onDisk_ = bytesOnDisk;
            }
            changed_.notify_all();
        }
        std::optional<bool> heldBack; // set by a report made before the body was whole
        int64_t reportedAtFinish = 0;

      private:
        std::mutex mutex_;
        std::condition_variable changed_;
        int64_t onDisk_ = 0;
        int64_t reported_ = 0;
        bool finished_ = false;
    };
    QTemporaryDir folder;
    WaitingDisplay display;
    DownloadSession session(&display, overPlainHttp(folder));
    // The last three bytes a tenth of a second apart: a report falls due before the end.
    RawStub stub({{RawStub::answer("200 OK", "Content-Length: 65536\r\n", content().chopped(3)),
                   false, content().right(3)}});
    EXPECT_FALSE(display.run(session.downloadTask(stub.url(QStringLiteral("/a")))));
    EXPECT_EQ(display.delivered, content());
    EXPECT_EQ(display.heldBack, false);
    EXPECT_EQ(display.reportedAtFinish, 65536) << "the file before the last progress";
}

TEST(DownloadSession, FetchesNothingButHttps) {
    QTemporaryDir folder;
    Recorder recorder;
    RawStub stub({{whole()}});
    DownloadSession session(&recorder, {1, {}, folder.path()});
    const std::optional<DownloadError> error =
        recorder.run(session.downloadTask(stub.url(QStringLiteral("/a"))));
    EXPECT_TRUE(error && !error->resumeData);
    EXPECT_EQ(stub.requests().size(), 0);
}

} // namespace
