#include "platform/SharedSession.h"

#include "platform/Transport.h"

#include <memory>

namespace {

// One request in flight; lives until its completion has run.
struct Exchange {
    HttpRequest request;
    SharedSession::Completion completion;
    CURL *easy = nullptr; // made on the session's thread, keeping send() cheap
    curl_slist *headers = nullptr;
    QByteArray body;
    char error[CURL_ERROR_SIZE] = {};
    bool tooLong = false;

    ~Exchange() {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
};

// A chunked answer announces no length, so the limit is also kept here.
size_t appendBody(char *data, size_t size, size_t count, void *receiving) {
    auto *exchange = static_cast<Exchange *>(receiving);
    const qsizetype bytes = qsizetype(size * count);
    if (exchange->body.size() + bytes > exchange->request.maxBodySize) {
        exchange->tooLong = true;
        return 0;
    }
    exchange->body.append(data, bytes);
    return size * count;
}

} // namespace

SharedSession &SharedSession::shared() {
    // Never destroyed: completions may still be running when the process exits.
    static SharedSession *session = new SharedSession;
    return *session;
}

void SharedSession::start(HttpRequest request, Completion completion) {
    {
        std::lock_guard lock(pendingMutex_);
        ++pending_;
    }
    auto exchange = std::make_shared<Exchange>();
    exchange->request = std::move(request);
    exchange->completion = std::move(completion);
    loop_.post([this, exchange] {
        CURL *easy = exchange->easy = curl_easy_init();
        const HttpRequest &request = exchange->request;
        applyTransportOptions(easy, request.url, request.extraCaFile);
        if (request.method == "POST") // an empty body, announced as such
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
        else if (request.method != "GET")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
        for (const auto &[name, value] : request.headers)
            exchange->headers =
                curl_slist_append(exchange->headers, QByteArray(name + ": " + value).constData());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, exchange->headers);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(request.timeoutMs));
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, request.protocols.constData());
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, request.protocols.constData());
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.maxBodySize));
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, exchange.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, exchange->error);
        loop_.add(easy, [this, exchange](CURLcode result) {
            HttpAnswer answer;
            if (result == CURLE_OK) {
                answer.body = exchange->body;
                curl_easy_getinfo(exchange->easy, CURLINFO_RESPONSE_CODE, &answer.status);
                answer.transient = isTransientFailure(result, answer.status);
            } else if (exchange->tooLong || result == CURLE_FILESIZE_EXCEEDED) {
                answer.error = QStringLiteral("the answer is longer than %1 bytes")
                                   .arg(exchange->request.maxBodySize);
            } else {
                answer.transient = isTransientFailure(result, 0);
                answer.error = QString::fromUtf8(exchange->error[0] ? exchange->error
                                                                    : curl_easy_strerror(result));
            }
            exchange->completion(answer);
            {
                std::lock_guard lock(pendingMutex_);
                --pending_;
            }
            settled_.notify_all();
        });
    });
}

bool SharedSession::waitForPending(int timeoutMs) {
    std::unique_lock lock(pendingMutex_);
    return settled_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return pending_ == 0; });
}
