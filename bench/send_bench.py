#!/usr/bin/env python3
"""Sending measured on loopback: runs tovrik-cli against a UDP receiver that
this script opens on 127.0.0.1, and reports per send mode the achieved rate
and how late each datagram arrived against its due second or tick.

    send_bench.py --cli build-bench/src/cli/tovrik-cli [--seconds 6]

Modes and what is due when:
  0       once a second, the status message, loop and time rewrite on: each
          datagram is due at the start of the second written into its "time"
          (the second of the tick that sent it), the first one at the run's
          first tick; a second without a datagram counts as skipped.
  4, 6    every 100 ms / 10 ms, make-up step: the k-th packet (k = 0, 1, ...)
          is due 100 ms + k ticks after the device info message; as the tick
          is sleep-only this lateness grows through a run, so how far each
          tick overran its interval is reported too.
  replay  mode 5 with an imported file whose "time" values are the next
          seconds, two messages a second: each is due at the start of the
          second written in the file (found by its "packnum").
Arrival times are the kernel's receive timestamps.
"""

import argparse
import datetime
import json
import os
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SO_TIMESTAMPNS = 35  # Linux; the datagram's receive time as a struct timespec


class Receiver:
    """Collects (arrival time, bytes) of every datagram sent to its port."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.lock = threading.Lock()
        self.received = []
        self.stopping = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stopping:
            try:
                data, ancillary, _, _ = self.sock.recvmsg(65536, 64)
            except socket.timeout:
                continue
            arrived = time.time()
            for level, kind, payload in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(payload) >= 16:
                    seconds, nanoseconds = struct.unpack("qq", payload[:16])
                    arrived = seconds + nanoseconds / 1e9
            with self.lock:
                self.received.append((arrived, data))

    def take(self):
        with self.lock:
            taken, self.received = self.received, []
        return taken

    def close(self):
        self.stopping = True
        self.thread.join()
        self.sock.close()


def run_cli(cli, receiver, args, stop_after):
    receiver.take()
    cmd = [cli, "-t", "127.0.0.1", "-p", str(receiver.port), "-q", "--stop-after", str(stop_after)] + args
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), done.returncode, done.stderr.decode(errors="replace")))
    time.sleep(0.2)
    got = receiver.take()
    if not got or b'"push_info"' not in got[0][1]:
        raise RuntimeError("mode run %s: the device info message did not come first" % args)
    return got[0][0], [(t, json.loads(d)) for t, d in got[1:]]


def local_epoch(text):
    return time.mktime(datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S").timetuple())


def rate(arrivals):
    return (len(arrivals) - 1) / (arrivals[-1] - arrivals[0]) if len(arrivals) > 1 else 0.0


def summary(name, lateness_s, arrivals, extra=None):
    row = {
        "mode": name,
        "datagrams": len(arrivals),
        "rate_per_s": rate(arrivals),
        "late_median_ms": statistics.median(lateness_s) * 1000 if lateness_s else None,
        "late_max_ms": max(lateness_s) * 1000 if lateness_s else None,
    }
    row.update(extra or {})
    return row


def bench_every_second(cli, receiver, seconds):
    start, got = run_cli(cli, receiver, ["-m", "0"], seconds)
    seconds_sent = [local_epoch(message["time"]) for _, message in got]
    # The first packet goes at the run's first tick, 100 ms after the device
    # info message, wherever in its second that falls; each later one at the
    # start of its second.
    due = [max(second, start + 0.1) for second in seconds_sent]
    lateness = [t - d for (t, _), d in zip(got, due)]
    skipped = sum(int(b - a) - 1 for a, b in zip(seconds_sent, seconds_sent[1:]) if b - a > 1)
    row = summary("0 (1 s)", lateness, [t for t, _ in got], {"seconds_skipped": skipped})
    row["rate_per_s"] = rate([t for t, _ in got[1:]])
    return row


def bench_fast(cli, receiver, mode, tick_ms, seconds, text_file):
    start, got = run_cli(cli, receiver, ["-m", str(mode), "--text-file", text_file], seconds)
    packnums = [int(message["packnum"]) for _, message in got]
    in_order = packnums == sorted(packnums) and len(set(packnums)) == len(packnums)
    arrivals = [t for t, _ in got]
    # Against the ideal schedule (the sleep-only tick drifts by design), and
    # each tick against the one before it.
    lateness = [t - (start + 0.1 + k * tick_ms / 1000.0) for k, t in enumerate(arrivals)]
    overrun = [max(0.0, b - a - tick_ms / 1000.0) for a, b in zip(arrivals, arrivals[1:])]
    marked = all(message.get("make_up") == 1 for _, message in got)
    return summary("%d (%d ms)" % (mode, tick_ms), lateness, arrivals, {
        "tick_over_median_ms": statistics.median(overrun) * 1000 if overrun else None,
        "tick_over_max_ms": max(overrun) * 1000 if overrun else None,
        "in_order": in_order,
        "make_up": marked,
    })


def bench_replay(cli, receiver, seconds, workdir):
    path = os.path.join(workdir, "replay.txt")
    # Two messages a second, from two seconds from now; loading takes well
    # under a second.
    count = 2 * (seconds - 3)
    subprocess.run([sys.executable, os.path.join(HERE, "gen_messages.py"), "--count", str(count), "--start", "now+2",
                    "--per-second", "2", "--no-imei-every", "0", "--broken-every", "0", "--out", path],
                   check=True, stderr=subprocess.DEVNULL)
    due_by_packnum = {}
    with open(path, encoding="ascii") as lines:
        for line in lines:
            message = json.loads(line)
            due_by_packnum[message["packnum"]] = local_epoch(message["time"])
    _, got = run_cli(cli, receiver, ["-m", "5", "--import", path], seconds)
    lateness = [t - due_by_packnum[message["packnum"]] for t, message in got]
    missing = len(due_by_packnum) - len({message["packnum"] for _, message in got})
    return summary("replay (5)", lateness, [t for t, _ in got], {"missing": missing, "expected": len(due_by_packnum)})


def run(cli, seconds=6):
    receiver = Receiver()
    try:
        with tempfile.TemporaryDirectory(prefix="tovrik-send-bench-") as workdir:
            text_file = os.path.join(workdir, "messages.txt")
            subprocess.run([sys.executable, os.path.join(HERE, "gen_messages.py"), "--count", "2000",
                            "--no-imei-every", "0", "--broken-every", "0", "--out", text_file],
                           check=True, stderr=subprocess.DEVNULL)
            return [
                bench_every_second(cli, receiver, seconds),
                bench_fast(cli, receiver, 4, 100, seconds, text_file),
                bench_fast(cli, receiver, 6, 10, seconds, text_file),
                bench_replay(cli, receiver, seconds + 2, workdir),
            ]
    finally:
        receiver.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--seconds", type=int, default=6, help="length of each run")
    args = ap.parse_args()
    print(json.dumps(run(args.cli, args.seconds), indent=2))


if __name__ == "__main__":
    main()
