#!/usr/bin/env python3
"""Pacing and the capacity search, each beside its floor or peer in one run,
on loopback.

1. Rate accuracy: tovrik-cli --rate R --spread (1,000 devices at 1k/s,
   10,000 at 10k/s and at 100k/s) against tovrik_fleet_receiver, which
   counts the datagrams by the whole second of their kernel receive
   timestamps; each second's deviation from R (max and mean over the seconds
   after the first of the window) and the window's total against R x its
   seconds. Target: within 0.1 % each second and in all. Beside it, with a
   receiver of its own, the floor: tovrik_fleet_floor (one sendto per
   datagram on the engine's wake grid, nothing else) on the same devices at
   the period that gives R. CPU of both over the window, per 1,000
   datagrams.
2. --interval against the equal mode: 10,000 devices --spread, -m 0 (once a
   second on the whole second) and -m 0 --interval 1s (once a second from
   each device's first packet), in turn, and the floor on mode 0's schedule:
   CPU per 1,000 datagrams over the window and the lateness p99 the fleet
   reports (--stats-json), side by side.
3. The capacity search: tovrik-cli receive --answer echo --capacity C/s at
   three capacities, each searched by 1,000 devices with --counter packnum
   --reply-match packnum --find-capacity 1k/s..40k/s,x1.25,STEP --threshold
   'reply_loss<=1%': the capacity found against C (the goal: within one
   step, C/1.25 <= found <= C) and the search's wall time.

    pace_bench.py --build build-bench [--quick | --smoke] [--only 1,2,3] [--out FILE] [--strict]

Full: 20 s windows, 2 rounds of 2, 5 s steps; --quick: 10 s windows, one
round, 3 s steps; --smoke: 10k/s only, 2 s windows, one capacity (2k/s,
searched from 1,500/s by x1.5, 3 s steps): that each part runs and gives its figures, too short for the
targets to mean anything. The JSON goes to --out (default
BUILD/pace-bench-results.json).
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import fleet_bench  # noqa: E402

# (rate a second, devices): the period of a device is devices / rate.
RATES = {"full": [(1000, 1000), (10000, 10000), (100000, 10000)],
         "quick": [(1000, 1000), (10000, 10000), (100000, 10000)],
         "smoke": [(10000, 10000)]}
CAPACITIES = {"full": [2000, 5000, 10000], "quick": [2000, 5000, 10000], "smoke": [2000]}
# The measured window starts warmup_s or up to a second more after the
# launch: 10,000 sockets open and every device on its schedule.
FORMS = {"full": {"window_s": 20, "warmup_s": 3, "rounds": 2, "search": "1k/s..40k/s,x1.25,5s", "factor": 1.25},
         "quick": {"window_s": 10, "warmup_s": 3, "rounds": 1, "search": "1k/s..40k/s,x1.25,3s", "factor": 1.25},
         "smoke": {"window_s": 2, "warmup_s": 2, "rounds": 1, "search": "1500/s..8k/s,x1.5,3s", "factor": 1.5}}
TOLERANCE = 0.001
INTERVAL_DEVICES = 10000
CAPACITY_DEVICES = 1000


def per_second(row, rate, window_s):
    """Each second's count against the rate, from the receiver's report."""
    counts = row["receiver"]["per_second"]
    after_first = [abs(c - rate) / float(rate) for c in counts[1:]]
    total = sum(counts)
    return {"counts": counts, "max_dev": max(after_first), "mean_dev": sum(after_first) / len(after_first),
            "total": total, "ideal": rate * window_s, "total_dev": (total - rate * window_s) / float(rate * window_s),
            "cpu_ms_per_1000": 1e6 * row["cpu_core"] * window_s / total if total else None}


def bench_rate(args, workdir, form):
    window_s, warmup_s = FORMS[form]["window_s"], FORMS[form]["warmup_s"]
    floor = [os.path.join(args.build, "bench", "tovrik_fleet_floor")]
    rows = []
    for rate, devices in RATES[form]:
        period_ms = 1000.0 * devices / rate
        # Device k keeps the phase of its first datagram: a datagram missing
        # from its period is told apart from one a second late.
        schedule = ["--phase", "first"]
        tovrik = fleet_bench.run_fleet(args, workdir, "rate-%d" % rate, devices, None, window_s, warmup=warmup_s,
                                       period_ms=period_ms, schedule=schedule, extra=["--rate", "%d/s" % rate])
        bare = fleet_bench.run_loop(args, workdir, window_s, "rate-%d-floor" % rate, floor, devices=devices,
                                    period_ms=int(period_ms), warmup=warmup_s)
        stats = fleet_bench.read_stats(os.path.join(workdir, "rate-%d-0.stats.json" % rate)) or {}
        row = {"rate": rate, "devices": devices, "period_ms": period_ms, "window_s": window_s,
               "tovrik": dict(per_second(tovrik, rate, window_s), missing=tovrik["missing"],
                              sender_late_p99_ms=tovrik["sender_late_p99_ms"], sent=tovrik["sent"],
                              behind_seconds=stats.get("behind_seconds")),
               "floor": dict(per_second(bare, rate, window_s), missing=bare["missing"])}
        row["ok"] = row["tovrik"]["max_dev"] <= TOLERANCE and abs(row["tovrik"]["total_dev"]) <= TOLERANCE
        rows.append(row)
        print("  %7d/s: tovrik per second max %.4f %% mean %.4f %%, total %+.4f %%; floor max %.4f %%, total %+.4f %%"
              % (rate, 100 * row["tovrik"]["max_dev"], 100 * row["tovrik"]["mean_dev"], 100 * row["tovrik"]["total_dev"],
                 100 * row["floor"]["max_dev"], 100 * row["floor"]["total_dev"]), flush=True)
    return rows


def interval_row(row, window_s, stats):
    received = sum(row["receiver"]["per_second"])
    return {"cpu_ms_per_1000": 1e6 * row["cpu_core"] * window_s / received if received else None,
            "cpu_core": row["cpu_core"], "received": received, "missing": row["missing"],
            "late_p99_ms": (stats or {}).get("lateness_ms", {}).get("p99"),
            "cpu_s_whole_run": (stats or {}).get("cpu_seconds"), "sent": (stats or {}).get("sent")}


def bench_interval(args, workdir, form):
    window_s, warmup_s, rounds = FORMS[form]["window_s"], FORMS[form]["warmup_s"], FORMS[form]["rounds"]
    runs = {"mode0": [], "interval": [], "floor": []}
    for round_no in range(rounds):
        for name, extra, schedule in (("mode0", [], ()), ("interval", ["--interval", "1s"], ["--phase", "first"])):
            key = "%s-%d" % (name, round_no)
            row = fleet_bench.run_fleet(args, workdir, key, INTERVAL_DEVICES, 0, window_s, warmup=warmup_s, schedule=schedule,
                                        extra=extra)
            stats = fleet_bench.read_stats(os.path.join(workdir, "%s-0.stats.json" % key))
            runs[name].append(interval_row(row, window_s, stats))
        bare = fleet_bench.run_loop(args, workdir, window_s, "interval-floor-%d" % round_no,
                                    [os.path.join(args.build, "bench", "tovrik_fleet_floor")],
                                    devices=INTERVAL_DEVICES, warmup=warmup_s)
        runs["floor"].append(interval_row(bare, window_s, None))
        print("  round %d: CPU per 1,000 datagrams -m 0 %.2f ms, --interval 1s %.2f ms, floor %.2f ms; "
              "late p99 %.3f / %.3f ms" % (round_no + 1, runs["mode0"][-1]["cpu_ms_per_1000"],
                                           runs["interval"][-1]["cpu_ms_per_1000"],
                                           runs["floor"][-1]["cpu_ms_per_1000"], runs["mode0"][-1]["late_p99_ms"],
                                           runs["interval"][-1]["late_p99_ms"]), flush=True)
    out = {"runs": runs, "window_s": window_s, "rounds": rounds, "devices": INTERVAL_DEVICES}
    for name in runs:
        out[name + "_cpu_ms_per_1000"] = sum(r["cpu_ms_per_1000"] for r in runs[name]) / rounds
    for name in ("mode0", "interval"):
        out[name + "_late_p99_ms"] = max(r["late_p99_ms"] for r in runs[name])
    out["interval_over_mode0"] = out["interval_cpu_ms_per_1000"] / out["mode0_cpu_ms_per_1000"]
    return out


def start_capacity_receiver(cli, capacity, err_path):
    err = open(err_path, "w+")
    proc = subprocess.Popen([cli, "receive", "-l", "127.0.0.1:0", "--answer", "echo", "--capacity",
                             "%d/s" % capacity, "-q"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=err)
    # "receive: listening on 127.0.0.1:P, ..." once bound.
    deadline = time.time() + 10
    while time.time() < deadline:
        err.seek(0)
        banner = err.readline()
        if banner.endswith("\n"):
            return proc, int(banner.split("127.0.0.1:")[1].split(",")[0]), err
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    proc.kill()
    raise RuntimeError("tovrik-cli receive did not start: %r" % banner)


def bench_capacity(args, workdir, form):
    search, factor = FORMS[form]["search"], FORMS[form]["factor"]
    rows = []
    for capacity in CAPACITIES[form]:
        receiver, port, err = start_capacity_receiver(args.cli, capacity, os.path.join(workdir, "cap-%d.err" % capacity))
        stats_path = os.path.join(workdir, "cap-%d.stats.json" % capacity)
        command = [args.cli, "-t", "127.0.0.1", "-p", str(port), "--devices", str(CAPACITY_DEVICES), "--counter",
                   "packnum", "--reply-match", "packnum", "--find-capacity", search, "--threshold", "reply_loss<=1%",
                   "-q", "--stats-json", stats_path]
        try:
            started = time.monotonic()
            done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  text=True, timeout=600)
            wall_s = time.monotonic() - started
        finally:
            receiver.terminate()
            receiver.wait(timeout=30)
            err.close()
        if done.returncode not in (0, 3):
            raise RuntimeError("%s exited %d: %s" % (" ".join(command), done.returncode, done.stderr[-2000:]))
        with open(stats_path) as f:
            found = json.load(f)["capacity"]
        line = next((text for text in done.stdout.splitlines() if text.startswith("capacity:")), "")
        result = found["capacity"]
        row = {"capacity": capacity, "found": result, "crossed_at": found["crossed_at"],
               "steps": len(found["steps"]), "step_s": found["step_s"], "settle_s": found["settle_s"],
               "wall_s": wall_s, "line": line, "search": search,
               "ok": result is not None and capacity / factor <= result <= capacity}
        rows.append(row)
        print("  --capacity %d/s: found %s in %.1f s (%d steps)" % (
            capacity, "none" if result is None else "%g/s" % result, wall_s, row["steps"]), flush=True)
    return rows


def print_table(results):
    misses = []
    print()
    print("== Pacing and capacity (loopback) ==")
    if "1" in results:
        print("  rate accuracy (kernel receive stamps, per whole second):")
        print("  %-30s %12s %12s %12s %18s %8s" % ("run", "max dev/s", "mean dev/s", "total", "CPU/1,000 dgrams",
                                                   "missing"))
        for row in results["1"]:
            for label, part in (("tovrik --rate %d/s, %d dev" % (row["rate"], row["devices"]), row["tovrik"]),
                                ("  floor, period %g ms" % row["period_ms"], row["floor"])):
                print("  %-30s %11.4f%% %11.4f%% %+11.4f%% %15.2f ms %8d" % (
                    label, 100 * part["max_dev"], 100 * part["mean_dev"], 100 * part["total_dev"],
                    part["cpu_ms_per_1000"], part["missing"]))
            print("     target: within 0.1 %% each second and in all over %d s: %s" % (
                row["window_s"], "ok" if row["ok"] else "MISSED"))
            if not row["ok"]:
                misses.append("rate %d/s" % row["rate"])
    if "2" in results:
        r = results["2"]
        print("  --interval 1s against -m 0, %d devices --spread, %d s, %d round(s):" % (
            r["devices"], r["window_s"], r["rounds"]))
        print("     CPU per 1,000 datagrams: -m 0 %.2f ms, --interval 1s %.2f ms (%.2fx), floor %.2f ms; "
              "lateness p99 -m 0 %.3f ms, --interval %.3f ms" % (
                  r["mode0_cpu_ms_per_1000"], r["interval_cpu_ms_per_1000"], r["interval_over_mode0"],
                  r["floor_cpu_ms_per_1000"], r["mode0_late_p99_ms"], r["interval_late_p99_ms"]))
    if "3" in results:
        print("  capacity search against tovrik-cli receive --capacity:")
        for row in results["3"]:
            print("     %6d/s: found %s, crossed at %s, %d steps of %d s, %.1f s; within one step: %s" % (
                row["capacity"], "none" if row["found"] is None else "%g/s" % row["found"],
                "-" if row["crossed_at"] is None else "%g/s" % row["crossed_at"], row["steps"], row["step_s"],
                row["wall_s"], "ok" if row["ok"] else "MISSED"))
            if not row["ok"]:
                misses.append("capacity %d/s" % row["capacity"])
    return misses


def run(build, cli=None, form="full", only="1,2,3", out=None, drain_us=1000):
    """The chosen parts in their form (full, quick or smoke), printed as they
    come; writes the JSON and answers the results."""
    args = fleet_bench.prepare(build, cli, drain_us, form)
    parts = {"1": ("rate accuracy", bench_rate), "2": ("--interval against -m 0", bench_interval),
             "3": ("capacity search", bench_capacity)}
    results = {"form": form}
    with fleet_bench.rmem_max_raised(), tempfile.TemporaryDirectory(prefix="tovrik-pace-bench-") as workdir:
        for key in only.split(","):
            print("pacing benchmark %s, %s ..." % (key, parts[key][0]), flush=True)
            results[key] = parts[key][1](args, workdir, form)
    results["load_average"] = os.getloadavg()
    with open(out or os.path.join(build, "pace-bench-results.json"), "w") as f:
        json.dump(results, f, indent=2)
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--cli", help="tovrik-cli to run (default BUILD/src/cli/tovrik-cli)")
    forms = ap.add_mutually_exclusive_group()
    forms.add_argument("--quick", action="store_true", help="10 s windows, one round, 3 s capacity steps")
    forms.add_argument("--smoke", action="store_true", help="10k/s only, 2 s windows, one capacity: no target judged")
    ap.add_argument("--only", default="1,2,3", help="comma-separated part numbers")
    ap.add_argument("--out", help="JSON file (default BUILD/pace-bench-results.json)")
    ap.add_argument("--strict", action="store_true", help="exit 1 when a target is missed")
    args = ap.parse_args()
    form = "quick" if args.quick else "smoke" if args.smoke else "full"
    results = run(args.build, args.cli, form, args.only, args.out)
    misses = print_table(results)
    if form == "smoke":
        print("smoke round: each part ran and gave its figures; no target is judged at these lengths")
        return 0
    print("load average at the end: %.2f %.2f %.2f" % tuple(results["load_average"]))
    print("targets missed: " + (", ".join(misses) if misses else "none"))
    return 1 if misses and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
