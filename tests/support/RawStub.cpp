#include "support/RawStub.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

QByteArray RawStub::answer(const QByteArray &status, const QByteArray &headers,
                           const QByteArray &body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

RawStub::RawStub(QList<Reply> replies) : replies_(std::move(replies)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(listener_, 16) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        qFatal("the stub cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawStub::~RawStub() {
    [[maybe_unused]] const ssize_t woken = ::write(wake_[1], "x", 1);
    thread_.join();
    for (const int fd : {listener_, wake_[0], wake_[1]})
        ::close(fd);
}

QUrl RawStub::url(const QString &path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}

QList<QByteArray> RawStub::requests(int count) const {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return requests_.size() >= count; });
    return requests_;
}

void RawStub::serve() {
    std::vector<int> held;
    // True when `fd` can be read before the stub is told to go.
    const auto readable = [this](int fd) {
        pollfd fds[] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        return ::poll(fds, 2, -1) > 0 && !fds[1].revents;
    };
    for (qsizetype served = 0; readable(listener_); ++served) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        QByteArray head;
        char buffer[4096];
        while (!head.contains("\r\n\r\n") && readable(connection)) {
            const ssize_t size = ::read(connection, buffer, sizeof buffer);
            if (size <= 0)
                break;
            head.append(buffer, size);
        }
        {
            std::lock_guard lock(mutex_);
            requests_.append(head);
        }
        arrived_.notify_all();
        const Reply &reply = replies_[std::min(served, replies_.size() - 1)];
        for (qsizetype sent = 0, size = 0; sent < reply.bytes.size(); sent += size) {
            size = ::send(connection, reply.bytes.constData() + sent, reply.bytes.size() - sent,
                          MSG_NOSIGNAL);
            if (size <= 0)
                break;
        }
        for (const char byte : reply.trickle) {
            pollfd wake = {wake_[0], POLLIN, 0};
            if (::poll(&wake, 1, 100) != 0 || ::send(connection, &byte, 1, MSG_NOSIGNAL) != 1)
                break;
        }
        if (reply.hold) {
            held.push_back(connection);
            continue;
        }
        ::shutdown(connection, SHUT_WR);
        ::close(connection);
    }
    for (const int connection : held)
        ::close(connection);
}
