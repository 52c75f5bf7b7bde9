#!/usr/bin/env python3
"""The fleet under wine beside the Linux build, in one run: the same fleets
of tovrik-cli (Linux) and tovrik-cli.exe (wine) to a receiver on loopback.
Figures under wine are wine's (its timers, its sockets over Linux's), not
Windows'.

    python3 bench/wine_fleet_bench.py --cli build/src/cli/tovrik-cli \
        --wine /usr/lib/wine/wine64 --exe build-win64/bin/tovrik-cli.exe [--seconds 30]

(WINEPREFIX set, e.g. build-win64/wineprefix.) Fleets: 2,000 devices once a
second with --spread; one device in the 10 ms mode, 1,000 packets and its
device info message (the timer's accuracy), given 15 s to send them all.
Then round trips: the same 2,000 devices and one device once a second, with
--replies, answered by the Linux build's receive --answer echo; target: the
round trip p99 of 2,000 devices under wine within 3x one device's there.
"""
import argparse
import json
import os
import socket
import subprocess
import tempfile
import threading
import time

from reply_bench import echo_receiver, free_port, stop_receiver


def run_fleet(command, stats_arg, stats_path, args):
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    receiver.bind(("127.0.0.1", 0))
    receiver.settimeout(0.5)
    received = [0]
    done = threading.Event()

    def receive():
        while not done.is_set():
            try:
                receiver.recv(65536)
                received[0] += 1
            except socket.timeout:
                pass

    thread = threading.Thread(target=receive)
    thread.start()
    subprocess.run(command + ["-p", str(receiver.getsockname()[1]), "-q", "--stats-json", stats_arg] + args,
                   capture_output=True, check=False)
    done.set()
    thread.join()
    receiver.close()
    stats = json.load(open(stats_path))
    return stats, received[0]


def run_answered(command, stats_arg, stats_path, args, cli):
    """The fleet with --replies against tovrik-cli receive --answer echo."""
    port = free_port()
    echo = echo_receiver(cli, port)
    try:
        # Listening before the first datagram: one refused would shift the
        # replies matched by order.
        time.sleep(0.5)
        subprocess.run(command + ["-p", str(port), "-q", "--replies", "--stats-json", stats_arg] + args,
                       capture_output=True, check=False)
    finally:
        stop_receiver(echo)
    return json.load(open(stats_path))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--seconds", type=float, default=30.0)
    args = parser.parse_args()
    fleets = [("2,000 devices, 1 s, --spread", ["--devices", "2000", "--spread", "--stop-after", str(args.seconds)]),
              ("1 device, 10 ms mode, 1,000 packets", ["--devices", "1", "-m", "10ms", "--text", '{"IMEI":"1","v":1}' * 1000,
                                         "--stop-after", "15"])]
    print(f"{'fleet':32} {'build':6} {'sent':>7} {'received':>8} {'p50 ms':>8} {'p99 ms':>8} {'max ms':>8} "
          f"{'CPU s':>6} {'RSS MB':>7}")
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "stats.json")
        for name, fleet_args in fleets:
            for build, command, stats_arg in (("linux", [args.cli], path),
                                              ("wine", [args.wine, args.exe], "Z:" + path.replace("/", "\\"))):
                stats, received = run_fleet(command, stats_arg, path, fleet_args)
                late = stats["lateness_ms"]
                print(f"{name:32} {build:6} {stats['sent']:>7} {received:>8} {late['p50']:>8.3f} {late['p99']:>8.3f} "
                      f"{late['max']:>8.3f} {stats['cpu_seconds']:>6.2f} {stats['max_rss_kb'] / 1024:>7.1f}",
                      flush=True)
        print(f"\n{'round trips (--replies, echo)':32} {'build':6} {'sent':>7} {'matched':>8} {'p50 ms':>8} {'p99 ms':>8} "
              f"{'max ms':>8} {'CPU s':>6}")
        p99 = {}
        for name, devices in (("1 device, 1 s", "1"), ("2,000 devices, 1 s, --spread", "2000")):
            fleet_args = ["--devices", devices, "--spread", "--stop-after", str(args.seconds)]
            for build, command, stats_arg in (("linux", [args.cli], path),
                                              ("wine", [args.wine, args.exe], "Z:" + path.replace("/", "\\"))):
                stats = run_answered(command, stats_arg, path, fleet_args, args.cli)
                matching = stats["reply_matching"]
                rtt = matching["rtt_ms"]
                p99[(build, devices)] = rtt["p99"]
                print(f"{name:32} {build:6} {stats['sent']:>7} {matching['matched']:>8} {rtt['p50']:>8.3f} "
                      f"{rtt['p99']:>8.3f} {rtt['max']:>8.3f} {stats['cpu_seconds']:>6.2f}", flush=True)
        ratio = p99[("wine", "2000")] / p99[("wine", "1")]
        print(f"under wine, round trip p99 of 2,000 devices / one device's: {ratio:.2f}x (target <= 3x): "
              f"{'ok' if ratio <= 3 else 'MISSED'}")


if __name__ == "__main__":
    main()
