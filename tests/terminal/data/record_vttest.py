#!/usr/bin/env python3
"""Records vttest's cursor-movement screens (menu 1) as the raw bytes a terminal receives.

Runs vttest on a pseudo-terminal of 24x80 with TERM=vt100, answers each "Push <RETURN>"
with a carriage return, and writes OUT (the bytes) and OUT.checkpoints (the offset at which
each screen waits for the user, one "offset<TAB>label" line each).

usage: record_vttest.py OUT
"""
import os
import pty
import select
import struct
import sys
import fcntl
import termios
import time


def read_until_quiet(fd, quiet=0.6, limit=10.0):
    """Reads until the program has said nothing for `quiet` seconds. A device attributes
    request is answered as a VT100 without options answers it, so vttest goes on."""
    data = b""
    start = time.time()
    while time.time() - start < limit:
        ready, _, _ = select.select([fd], [], [], quiet)
        if not ready:
            break
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
        if b"\x1b[0c" in chunk or b"\x1b[c" in chunk:
            os.write(fd, b"\x1b[?1;0c")
    return data


def main():
    out = sys.argv[1]
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "vt100"
        os.execvp("vttest", ["vttest", "24x80.132"])
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    stream = b""
    checkpoints = []
    stream += read_until_quiet(fd)
    checkpoints.append((len(stream), "main menu"))
    os.write(fd, b"1\r")
    screen = 0
    while True:
        chunk = read_until_quiet(fd)
        stream += chunk
        if b"Push <RETURN>" not in chunk:
            break
        screen += 1
        checkpoints.append((len(stream), "movement screen %d" % screen))
        os.write(fd, b"\r")
    checkpoints.append((len(stream), "back at menu"))
    os.write(fd, b"0\r")
    stream += read_until_quiet(fd, limit=3.0)
    try:
        os.kill(pid, 9)
    except ProcessLookupError:
        pass
    os.waitpid(pid, 0)
    with open(out, "wb") as f:
        f.write(stream)
    with open(out + ".checkpoints", "w") as f:
        for offset, label in checkpoints:
            f.write("%d\t%s\n" % (offset, label))


if __name__ == "__main__":
    main()
