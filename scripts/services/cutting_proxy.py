#!/usr/bin/env python3
"""A loopback TCP proxy that breaks connections at random offsets.

Usage: cutting_proxy.py [--handshake-cut] [--cut-after-last-byte] [--idle SECONDS] [--log FILE]
                        UPSTREAM_PORT CUTS SPAN SEED

Forwards 127.0.0.1:<port it prints as "port N"> to 127.0.0.1:UPSTREAM_PORT. The server-to-client
bytes of all connections are counted together; at each of CUTS random offsets below SPAN the
connection carrying that byte is shut down, so every cut costs the client one failed transfer.

--handshake-cut: one more cut, inside the TLS handshake of a connection opened after one of the
  offset cuts (a client that resumes): the connection is shut down after part of the server's
  first answer. (The first connection is left alone: a client breaks off for good when it has
  nothing to resume from.)
--cut-after-last-byte: one more cut, once all the others are done: the first connection that has
  delivered bytes and then stays idle for --idle SECONDS (default 2) is reset. A client that keeps
  a finished connection open meets this cut after its last byte.
--log FILE: one line per connection ("open connection N") and per cut
  ("cut KIND connection N byte B", KIND offset, handshake or after-last-byte, B the count of
  server bytes forwarded over all connections when it was cut).
"""
import argparse
import random
import socket
import struct
import sys
import threading
import time

CHUNK = 1 << 20


class Log:
    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8") if path else None
        self.lock = threading.Lock()

    def line(self, text):
        if self.file:
            with self.lock:
                self.file.write(text + "\n")
                self.file.flush()


class Connection:
    def __init__(self, number, client, server):
        self.number = number
        self.client = client
        self.server = server
        self.delivered = 0  # server bytes forwarded to the client
        self.last_activity = time.monotonic()
        self.open = True


class Cutter:
    def __init__(self, options, log):
        generator = random.Random(options.seed)
        # Far enough into the stream that the first connection has its answer under way.
        self.points = sorted(
            generator.sample(range(4 << 20, options.span * 9 // 10), options.cuts)
        )
        # Connections 2 .. CUTS + 1 each follow an offset cut, so each of them is a resumption.
        self.handshake_connection = (
            generator.randint(2, options.cuts + 1) if options.handshake_cut else None
        )
        self.after_last_byte = options.cut_after_last_byte
        self.idle = options.idle
        self.log = log
        self.forwarded = 0
        self.connections = []
        self.lock = threading.Lock()

    def open(self, client, server):
        with self.lock:
            connection = Connection(len(self.connections) + 1, client, server)
            self.connections.append(connection)
        self.log.line(f"open connection {connection.number}")
        return connection

    def allowance(self, connection, size):
        """How much of `size` bytes may pass, and whether the connection is cut after them."""
        with self.lock:
            connection.last_activity = time.monotonic()
            kind = None
            if connection.number == self.handshake_connection:
                # Part of the server's first flight: the client is left mid-handshake.
                size = max(1, size // 2)
                self.handshake_connection = None
                kind = "handshake"
            elif self.points and self.forwarded + size >= self.points[0]:
                size = self.points.pop(0) - self.forwarded
                kind = "offset"
            self.forwarded += size
            connection.delivered += size
            if kind:
                connection.open = False
                self.log.line(f"cut {kind} connection {connection.number} byte {self.forwarded}")
            return size, kind is not None

    def touch(self, connection):
        with self.lock:
            connection.last_activity = time.monotonic()

    def closed(self, connection):
        with self.lock:
            connection.open = False

    def idle_connection(self):
        """The connection to reset after its last byte, once it is due; None before."""
        with self.lock:
            if not self.after_last_byte or self.points or self.handshake_connection is not None:
                return None
            now = time.monotonic()
            for connection in self.connections:
                if (
                    connection.open
                    and connection.delivered > 0
                    and now - connection.last_activity >= self.idle
                ):
                    self.after_last_byte = False
                    connection.open = False
                    self.log.line(
                        f"cut after-last-byte connection {connection.number} byte {self.forwarded}"
                    )
                    return connection
            return None


def shut(sock):
    # shutdown() takes effect at once, also while the other pump is blocked reading this socket.
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()


def reset(connection):
    # No lingering: closing sends a reset rather than waiting on unsent data.
    try:
        connection.client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    shut(connection.client)
    shut(connection.server)


def client_to_server(connection, cutter):
    try:
        while data := connection.client.recv(CHUNK):
            cutter.touch(connection)
            connection.server.sendall(data)
        connection.server.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def server_to_client(connection, cutter):
    try:
        while data := connection.server.recv(CHUNK):
            size, cutting = cutter.allowance(connection, len(data))
            connection.client.sendall(data[:size])
            if cutting:
                break
        else:
            cutter.closed(connection)
            connection.client.shutdown(socket.SHUT_WR)
            return
    except OSError:
        pass
    cutter.closed(connection)
    shut(connection.client)
    shut(connection.server)


def watch_idle(cutter):
    while True:
        time.sleep(0.1)
        connection = cutter.idle_connection()
        if connection:
            reset(connection)


def arguments():
    parser = argparse.ArgumentParser(description="A loopback TCP proxy that breaks connections.")
    parser.add_argument("upstream_port", type=int)
    parser.add_argument("cuts", type=int, help="cuts at random offsets")
    parser.add_argument("span", type=int, help="the offsets are below this byte count")
    parser.add_argument("seed", type=int)
    parser.add_argument("--handshake-cut", action="store_true")
    parser.add_argument("--cut-after-last-byte", action="store_true")
    parser.add_argument("--idle", type=float, default=2.0)
    parser.add_argument("--log")
    options = parser.parse_args()
    if options.handshake_cut and options.cuts < 1:
        parser.error("--handshake-cut needs at least one offset cut before it")
    return options


def main():
    options = arguments()
    cutter = Cutter(options, Log(options.log))
    listener = socket.create_server(("127.0.0.1", 0))
    print(f"port {listener.getsockname()[1]}", flush=True)
    if options.cut_after_last_byte:
        threading.Thread(target=watch_idle, args=(cutter,), daemon=True).start()
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", options.upstream_port))
        connection = cutter.open(client, server)
        threading.Thread(target=client_to_server, args=(connection, cutter), daemon=True).start()
        threading.Thread(target=server_to_client, args=(connection, cutter), daemon=True).start()


if __name__ == "__main__":
    main()
