#!/usr/bin/env python3
"""Writes the benchmark streams into DIR (deterministic: a fixed random start).

  plain_log.bin     a console log with long lines that wrap, CR LF endings
  colour_ls.bin     ls --color style listings: SGR on nearly every word
  redraw.bin        full-screen redraws as a curses program sends them: CUP per row, EL
The recorded vttest session is copied in by run.sh.
"""
import random
import sys

SIZE = 2_000_000


def plain_log(rng):
    words = ["kernel", "eth0:", "link", "up", "100Mbps", "full", "duplex", "mounting",
             "/dev/sda1", "on", "/mnt/usb", "squashfs:", "version", "4.0", "tuner0:", "lock",
             "frequency", "11836000", "symbol", "rate", "27500000", "ok", "failed", "retry"]
    out = []
    n = 0
    line_no = 0
    while n < SIZE:
        length = rng.choice([40, 70, 120, 200, 310])
        text = "[%8d.%06d] " % (line_no // 100, line_no * 7919 % 1000000)
        while len(text) < length:
            text += rng.choice(words) + " "
        line = text.rstrip() + "\r\n"
        out.append(line)
        n += len(line)
        line_no += 1
    return "".join(out).encode("ascii")


def colour_ls(rng):
    kinds = [("01;34", "dir"), ("01;32", "run.sh"), ("01;36", "link"), ("00", "file.txt"),
             ("01;31", "image.tar.bz2"), ("40;33;01", "ttyS0"), ("01;35", "photo.png")]
    out = []
    n = 0
    while n < SIZE:
        row = ""
        for _ in range(rng.randint(3, 6)):
            code, name = rng.choice(kinds)
            entry = "\x1b[%sm%s%d\x1b[0m" % (code, name, rng.randint(0, 999))
            row += entry + " " * rng.randint(2, 6)
        row += "\r\n"
        out.append(row)
        n += len(row)
    return "".join(out).encode("ascii")


def redraw(rng):
    out = []
    n = 0
    frame = 0
    while n < SIZE:
        parts = ["\x1b[H\x1b[7m top - %05d up 3 days, load average: 0.%02d \x1b[m\x1b[K" %
                 (frame, frame % 100)]
        for row in range(2, 25):
            pid = 100 + (row * 37 + frame) % 900
            cpu = (row * frame) % 100
            parts.append("\x1b[%d;1H%5d root      20   0 %6d %5d S %4d.%d \x1b[1m%s\x1b[m\x1b[K" %
                         (row, pid, pid * 13, pid * 3, cpu, frame % 10,
                          rng.choice(["sh", "enigma2", "telnetd", "udhcpc", "ftpd"])))
        parts.append("\x1b[24;80H")
        frame_text = "".join(parts)
        out.append(frame_text)
        n += len(frame_text)
        frame += 1
    return "".join(out).encode("ascii")


def main():
    folder = sys.argv[1]
    rng = random.Random(20261207)
    for name, make in (("plain_log.bin", plain_log), ("colour_ls.bin", colour_ls),
                       ("redraw.bin", redraw)):
        with open("%s/%s" % (folder, name), "wb") as f:
            f.write(make(rng))


if __name__ == "__main__":
    main()
