#!/usr/bin/env python3
"""DTLS devices on loopback: what a session costs the fleet and the
receiver, and how fast a storm of handshakes goes.

    dtls_bench.py --build build-bench [--smoke] [--devices N] [--seconds S] [--out FILE]

1. Steady: N devices (default 10,000) in mode 0, --spread, online over a
   ramp of a third of the run (at most 10 s), for S seconds (default 30),
   with --dtls --psk-derive against tovrik-cli receive --dtls, with the
   sessions parked between datagrams and again kept whole (--dtls-no-park),
   beside the same fleet in plain UDP against tovrik-cli receive: each
   process's CPU over the whole run (wait4, handshakes included) and its RSS
   2 s before the end (VmRSS, every session established); the CPU ratio
   DTLS over plain, and the RSS a device adds, fleet and receiver.
2. Storms: the same N devices, not spread, all online at once (N full
   handshakes), then silent for 2 s by --outage and back all at once
   (return=0s: N resumed handshakes). The fleet's /metrics is read every
   50 ms; a storm's rate is its N handshakes over the time from its first
   start to its last completion. The CPU of both processes over the run.
3. The library beside its primitives: tovrik_dtls_library_bench (memory per
   established idle session, handshakes a second on one core per kind, full
   and resumed, and the cost of the primitives as openssl speed gives them,
   measured in the same run).

Both ends share this machine's cores: the storm's rate is the slower of the
two, not the receiver's alone. --smoke: 200 devices, 4 s, the library bench's
smoke form. The JSON goes to --out (default BUILD/dtls-bench-results.json).
"""

import argparse
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet_bench import Child  # noqa: E402
from reply_bench import free_port  # noqa: E402

SECRET = b"the benchmark's derivation secret\n"


def free_tcp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def receiver(cli, port, seconds, workdir, name, dtls):
    cmd = [cli, "receive", "-l", "127.0.0.1:%d" % port, "-q", "--stop-after", str(seconds)]
    if dtls:
        cmd += dtls
    return Child(cmd, os.path.join(workdir, name + "-receive.err"))


def fleet(cli, port, devices, seconds, workdir, name, dtls, extra=()):
    stats = os.path.join(workdir, name + ".json")
    cmd = [cli, "-t", "127.0.0.1", "-p", str(port), "--devices", str(devices), "-q", "--stop-after", str(seconds),
           "--stats-json", stats] + list(extra)
    if dtls:
        cmd += dtls
    return Child(cmd, os.path.join(workdir, name + "-fleet.err")), stats


def finished(child, timeout, what):
    if child.wait(timeout) != 0:
        with open(child.stderr_path) as f:
            raise RuntimeError("%s exited %s: %s" % (what, child.status, f.read()[-2000:]))
    return child.figures()


def steady(cli, workdir, devices, seconds, dtls):
    """The fleet and its receiver in plain UDP, with DTLS sessions parked
    between datagrams, and with them kept whole, one after the other."""
    out = {"devices": devices}
    ramp = min(10, seconds // 3)
    for name, args in (("plain", None), ("dtls", dtls), ("dtls_whole", dtls + ["--dtls-no-park"])):
        port = free_port()
        recv = receiver(cli, port, seconds + 4, workdir, name, args)
        time.sleep(0.5)
        send, stats = fleet(cli, port, devices, seconds, workdir, name, args, ["--spread", "--ramp", str(ramp)])
        # Every device online and past its handshake: the resident memory
        # of sessions between their datagrams.
        time.sleep(seconds - 2)
        rss = {"fleet": send.sample().get("VmRSS", 0), "receiver": recv.sample().get("VmRSS", 0)}
        sent = finished(send, seconds + 60, name + " fleet")
        got = finished(recv, seconds + 60, name + " receiver")
        with open(stats) as f:
            record = json.load(f)
        handshakes = record.get("dtls_handshakes")
        if handshakes:
            handshakes.pop("time_histogram_ns", None)
        sent["rss_end_kb"], got["rss_end_kb"] = rss["fleet"], rss["receiver"]
        out[name] = {"fleet": sent, "receiver": got, "sent": record["sent"], "errors": record["send_errors"],
                     "handshakes": handshakes}
    plain = out["plain"]
    for name in ("dtls", "dtls_whole"):
        for side in ("fleet", "receiver"):
            row = out[name][side]
            row["cpu_ratio"] = row["cpu_s"] / max(plain[side]["cpu_s"], 1e-9)
            row["rss_per_device_b"] = (row["rss_end_kb"] - plain[side]["rss_end_kb"]) * 1024 / devices
    return out


class MetricsReader(threading.Thread):
    """Reads the fleet's handshake counters every 50 ms until told to stop."""

    PATTERN = re.compile(r"^tovrik_dtls_handshakes_(started|completed|resumed)_total\{[^}]*\} (\d+)$", re.M)

    def __init__(self, port):
        super().__init__(daemon=True)
        self.url = "http://127.0.0.1:%d/metrics" % port
        self.samples = []
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                text = urllib.request.urlopen(self.url, timeout=1).read().decode()
                counts = {m.group(1): int(m.group(2)) for m in self.PATTERN.finditer(text)}
                if counts:
                    self.samples.append((time.time(), counts))
            except OSError:
                pass
            self.stop.wait(0.05)

    def storm(self, first_started, last_completed):
        """The time from the first sample with more than first_started
        handshakes started to the first with last_completed completed."""
        start = next((t for t, c in self.samples if c["started"] > first_started), None)
        end = next((t for t, c in self.samples if c["completed"] >= last_completed), None)
        return None if start is None or end is None else end - start


def storms(cli, workdir, devices, dtls):
    port = free_port()
    metrics = free_tcp_port()
    outage_at = 6 if devices > 1000 else 2
    seconds = outage_at + 2 + (8 if devices > 1000 else 3)
    recv = receiver(cli, port, seconds + 4, workdir, "storm", dtls)
    time.sleep(0.5)
    send, stats = fleet(cli, port, devices, seconds, workdir, "storm", dtls,
                        ["--outage", "%ds,2s,return=0s" % outage_at, "--seed", "1",
                         "--metrics", "127.0.0.1:%d" % metrics])
    reader = MetricsReader(metrics)
    reader.start()
    sent = finished(send, seconds + 60, "storm fleet")
    reader.stop.set()
    reader.join()
    got = finished(recv, seconds + 60, "storm receiver")
    with open(stats) as f:
        handshakes = json.load(f)["dtls_handshakes"]
    handshakes.pop("time_histogram_ns", None)
    full = reader.storm(0, devices)
    resumed = reader.storm(devices, 2 * devices)
    return {"devices": devices, "fleet": sent, "receiver": got, "handshakes": handshakes,
            "full_s": full, "resumed_s": resumed,
            "full_per_s": devices / full if full else None, "resumed_per_s": devices / resumed if resumed else None}


def library(build, smoke):
    program = os.path.join(build, "bench", "tovrik_dtls_library_bench")
    done = subprocess.run([program] + (["--smoke"] if smoke else []), stdout=subprocess.PIPE, text=True, check=True)
    return [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]


def run(build, cli, devices=10000, seconds=30, smoke=False):
    with tempfile.TemporaryDirectory(prefix="tovrik-dtls-bench-") as workdir:
        secret = os.path.join(workdir, "secret")
        with open(secret, "wb") as f:
            f.write(SECRET)
        dtls = ["--dtls", "--psk-derive", secret]
        results = {"steady": steady(cli, workdir, devices, seconds, dtls)}
        results["storm"] = storms(cli, workdir, devices, dtls)
        results["library"] = library(build, smoke)
    return results


def print_table(results):
    s = results["steady"]
    print("DTLS, %s devices once a second (CPU over the whole run, RSS once all are online):"
          % format(s["devices"], ","))
    for name in ("plain", "dtls", "dtls_whole"):
        row = s[name]
        line = "  %-10s fleet CPU %.2f s, RSS %d MB; receiver CPU %.2f s, RSS %d MB; sent %d, errors %d" % (
            name, row["fleet"]["cpu_s"], row["fleet"]["rss_end_kb"] // 1024, row["receiver"]["cpu_s"],
            row["receiver"]["rss_end_kb"] // 1024, row["sent"], row["errors"])
        if name != "plain":
            line += "; over plain: CPU %.2fx / %.2fx, RSS a device %.0f B / %.0f B" % (
                row["fleet"]["cpu_ratio"], row["receiver"]["cpu_ratio"], row["fleet"]["rss_per_device_b"],
                row["receiver"]["rss_per_device_b"])
        print(line)
    st = results["storm"]
    rate = lambda r: "%.0f/s" % r if r else "n/a"  # noqa: E731
    print("  storm of %d: full %s, resumed %s; handshake p50 %.1f ms p99 %.1f ms; failed %s"
          % (st["devices"], rate(st["full_per_s"]), rate(st["resumed_per_s"]), st["handshakes"]["time_ms"]["p50"],
             st["handshakes"]["time_ms"]["p99"], st["handshakes"]["failed"]))
    print("  library: %d rows (memory per idle session, handshakes a second, primitives) in the JSON"
          % len(results["library"]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default="build-bench")
    ap.add_argument("--cli")
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--devices", type=int)
    ap.add_argument("--seconds", type=int)
    ap.add_argument("--out")
    args = ap.parse_args()
    cli = args.cli or os.path.join(args.build, "src", "cli", "tovrik-cli")
    devices = args.devices or (200 if args.smoke else 10000)
    seconds = args.seconds or (4 if args.smoke else 30)
    results = run(args.build, cli, devices, seconds, args.smoke)
    print_table(results)
    out = args.out or os.path.join(args.build, "dtls-bench-results.json")
    with open(out, "w") as f:
        json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
