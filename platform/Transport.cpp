#include "platform/Transport.h"

#include <QNetworkProxyFactory>
#include <mutex>

namespace {

// The system's proxy for `url`, in libcurl's notation; empty when the system names none, and
// libcurl then reads http_proxy/https_proxy/no_proxy itself.
QByteArray systemProxyFor(const QUrl &url) {
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    if (proxies.isEmpty())
        return {};
    const QNetworkProxy &proxy = proxies.first();
    QUrl address;
    switch (proxy.type()) {
    case QNetworkProxy::HttpProxy:
        address.setScheme(QStringLiteral("http"));
        break;
    case QNetworkProxy::Socks5Proxy:
        address.setScheme(QStringLiteral("socks5h"));
        break;
    default:
        return {};
    }
    address.setHost(proxy.hostName());
    address.setPort(proxy.port());
    address.setUserName(proxy.user());
    address.setPassword(proxy.password());
    return address.toEncoded();
}

// Host names and TLS sessions, shared by every transfer of the process: the archive's transfer
// resumes the lookup's TLS session instead of a full handshake. (Connections stay per session:
// libcurl does not share them between threads.)
CURLSH *processShare() {
    static std::mutex locks[CURL_LOCK_DATA_LAST];
    static CURLSH *const share = [] {
        CURLSH *made = curl_share_init();
        curl_share_setopt(
            made, CURLSHOPT_LOCKFUNC,
            +[](CURL *, curl_lock_data data, curl_lock_access, void *) { locks[data].lock(); });
        curl_share_setopt(
            made, CURLSHOPT_UNLOCKFUNC,
            +[](CURL *, curl_lock_data data, void *) { locks[data].unlock(); });
        curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        return made;
    }();
    return share;
}

const char *systemCaPath() {
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    return info->capath ? info->capath : "/etc/ssl/certs";
}

} // namespace

void applyTransportOptions(CURL *easy, const QUrl &url, const QString &extraCaFile) {
    curl_easy_setopt(easy, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SHARE, processShare());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!extraCaFile.isEmpty()) {
        // CAINFO replaces the default bundle; the hashed system folder keeps the system's CAs.
        curl_easy_setopt(easy, CURLOPT_CAINFO, extraCaFile.toLocal8Bit().constData());
        curl_easy_setopt(easy, CURLOPT_CAPATH, systemCaPath());
    }
    const QByteArray proxy = systemProxyFor(url);
    if (!proxy.isEmpty())
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.constData());
}

bool isTransientFailure(CURLcode result, long httpStatus) {
    switch (result) {
    case CURLE_OK:
        return httpStatus == 408 || httpStatus == 429 || (httpStatus >= 500 && httpStatus < 600);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}
