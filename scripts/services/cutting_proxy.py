#!/usr/bin/env python3
"""A loopback TCP proxy that breaks connections at random offsets.

Usage: cutting_proxy.py UPSTREAM_PORT CUTS SPAN SEED

Forwards 127.0.0.1:<port it prints as "port N"> to 127.0.0.1:UPSTREAM_PORT. The server-to-client
bytes of all connections are counted together; at each of CUTS random offsets below SPAN the
connection carrying that byte is shut down, so every cut costs the client one failed transfer.
"""
import random
import socket
import sys
import threading

CHUNK = 1 << 20


class Cutter:
    def __init__(self, cuts, span, seed):
        # Far enough into the stream that the first connection has its answer under way.
        self.points = sorted(random.Random(seed).sample(range(4 << 20, span * 9 // 10), cuts))
        self.forwarded = 0
        self.lock = threading.Lock()

    def allowance(self, size):
        """How much of `size` bytes may pass, and whether the connection is cut after them."""
        with self.lock:
            if self.points and self.forwarded + size >= self.points[0]:
                size = self.points.pop(0) - self.forwarded
                self.forwarded += size
                return size, True
            self.forwarded += size
            return size, False


def shut(sock):
    # shutdown() takes effect at once, also while the other pump is blocked reading this socket.
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()


def client_to_server(client, server):
    try:
        while data := client.recv(CHUNK):
            server.sendall(data)
        server.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def server_to_client(client, server, cutter):
    try:
        while data := server.recv(CHUNK):
            size, cutting = cutter.allowance(len(data))
            client.sendall(data[:size])
            if cutting:
                break
        else:
            client.shutdown(socket.SHUT_WR)
            return
    except OSError:
        pass
    shut(client)
    shut(server)


def main():
    upstream_port, cuts, span, seed = (int(value) for value in sys.argv[1:5])
    cutter = Cutter(cuts, span, seed)
    listener = socket.create_server(("127.0.0.1", 0))
    print(f"port {listener.getsockname()[1]}", flush=True)
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", upstream_port))
        threading.Thread(target=client_to_server, args=(client, server), daemon=True).start()
        threading.Thread(target=server_to_client, args=(client, server, cutter), daemon=True).start()


if __name__ == "__main__":
    main()
