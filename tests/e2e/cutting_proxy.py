#!/usr/bin/env python3
"""A loopback TCP forwarder that cuts its first CUTS connections once CUT_AFTER bytes have come
back from the server. Prints its port on the first line of standard output, then serves until
killed."""
import socket
import sys
import threading

target_port, cuts, cut_after = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
lock = threading.Lock()
connections = 0


def pump(source, sink, limit):
    sent = 0
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            if limit is not None and sent + len(data) >= limit:
                sink.sendall(data[: limit - sent])
                break
            sink.sendall(data)
            sent += len(data)
    except OSError:
        pass
    for end in (source, sink):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        end.close()


def serve(client):
    global connections
    with lock:
        connections += 1
        limit = cut_after if connections <= cuts else None
    server = socket.create_connection(("127.0.0.1", target_port))
    threading.Thread(target=pump, args=(client, server, None), daemon=True).start()
    pump(server, client, limit)


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(16)
print(listener.getsockname()[1], flush=True)
while True:
    connection, _ = listener.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
