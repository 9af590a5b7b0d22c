#pragma once

#include <QtGlobal>

// A TCP socket bound to an ephemeral port on 127.0.0.1 for the object's lifetime: connections to
// it are refused, or, once listening, wait in its queue until accepted.
class LoopbackPort {
  public:
    explicit LoopbackPort(bool listening);
    ~LoopbackPort();
    LoopbackPort(const LoopbackPort &) = delete;
    LoopbackPort &operator=(const LoopbackPort &) = delete;

    quint16 port() const { return port_; }
    int descriptor() const { return fd_; }

  private:
    int fd_;
    quint16 port_ = 0;
};
