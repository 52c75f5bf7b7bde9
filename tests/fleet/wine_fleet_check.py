#!/usr/bin/env python3
"""A fleet of tovrik-cli.exe under wine against a receiver on the Linux side
of loopback: 2,000 devices for 30 s, each from a source port of its own, and
none missing at the receiver.

Usage: wine_fleet_check.py WINE TOVRIK_CLI_EXE [--devices N] [--seconds S]
(WINEPREFIX set)
"""
import argparse
import collections
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading

IMEI = re.compile(rb'"IMEI":"(\d+)"')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("wine")
    parser.add_argument("exe")
    parser.add_argument("--devices", type=int, default=2000)
    parser.add_argument("--seconds", type=float, default=30.0)
    args = parser.parse_args()

    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    receiver.bind(("127.0.0.1", 0))
    receiver.settimeout(0.5)
    ports_of = collections.defaultdict(set)
    count_of = collections.Counter()
    done = threading.Event()

    def receive():
        while not done.is_set():
            try:
                data, (_, port) = receiver.recvfrom(65536)
            except socket.timeout:
                continue
            match = IMEI.search(data)
            imei = match.group(1) if match else b"?"
            ports_of[imei].add(port)
            count_of[imei] += 1

    thread = threading.Thread(target=receive)
    thread.start()
    with tempfile.TemporaryDirectory() as folder:
        stats_path = os.path.join(folder, "stats.json")
        run = subprocess.run([args.wine, args.exe, "-p", str(receiver.getsockname()[1]), "--devices",
                              str(args.devices), "--spread", "-q", "--stop-after", str(args.seconds),
                              "--stats-json", "Z:" + stats_path.replace("/", "\\")],
                             capture_output=True, timeout=args.seconds + 120)
        # What is still on its way arrives within the receiver's timeout.
        done.set()
        thread.join()
        stats = json.load(open(stats_path)) if os.path.exists(stats_path) else {}
    received = sum(count_of.values())
    per_device = sorted(count_of.values())
    print(f"wine fleet: exit {run.returncode}, {len(count_of)} devices seen, {received} datagrams received, "
          f"{stats.get('sent')} sent, per device {per_device[0] if per_device else 0}-"
          f"{per_device[-1] if per_device else 0}, lateness ms {stats.get('lateness_ms')}, "
          f"CPU {stats.get('cpu_seconds')} s, peak RSS {stats.get('max_rss_kb')} kB (wine's, not Windows')")
    failures = []
    if run.returncode != 0:
        failures.append(f"exit code {run.returncode}: {run.stderr.decode(errors='replace')[-500:]}")
    if len(count_of) != args.devices:
        failures.append(f"{len(count_of)} devices reached the receiver, not {args.devices}")
    if any(len(ports) != 1 for ports in ports_of.values()) or \
            len({next(iter(ports)) for ports in ports_of.values()}) != len(ports_of):
        failures.append("a device sent from more than one port, or two devices from one")
    # The device info message and one status message a second, less the
    # second that the spread and the stop may cut.
    least = int(args.seconds) - 1
    if per_device and per_device[0] < least:
        failures.append(f"a device's datagrams fell short: {per_device[0]} < {least}")
    if stats.get("sent") != received:
        failures.append(f"{stats.get('sent')} sent but {received} received: some are missing")
    for failure in failures:
        print("FAILED  " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
