#include "LoopbackPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackPort::LoopbackPort(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        (listening && ::listen(fd_, 128) != 0) ||
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        qFatal("cannot bind a port on 127.0.0.1");
    port_ = ntohs(address.sin_port);
}

LoopbackPort::~LoopbackPort() {
    ::close(fd_);
}
