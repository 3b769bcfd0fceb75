#!/usr/bin/env python3
"""The printer's side of a bench pty that answers status requests: every byte that arrives is
appended to the capture file, and each DLE EOT n (10 04 n) is answered at once with byte n of
the answers given (with 4 x K bytes, with the n-th K of them). READY is made once it listens.

Usage: status_printer.py PEER CAPTURE HEX_ANSWERS READY"""
import os
import sys


def main():
    peer, capture, answers = sys.argv[1], sys.argv[2], bytes.fromhex(sys.argv[3])
    fd = os.open(peer, os.O_RDWR | os.O_NOCTTY)
    open(sys.argv[4], "w").close()
    unread = b""
    with open(capture, "ab", buffering=0) as out:
        while True:
            try:
                got = os.read(fd, 4096)
            except OSError:
                return  # the pty has ended
            if not got:
                return
            out.write(got)
            unread += got
            while True:
                at = unread.find(b"\x10\x04")
                if at < 0 or at + 2 >= len(unread):
                    break
                n = unread[at + 2]
                each = max(1, len(answers) // 4)
                if 1 <= n and n * each <= len(answers):
                    os.write(fd, answers[(n - 1) * each:n * each])
                unread = unread[at + 3:]
            unread = unread[-2:]


if __name__ == "__main__":
    main()
