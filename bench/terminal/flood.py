#!/usr/bin/env python3
"""Floods a terminal window through a pseudo-terminal and counts the CPU it costs.

  flood.py --display :N --stbmate BIN --probe BIN [--rounds R] [--seconds S]

Per round and rate (115200 baud, and ten times that): the same paced stream of 78-character
lines goes to
  ours   the stbmate program, its port the pty's slave (a copy of the binary beside a
         stbmate.ini naming that slave, so the build tree's own settings stay untouched),
  xterm  `xterm -e cat SLAVE` in the same font and size,
  probe  the lateness probe (the same main window plus a 10 ms timer of its own),
one after the other on the same X display. CPU is utime+stime from /proc/PID/stat, counted
from the start of the flood to one second after its end (the last redraw included).
"""
import argparse
import re
import os
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tty

BAUD = 115200
LINE = 78


def ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def stream(total):
    """78 printable characters and CR LF per line, each line different."""
    words = ["eth0:", "link", "up", "mounting", "/dev/sda1", "squashfs:", "tuner0:",
             "lock", "frequency", "11836000", "symbol", "rate", "27500000", "ok"]
    out = bytearray()
    n = 0
    while len(out) < total:
        text = "[%5d.%06d] " % (n // 100, n * 7919 % 1000000)
        i = n
        while len(text) < LINE:
            text += words[i % len(words)] + " "
            i = i * 31 + 7
        out += text[:LINE].encode() + b"\r\n"
        n += 1
    return bytes(out[:total])


def holds_open(pid, path):
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == path:
                    return True
            except OSError:
                pass
    except OSError:
        pass
    return False


def wait_until(pred, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.05)
    return False


def children(pid):
    out = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                        out.append(int(entry))
            except OSError:
                pass
    return out


def flood(master, data, rate, seconds_pace=0.01):
    """Writes data at rate bytes/s in slices every 10 ms; returns (start, end) monotonic ns."""
    start = time.monotonic()
    sent = 0
    while sent < len(data):
        due = min(len(data), int((time.monotonic() - start) * rate) + 1)
        while sent < due:
            sent += os.write(master, data[sent:due])
        time.sleep(seconds_pace)
    return int(start * 1e9), time.monotonic_ns()


class Side:
    """One terminal program reading one pty; start() until it has the slave open."""

    def __init__(self, kind, args, env, work):
        self.kind, self.args, self.env, self.work = kind, args, env, work

    def run(self, data, rate):
        master, slave = pty.openpty()
        tty.setraw(slave)
        path = os.ttyname(slave)
        os.close(slave)
        cmd, reader = self.command(path)
        proc = subprocess.Popen(cmd, env=self.env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            def opened():
                return any(holds_open(p, path) for p in [proc.pid] + children(proc.pid))
            if not wait_until(opened, 60):  # a loaded machine starts xterm slowly
                raise RuntimeError("%s never opened %s" % (self.kind, path))
            time.sleep(1.5)  # window mapped, first paint done
            os.write(master, b"\x1b[2J\x1b[H")
            # A full history first, so the measured flood scrolls through it as a long boot
            # log would.
            prefill = stream((LINE + 2) * self.prefill) if self.prefill else b""
            while prefill:
                prefill = prefill[os.write(master, prefill):]
            time.sleep(0.5 + self.prefill / 20000)
            before = ticks(proc.pid)
            window = flood(master, data, rate)
            time.sleep(1.0)
            used = ticks(proc.pid) - before
        finally:
            proc.stdin.close()
            if self.kind != "probe":
                proc.terminate()
            try:
                out = proc.stdout.read()
                proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                out = b""
            os.close(master)
        return used, reader(out, window)

    def command(self, path):
        none = lambda out, window: None
        if self.kind == "xterm":
            return ["xterm", "-geometry", "80x24", "-fa", "DejaVu Sans Mono", "-fs", "8",
                    "-e", "cat", path], none
        with open(os.path.join(self.work, "stbmate.ini"), "w", encoding="utf-8") as f:
            ini = self.ini.replace("ComPort=COM1", "ComPort=" + path)
            if self.history:
                ini = re.sub(r"(?m)^HistoryLines=.*$", "HistoryLines=%d" % self.history, ini)
            f.write(ini)
        if self.kind == "ours":
            return [os.path.join(self.work, "stbmate")], none

        def lateness(out, window):
            delays = sorted(int(d) for t, d in (l.split() for l in out.decode().splitlines())
                            if window[0] <= int(t) <= window[1])
            if not delays:
                return None
            return delays[min(len(delays) - 1, int(len(delays) * 0.99))] / 1000.0, \
                delays[-1] / 1000.0
        return [self.args, self.work], lateness


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--display", required=True)
    ap.add_argument("--stbmate", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--ini", required=True)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--rates", default="1,10", help="multiples of the line rate")
    ap.add_argument("--history", type=int, default=0, help="HistoryLines for stbmate (0: as shipped)")
    ap.add_argument("--prefill", type=int, default=0, help="lines written before the flood")
    a = ap.parse_args()

    env = dict(os.environ, DISPLAY=a.display, QT_QPA_PLATFORM="xcb")
    work = tempfile.mkdtemp(prefix="stbmate-termbench.")
    try:
        shutil.copy2(a.stbmate, os.path.join(work, "stbmate"))
        with open(a.ini, encoding="utf-8") as f:
            ini = f.read()
        sides = {k: Side(k, a.probe, env, work) for k in ("ours", "xterm", "probe")}
        for s in sides.values():
            s.ini, s.history, s.prefill = ini, a.history, a.prefill
        rate = BAUD // 10  # 8N1: ten bits a byte
        print("%-5s %5s %10s %10s %6s %10s %10s" % ("rate", "round", "ours tck", "xterm tck",
                                                  "ratio", "p99 ms", "max ms"))
        for mult in (int(m) for m in a.rates.split(",")):
            data = stream(int(rate * mult * a.seconds))
            for r in range(1, a.rounds + 1):
                try:
                    ours, _ = sides["ours"].run(data, rate * mult)
                    xterm, _ = sides["xterm"].run(data, rate * mult)
                    _, late = sides["probe"].run(data, rate * mult)
                except RuntimeError as e:
                    print("%-5s %5d skipped: %s" % ("%dx" % mult, r, e), flush=True)
                    continue
                p99, worst = late if late else (float("nan"), float("nan"))
                print("%-5s %5d %10d %10d %6.2f %10.1f %10.1f" % (
                    "%dx" % mult, r, ours, xterm, ours / max(xterm, 1), p99, worst), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    sys.exit(main())
