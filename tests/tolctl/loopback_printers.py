#!/usr/bin/python3
"""Printers on loopback for end-to-end tests of tolctl apply: one per address 127.0.0.1, .2, ...
all on one free TCP port. Usage: loopback_printers.py DIR KIND...  (KIND: good, refuse, reset,
stall). Prints "port N" once listening; each connection a good printer ends is saved as
DIR/ADDRESS.N.bin (N counting from 1). Runs until SIGTERM or SIGINT.
"""
import os
import selectors
import signal
import socket
import struct
import sys

folder, kinds = sys.argv[1], sys.argv[2:]


def bind_all(port):
    sockets = []
    for i, kind in enumerate(kinds):
        s = socket.socket()
        try:
            s.bind(("127.0.0.%d" % (i + 1), port))
        except OSError:
            for other in sockets + [s]:
                other.close()
            return None
        port = s.getsockname()[1]
        sockets.append(s)
    return sockets


for _ in range(50):
    sockets = bind_all(0)
    if sockets:
        break
else:
    sys.exit("no TCP port free on every address")
port = sockets[0].getsockname()[1]

selector = selectors.DefaultSelector()
fillers = []
counts = {}
for kind, s in zip(kinds, sockets):
    address = s.getsockname()[0]
    if kind == "refuse":
        continue  # bound, never listening: connections are refused
    if kind == "stall":
        s.listen(0)  # one waiting connection fills it; the next ones hang
        for _ in range(2):
            f = socket.socket()
            f.setblocking(False)
            f.connect_ex((address, port))
            fillers.append(f)
        continue
    s.listen(64)
    s.setblocking(False)
    selector.register(s, selectors.EVENT_READ, (kind, address, None))

running = True


def stop(*_):
    global running
    running = False


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)
print("port %d" % port, flush=True)
while running:
    for key, _ in selector.select(timeout=0.2):
        kind, address, received = key.data
        if received is None:
            connection, _ = key.fileobj.accept()
            if kind == "reset":
                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                connection.close()
                continue
            selector.register(connection, selectors.EVENT_READ, (kind, address, bytearray()))
            continue
        data = key.fileobj.recv(65536)
        if data:
            received.extend(data)
            continue
        selector.unregister(key.fileobj)
        key.fileobj.close()
        counts[address] = counts.get(address, 0) + 1
        with open(os.path.join(folder, "%s.%d.bin" % (address, counts[address])), "wb") as f:
            f.write(received)
