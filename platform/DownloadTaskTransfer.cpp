#include "platform/DownloadTaskTransfer.h"

#include "platform/AnswerPlan.h"
#include "platform/Log.h"
#include "platform/PartialDownloads.h"
#include "platform/Transport.h"

#include <QStorageInfo>
#include <cstring>

namespace {

// About ten progress callbacks a second, whatever the speed.
constexpr auto progressInterval = std::chrono::milliseconds(100);
// Slower than this over the stall timeout is a stall, as silence is.
constexpr long lowSpeedLimit = 1024;
// Received bytes go to disk in writes this large, as the curl tool's own do.
constexpr qsizetype writeBufferSize = 256 * 1024;

bool isFetchable(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

// libcurl's callbacks, with the transfer as their user data.
size_t DownloadTask::Transfer::receiveBody(char *data, size_t size, size_t count, void *transfer) {
    return static_cast<Transfer *>(transfer)->receive(data, size * count);
}

size_t DownloadTask::Transfer::receiveHeader(char *data, size_t size, size_t count,
                                             void *transfer) {
    auto *receiving = static_cast<Transfer *>(transfer);
    receiving->lastByte = Clock::now();
    receiving->head.addLine(QByteArrayView(data, qsizetype(size * count)));
    return size * count;
}

// Called about once a second also while no byte arrives: reports a burst before a lull, and ends
// a transfer idle for the stall timeout like the platform's request timeout. (libcurl's own
// low-speed limit averages over five seconds, so it would fire seconds late.)
int DownloadTask::Transfer::tick(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *transfer = static_cast<Transfer *>(data);
    transfer->reportIfDue();
    const int stallSeconds = transfer->state->options.stallTimeoutSeconds;
    transfer->timedOut =
        stallSeconds > 0 && Clock::now() - transfer->lastByte >= std::chrono::seconds(stallSeconds);
    return transfer->timedOut ? 1 : 0;
}

DownloadTask::Transfer::~Transfer() {
    releaseCurl();
    discardFile();
}

void DownloadTask::Transfer::start(DownloadSession::State &owner, CurlLoop &loop,
                                   std::shared_ptr<DownloadTask> self) {
    if (started)
        return;
    started = true;
    state = &owner;
    if (!isFetchable(url))
        return complete(DownloadError{QStringLiteral("unsupported URL"), std::nullopt});
    if (!openFile())
        return fail(CURLE_OK);
    configure();
    loop.add(easy, [self](CURLcode result) { self->transfer_->finish(result); });
}

bool DownloadTask::Transfer::openFile() {
    QString path;
    if (resumeFrom) {
        path = resumeFrom->partialFile;
        offset = resumeFrom->bytesWritten;
    } else {
        path = createPartialFile(state->folder);
        if (path.isEmpty())
            return refuse(QStringLiteral("cannot create a file in ") + state->folder);
    }
    file = std::make_unique<QFile>(path);
    ownsFile = true;
    if (!file->open(QIODevice::ReadWrite | QIODevice::Unbuffered) || file->size() != offset ||
        !file->seek(offset))
        return refuse(QStringLiteral("the partial download is missing or was changed"));
    buffer = std::make_unique<char[]>(writeBufferSize);
    return true;
}

void DownloadTask::Transfer::configure() {
    easy = curl_easy_init();
    applyTransportOptions(easy, url, state->options.extraCaFile);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, state->options.protocols.constData());
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, state->options.protocols.constData());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, tick);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, long(writeBufferSize));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(state->options.stallTimeoutSeconds));
    // A trickle holds the transfer as long as silence would: it fails the same way, and the
    // connection goes with it.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, lowSpeedLimit);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(state->options.stallTimeoutSeconds));
    if (resumeFrom) {
        curl_easy_setopt(easy, CURLOPT_RANGE, QByteArray::number(offset).append('-').constData());
        requestHeaders =
            curl_slist_append(requestHeaders, ("If-Range: " + resumeFrom->validator).constData());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders);
    }
    lastReport = lastByte = Clock::now();
}

size_t DownloadTask::Transfer::receive(const char *data, size_t size) {
    lastByte = Clock::now();
    if (!answerChecked && !checkAnswer())
        return 0;
    // Not one byte past the known length reaches the disk.
    if (knownLength >= 0 && offset + received + qint64(size) > knownLength)
        return refuseWrongFile(
            QStringLiteral("The server sends more than the %1 bytes of the archive")
                .arg(knownLength));
    if (!store(data, qsizetype(size)))
        return 0;
    received += qint64(size);
    unreported += qint64(size);
    reportIfDue();
    return size;
}

// Decides, before the first body byte, where the body goes: after the bytes on disk, over them,
// or nowhere.
bool DownloadTask::Transfer::checkAnswer() {
    answerChecked = true;
    const AnswerPlan plan = planForAnswer(head, offset);
    switch (plan.action) {
    case AnswerPlan::Action::Refuse:
        return refuse(plan.reason);
    case AnswerPlan::Action::Fail:
        errorAnswer = plan.reason;
        return false;
    case AnswerPlan::Action::StartOver:
        if (offset > 0 && (!file->resize(0) || !file->seek(0)))
            return refuse(file->errorString());
        offset = 0;
        break;
    case AnswerPlan::Action::Append:
        break;
    }
    expected = plan.expectedSize;
    if (!checkLength())
        return false;
    // Before the first body byte, so that even a killed run leaves what the next one needs.
    recordPartialFile(file->fileName(), url, head);
    onDisk = offset;
    state->delegate->didStoreData(state->session, task, file->fileName(), onDisk);
    return true;
}

// Before the first body byte: the file is the known one, and what is left of it fits on disk.
bool DownloadTask::Transfer::checkLength() {
    if (knownLength >= 0 && expected >= 0 && expected != knownLength)
        return refuseWrongFile(
            QStringLiteral("The server announces %1 bytes for the archive, not its %2 bytes")
                .arg(expected)
                .arg(knownLength));
    const qint64 length = expected >= 0 ? expected : knownLength;
    const qint64 free = QStorageInfo(state->folder).bytesAvailable();
    if (length >= 0 && free >= 0 && length - offset > free)
        return refuse(QStringLiteral("Not enough free space for the download in %1: %2 bytes "
                                     "needed, %3 bytes free")
                          .arg(state->folder)
                          .arg(length - offset)
                          .arg(free));
    return true;
}

bool DownloadTask::Transfer::refuse(const QString &why) {
    failure = why;
    return false;
}

bool DownloadTask::Transfer::refuseWrongFile(const QString &why) {
    wrongFile = true;
    return refuse(why);
}

bool DownloadTask::Transfer::store(const char *data, qsizetype size) {
    if (buffered + size > writeBufferSize && !flush())
        return false;
    if (size >= writeBufferSize)
        return written(file->write(data, size) == size ? size : -1);
    std::memcpy(buffer.get() + buffered, data, size_t(size));
    buffered += size;
    return true;
}

bool DownloadTask::Transfer::flush() {
    const qsizetype size = std::exchange(buffered, 0);
    if (size == 0)
        return true;
    return written(file->write(buffer.get(), size) == size ? size : -1);
}

// `size` bytes reached the file, or, at -1, the write failed.
bool DownloadTask::Transfer::written(qsizetype size) {
    if (size < 0)
        return refuse(writeFailure());
    onDisk += size;
    state->delegate->didStoreData(state->session, task, file->fileName(), onDisk);
    return true;
}

QString DownloadTask::Transfer::writeFailure() const {
    return QStringLiteral("Cannot write the download, which is removed: ") + file->errorString();
}

void DownloadTask::Transfer::reportIfDue() {
    if (unreported > 0 && Clock::now() - lastReport >= progressInterval)
        report();
}

void DownloadTask::Transfer::report() {
    const qint64 bytes = std::exchange(unreported, 0);
    lastReport = Clock::now();
    state->relay->report(task, bytes, offset + received, expected);
}

void DownloadTask::Transfer::finish(CURLcode result) {
    if (result == CURLE_OK && !answerChecked && !checkAnswer()) // an answer without a body
        return fail(result);
    // A body that ends short of the announced size did not arrive whole.
    if (result == CURLE_OK && expected >= 0 && offset + received != expected)
        result = CURLE_PARTIAL_FILE;
    if (result == CURLE_OK && flush())
        return deliver();
    fail(result);
}

void DownloadTask::Transfer::deliver() {
    releaseCurl();
    file->close();
    forgetPartialFile(file->fileName(), false); // whole now: nothing left to continue
    if (unreported > 0)
        report();
    state->relay->drain(); // the progress reaches its end before the file is handed over
    state->delegate->didFinishDownloadingTo(state->session, task, file->fileName());
    discardFile(); // unless the delegate moved it away
    complete(std::nullopt);
}

void DownloadTask::Transfer::fail(CURLcode result) {
    releaseCurl();
    const bool intact = failure.isEmpty() && flush();
    DownloadError error;
    error.wrongFile = wrongFile;
    if (!failure.isEmpty()) {
        error.description = failure;
        printErrorLine(failure); // the session's own refusal, which no server error tells
    } else if (!errorAnswer.isEmpty())
        error.description = errorAnswer;
    else if (timedOut)
        error.description = QStringLiteral("The request timed out.");
    else
        error.description =
            QString::fromUtf8(curlError[0] ? curlError : curl_easy_strerror(result));
    if (!errorAnswer.isEmpty())
        error.status = head.status();
    // What was refused (an unusable answer, a file that cannot be written) stays refused.
    const CURLcode cause = !errorAnswer.isEmpty() ? CURLE_OK
                           : timedOut             ? CURLE_OPERATION_TIMEDOUT
                                                  : result;
    error.transient = failure.isEmpty() && isTransientFailure(cause, error.status);
    if (intact)
        error.resumeData = resumeDataAfterFailure();
    if (file)
        file->close();
    if (error.resumeData) {
        ownsFile = false; // the resume data holds it now
        if (unreported > 0)
            report(); // the totals end where the resumed task will carry on
    }
    discardFile();
    complete(error);
}

std::optional<QByteArray> DownloadTask::Transfer::resumeDataAfterFailure() const {
    // Nothing of this attempt reached the file: what was there still holds.
    if (!answerChecked || !errorAnswer.isEmpty())
        return resumeFrom ? std::optional(resumeFrom->serialise()) : std::nullopt;
    const qint64 onDisk = offset + received;
    if (onDisk <= 0 || !canContinueLater(head))
        return std::nullopt;
    return ResumeData{url, file->fileName(), onDisk, head.validator(), knownLength}.serialise();
}

void DownloadTask::Transfer::releaseCurl() {
    if (easy)
        curl_easy_cleanup(std::exchange(easy, nullptr));
    curl_slist_free_all(std::exchange(requestHeaders, nullptr));
}

void DownloadTask::Transfer::discardFile() {
    if (ownsFile && file)
        forgetPartialFile(file->fileName(), true);
    ownsFile = false;
}

void DownloadTask::Transfer::complete(const std::optional<DownloadError> &error) {
    state->relay->drain();
    state->delegate->didCompleteWithError(state->session, task, error);
}
