#!/usr/bin/env python3
"""A port on 127.0.0.1 that answers nothing and counts what reaches it.

    counting_port.py PORT_FILE SEEN_FILE

Writes the port number to PORT_FILE once listening, and "<connections> <bytes>" to
SEEN_FILE at the start and after every connection and every read; both files are written
under another name and renamed, so a reader never sees half a line. Runs until killed.
"""
import os
import socket
import sys
import threading


def write(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def main():
    port_file, seen_file = sys.argv[1], sys.argv[2]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    counts, lock = [0, 0], threading.Lock()

    def note(connections=0, received=0):
        with lock:
            counts[0] += connections
            counts[1] += received
            write(seen_file, "%d %d\n" % tuple(counts))

    def drain(connection):
        while True:
            data = connection.recv(65536)
            if not data:
                return
            note(received=len(data))

    note()
    write(port_file, "%d\n" % listener.getsockname()[1])
    while True:
        connection, _ = listener.accept()
        note(connections=1)
        threading.Thread(target=drain, args=(connection,), daemon=True).start()


if __name__ == "__main__":
    main()
