#!/usr/bin/env python3
"""Replies matched to datagrams, measured side by side in one run.

1. Round-trip accuracy: one device sending every 10 ms to an echo on
   loopback (bench's C echo, tovrik_reply_floor echo), its round trips as
   tovrik-cli --replies measures them, beside the bare C ping-pong's
   (tovrik_reply_floor ping: the clock just before sendto, the kernel's
   receive timestamp), the floor, at p50 and p99.
2. The cost of matching: a fleet of --devices N at once a second (--spread)
   answered by tovrik-cli receive --answer echo, its CPU time with --replies
   against the same fleet without (the replies then dropped by the kernel),
   alternating, each run's cpu_seconds from --stats-json; beside them the
   floor (tovrik_fleet_floor, the fleet's system calls alone) on the same
   schedule, with and without reading the replies, its CPU from wait4.

    python3 bench/reply_bench.py --build build-bench [--devices 10000] [--seconds 20] [--rounds 2] [--packets 1000]

run_bench.py --smoke runs it with 100 devices for 1 s, one round, 20 packets.
"""
import argparse
import json
import os
import signal
import socket
import subprocess
import tempfile
import time


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accuracy(args, cli, floor):
    port = free_port()
    echo = subprocess.Popen([floor, "echo", "--port", str(port)])
    try:
        time.sleep(0.3)
        with tempfile.TemporaryDirectory() as folder:
            stats = os.path.join(folder, "stats.json")
            text = '{"IMEI":"1","v":1}' * args.packets
            subprocess.run([cli, "-p", str(port), "-m", "10ms", "--text", text, "--replies", "-q",
                            "--stats-json", stats], capture_output=True, check=True)
            matching = json.load(open(stats))["reply_matching"]
        ping = subprocess.run([floor, "ping", "--port", str(port), "--count", str(args.packets),
                               "--interval-us", "10000"], capture_output=True, text=True, check=True).stdout
    finally:
        echo.send_signal(signal.SIGKILL)
        echo.wait()
    words = ping.split()
    floor_p50, floor_p99 = float(words[words.index("p50") + 1]), float(words[words.index("p99") + 1])
    print(f"round trip, {args.packets} datagrams every 10 ms to a C echo on loopback:")
    print(f"  tovrik-cli --replies   p50 {matching['rtt_ms']['p50']:.3f} ms  p99 {matching['rtt_ms']['p99']:.3f} ms"
          f"  (matched {matching['matched']}, lost {matching['lost']})")
    print(f"  bare ping-pong (floor) p50 {floor_p50:.3f} ms  p99 {floor_p99:.3f} ms  ({' '.join(words[:4])})")
    return {"tovrik": matching["rtt_ms"], "floor": {"p50": floor_p50, "p99": floor_p99}}


def echo_receiver(cli, port):
    return subprocess.Popen([cli, "receive", "-l", "127.0.0.1:%d" % port, "--answer", "echo", "-q"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_receiver(receive):
    receive.send_signal(signal.SIGINT)
    receive.wait(timeout=30)


def check_receiver(receive):
    if receive.returncode != 0:
        raise RuntimeError("%s exited %d" % (" ".join(receive.args), receive.returncode))


def fleet_cpu(args, cli, replies):
    port = free_port()
    receive = echo_receiver(cli, port)
    try:
        time.sleep(0.5)
        with tempfile.TemporaryDirectory() as folder:
            stats = os.path.join(folder, "stats.json")
            command = [cli, "-p", str(port), "--devices", str(args.devices), "--spread", "-q", "--stop-after",
                       str(args.seconds), "--stats-json", stats] + (["--replies"] if replies else [])
            subprocess.run(command, capture_output=True, check=True)
            figures = json.load(open(stats))
    finally:
        stop_receiver(receive)
    check_receiver(receive)
    return figures


def floor_cpu(args, floor_loop, replies):
    port = free_port()
    receive = echo_receiver(args.cli, port)
    try:
        time.sleep(0.5)
        child = subprocess.Popen([floor_loop, "--port", str(port), "--devices", str(args.devices), "--seconds",
                                  str(args.seconds), "--read-replies", "1" if replies else "0"])
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
    finally:
        stop_receiver(receive)
    if child.returncode != 0:
        raise RuntimeError("%s exited %d" % (" ".join(child.args), child.returncode))
    check_receiver(receive)
    return usage.ru_utime + usage.ru_stime


def run(build, devices=10000, seconds=20, rounds=2, packets=1000):
    """Both measures, printed as they come; the figures."""
    args = argparse.Namespace(build=build, devices=devices, seconds=seconds, rounds=rounds, packets=packets,
                              cli=os.path.join(build, "src", "cli", "tovrik-cli"))
    cli = args.cli
    floor = os.path.join(build, "bench", "tovrik_reply_floor")
    floor_loop = os.path.join(build, "bench", "tovrik_fleet_floor")
    round_trip = accuracy(args, cli, floor)
    print(f"fleet CPU, {args.devices} devices at once a second, {args.seconds:g} s, answered by "
          f"tovrik-cli receive --answer echo:")
    plain, matched, floor_plain, floor_read = [], [], [], []
    for _ in range(args.rounds):
        for replies, into in ((False, floor_plain), (True, floor_read)):
            into.append(floor_cpu(args, floor_loop, replies))
            print(f"  floor {'reading replies' if replies else 'send only      '}  cpu {into[-1]:.2f} s", flush=True)
        for replies, into in ((False, plain), (True, matched)):
            stats = fleet_cpu(args, cli, replies)
            into.append(stats["cpu_seconds"])
            extra = ""
            if replies:
                m = stats["reply_matching"]
                extra = f", matched {m['matched']}, lost {m['lost']}, rtt p50 {m['rtt_ms']['p50']:.3f} ms"
            print(f"  {'--replies' if replies else 'plain    '}  cpu {stats['cpu_seconds']:.2f} s, sent "
                  f"{stats['sent']}, peak RSS {stats['max_rss_kb'] / 1024:.1f} MB{extra}", flush=True)
    ratio = (sum(matched) / len(matched)) / (sum(plain) / len(plain))
    floor_ratio = (sum(floor_read) / len(floor_read)) / (sum(floor_plain) / len(floor_plain))
    print(f"  with matching / without: {ratio:.2f}x (target <= 1.15x); "
          f"floor reading replies / floor sending only: {floor_ratio:.2f}x; "
          f"tovrik's ratio over the floor's: {ratio / floor_ratio:.2f}")
    return {"round_trip": round_trip, "cpu_s": {"plain": plain, "replies": matched, "floor_plain": floor_plain,
                                                "floor_read": floor_read},
            "replies_over_plain": ratio, "floor_read_over_plain": floor_ratio}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--devices", type=int, default=10000)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--packets", type=int, default=1000)
    args = parser.parse_args()
    run(args.build, args.devices, args.seconds, args.rounds, args.packets)


if __name__ == "__main__":
    main()
