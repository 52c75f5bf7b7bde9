#!/usr/bin/env python3
"""tovrik-cli receive against the floor and a Python receiver, side by side in
one run, on loopback, each fed by the same C sender (tovrik_receive_sender:
sendmmsg, 1,000 devices, each datagram with its device's "packnum"). The
floor is tovrik_receive_floor (recvmmsg into the same buffers, counting,
nothing else); the Python receiver is py_receiver.py (recvfrom, json.loads,
a dict per IMEI). tovrik-cli receive runs with --counter packnum -q
--stats-json, so it parses every datagram and keeps each device's table and
counter window.

1. One sender as fast as it sends, for --seconds, the sender and the
   receiver each pinned to a core of its own (taskset): the datagrams each
   receiver took per second and its CPU per datagram.
2. Two senders as fast as they send, nothing pinned: three processes on the
   two cores, so that a receiver that costs more per datagram falls behind
   and the kernel drops at its socket.
   Target, in both: receive >= 0.8 x the floor's rate.
3. Steady: one sender at --rate (default 100,000 a second), pinned as in 1,
   which all but Python keep up with; CPU per datagram.
4. A million devices: 1,000,000 distinct IMEIs, one datagram each at
   200,000 a second, into tovrik-cli receive --counter packnum: no kernel
   drops where the floor, fed the same, has none; its peak RSS (VmHWM)
   against a run of 1,000 devices, per device.

Rounds rotate the receivers' order; the median round (by rate) is shown. CPU
is user + system time from wait4 over the receiver's whole life; peak RSS is
the kernel's VmHWM, read just before the receiver is stopped.

    receive_bench.py --build build-bench [--seconds 10] [--rate 100000] [--rounds 3] [--small] [--quick | --smoke]

--quick is 3 s runs, one round, no million; --smoke the same at 0.5 s, which
shows that everything runs and gives its figures, too short for the target to
mean anything.
"""

import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def pinned(argv, core):
    """The command on the core, when it is to be pinned and there are two."""
    if core is not None and os.cpu_count() and os.cpu_count() >= 2:
        return ["taskset", "-c", str(core)] + argv
    return argv


def peak_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def start_receiver(kind, args, stats, core):
    """The receiver's process and its port."""
    if kind == "floor":
        argv = [os.path.join(args.build, "bench", "tovrik_receive_floor"), "--port", "0"]
    elif kind == "python":
        argv = [sys.executable, os.path.join(HERE, "py_receiver.py"), "--port", "0"]
    else:
        argv = [args.cli, "receive", "-l", "127.0.0.1:0", "--counter", "packnum", "-q", "--stats-json", stats]
    proc = subprocess.Popen(pinned(argv, core), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = (proc.stderr if kind == "receive" else proc.stdout).readline()
    # "port P" or "receive: listening on 127.0.0.1:P, ...".
    port = int(line.split("port ")[1]) if kind != "receive" else int(line.split(":")[2].split(",")[0])
    return proc, port


def send(args, port, rate, devices=1000, each_once=False, senders=1, core=0):
    """Runs the senders to their end; what they sent and in how long."""
    argv = [os.path.join(args.build, "bench", "tovrik_receive_sender"), "--port", str(port), "--seconds",
            str(args.seconds), "--rate", str(rate), "--devices", str(devices)]
    if args.small:
        argv.append("--small")
    if each_once:
        argv.append("--each-once")
    procs = [subprocess.Popen(pinned(argv, core), stdout=subprocess.PIPE, text=True) for _ in range(senders)]
    outs = []
    for proc in procs:
        out = proc.communicate()[0]
        if proc.returncode != 0:
            raise RuntimeError("%s exited %d" % (" ".join(argv), proc.returncode))
        outs.append(json.loads(out))
    return {"sent": sum(out["sent"] for out in outs), "seconds": max(out["seconds"] for out in outs)}


def stop(proc):
    """Ends the receiver; its CPU seconds (wait4), peak RSS (KiB) and standard
    output."""
    time.sleep(0.5)
    rss_kb = peak_rss_kb(proc.pid)
    proc.send_signal(signal.SIGINT)
    out = proc.stdout.read()
    proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError("%s exited %d" % (" ".join(proc.args), proc.returncode))
    return usage.ru_utime + usage.ru_stime, rss_kb, out


def run_one(kind, args, rate, devices=1000, each_once=False, senders=1):
    """One receiver fed by the senders; pinned when there is one sender."""
    with tempfile.TemporaryDirectory() as folder:
        stats = os.path.join(folder, "receive.json")
        proc, port = start_receiver(kind, args, stats, 1 if senders == 1 else None)
        try:
            sent = send(args, port, rate, devices, each_once, senders, 0 if senders == 1 else None)
        except BaseException:
            proc.kill()
            proc.wait()
            raise
        cpu, rss_kb, out = stop(proc)
        if kind == "receive":
            with open(stats) as f:
                record = json.load(f)
            received, drops = record["datagrams"], record["kernel_drops"]
            assert record["malformed"] == 0, record
        else:
            record = json.loads(out.strip().splitlines()[-1])
            received, drops = record["datagrams"], record.get("drops")
    return {"kind": kind, "sent": sent["sent"], "send_seconds": sent["seconds"], "received": received,
            "drops": drops, "rate": received / sent["seconds"], "cpu_s": cpu,
            "cpu_us_per_datagram": cpu * 1e6 / received if received else None, "max_rss_kb": rss_kb}


def rounds(args, rate, senders=1):
    kinds = ["floor", "receive", "python"]
    results = {kind: [] for kind in kinds}
    for r in range(args.rounds):
        order = kinds[r % 3:] + kinds[:r % 3]
        for kind in order:
            results[kind].append(run_one(kind, args, rate, senders=senders))
    # The median round by rate.
    return {kind: sorted(runs, key=lambda x: x["rate"])[len(runs) // 2] | {"rates": [x["rate"] for x in runs]}
            for kind, runs in results.items()}


def million(args):
    small = run_one("receive", args, 200000, devices=1000, each_once=True)
    large = run_one("receive", args, 200000, devices=1000000, each_once=True)
    floor = run_one("floor", args, 200000, devices=1000000, each_once=True)
    return {"devices_1000_rss_kb": small["max_rss_kb"], "devices_1000000_rss_kb": large["max_rss_kb"],
            "received": large["received"], "drops": large["drops"], "sent": large["sent"],
            "floor_received": floor["received"], "floor_drops": floor["drops"],
            "bytes_per_device": (large["max_rss_kb"] - small["max_rss_kb"]) * 1024 / (1000000 - 1000)}


def print_table(results):
    misses = []
    for name, label in (("blast", "1. one sender as fast as it goes, pinned"),
                        ("two", "2. two senders as fast as they go, unpinned"),
                        ("steady", "3. steady at %d a second" % results["rate"])):
        rows = results[name]
        print("== receive: %s, %g s, %s message ==" % (label, results["seconds"], results["message"]))
        print("  %-22s %10s %10s %12s %10s %12s %9s" % ("receiver", "sent", "received", "received/s", "drops",
                                                        "CPU/datagram", "peak RSS"))
        for kind, text in (("floor", "floor (recvmmsg)"), ("receive", "tovrik-cli receive"),
                           ("python", "Python receiver")):
            row = rows[kind]
            print("  %-22s %10d %10d %12.0f %10s %9.2f us %6.1f MB" % (
                text, row["sent"], row["received"], row["rate"], row["drops"], row["cpu_us_per_datagram"] or 0,
                row["max_rss_kb"] / 1024))
        ratio = rows["receive"]["rate"] / rows["floor"]["rate"]
        judged = name != "steady"
        print("  receive / floor: %.2fx the rate%s; CPU per datagram %.2fx; Python / floor %.2fx the rate" % (
            ratio, (" (at least 0.8x) " + ("ok" if ratio >= 0.8 else "MISSED")) if judged else "",
            rows["receive"]["cpu_us_per_datagram"] / rows["floor"]["cpu_us_per_datagram"],
            rows["python"]["rate"] / rows["floor"]["rate"]))
        if judged and ratio < 0.8:
            misses.append("receive rate (%s)" % name)
    if "million" in results:
        m = results["million"]
        print("== receive: 4. 1,000,000 devices, one datagram each, at 200,000 a second ==")
        print("  received %d of %d (kernel drops %s; the floor's %s); peak RSS %.1f MB against %.1f MB for 1,000 "
              "devices: %.0f bytes a device" % (
                  m["received"], m["sent"], m["drops"], m["floor_drops"], m["devices_1000000_rss_kb"] / 1024,
                  m["devices_1000_rss_kb"] / 1024, m["bytes_per_device"]))
        kept = not m["drops"] or m["floor_drops"]
        print("  target: no drops where the floor has none: %s" % ("ok" if kept else "MISSED"))
        if not kept:
            misses.append("receive drops new devices")
    return misses


def run(build, cli, seconds=10, rate=100000, rounds_=3, small=False, quick=False, smoke=False):
    """The four runs (quick: 3 s, one round, no million; smoke: the same at
    0.5 s); the figures."""
    short = quick or smoke
    args = argparse.Namespace(build=build, cli=cli, seconds=0.5 if smoke else 3 if quick else seconds, rate=rate,
                              rounds=1 if short else rounds_, small=small)
    results = {"seconds": args.seconds, "rate": args.rate, "message": "a 90-byte" if small else "the status",
               "blast": rounds(args, 0), "two": rounds(args, 0, senders=2), "steady": rounds(args, args.rate)}
    if not short:
        results["million"] = million(args)
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build-bench")
    ap.add_argument("--cli", default=None, help="tovrik-cli (default BUILD/src/cli/tovrik-cli)")
    ap.add_argument("--seconds", type=float, default=10)
    ap.add_argument("--rate", type=int, default=100000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--small", action="store_true", help="a 90-byte message instead of the status message")
    forms = ap.add_mutually_exclusive_group()
    forms.add_argument("--quick", action="store_true", help="3 s, one round, no million")
    forms.add_argument("--smoke", action="store_true", help="0.5 s, one round, no million; no target judged")
    ap.add_argument("--out", default=None, help="the JSON of the figures (default BUILD/receive-bench-results.json)")
    args = ap.parse_args()
    results = run(args.build, args.cli or os.path.join(args.build, "src", "cli", "tovrik-cli"), args.seconds,
                  args.rate, args.rounds, args.small, args.quick, args.smoke)
    with open(args.out or os.path.join(args.build, "receive-bench-results.json"), "w") as f:
        json.dump(results, f, indent=1)
    misses = print_table(results)
    return 1 if misses and not args.smoke else 0


if __name__ == "__main__":
    sys.exit(main())
