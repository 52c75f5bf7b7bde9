#!/usr/bin/env python3
"""Import throughput and memory: `tovrik-cli --dry-run --import FILE` on the
day file side by side with the plain Python loop (py_import_loop.py), rounds
alternating, and on the week file five times in a row, a few seconds apart,
under /usr/bin/time -v for its peak memory.

    import_bench.py --cli build-bench/src/cli/tovrik-cli --day bench/data/day.txt [--week bench/data/week.txt]
                    [--import-time build-bench/bench/tovrik_import_time]

The Python script reports its loop's own time too, and tovrik_import_time
times the import inside one process, so that the work can be compared apart
from the two programs' start and end.
"""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COUNT_RE = re.compile(r"dry run: (\d+) packets? loaded")


def timed(cmd):
    """Wall time of one run, its CPU time (user + system), its output, and its
    peak memory in bytes when run under /usr/bin/time -v (None otherwise)."""
    before = os.times()
    start = time.perf_counter()
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    seconds = time.perf_counter() - start
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), done.returncode, done.stderr.decode(errors="replace")))
    err = done.stderr.decode(errors="replace")
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
    return seconds, cpu, done.stdout.decode(errors="replace") + err, int(rss.group(1)) * 1024 if rss else None


def cli_count(output):
    found = COUNT_RE.search(output)
    if not found:
        raise RuntimeError("tovrik-cli --dry-run did not say how many packets it loaded: " + output[-1000:])
    return int(found.group(1))


def warm(path):
    """Reads the file once so that every timed run finds it in the page cache."""
    with open(path, "rb") as f:
        while f.read(1 << 24):
            pass


def bench_day(cli, day, rounds):
    warm(day)
    py_cmd = [sys.executable, os.path.join(HERE, "py_import_loop.py"), day]
    cli_cmd = [cli, "--dry-run", "--import", day]
    py_times, cli_times, py_cpu, cli_cpu, py_loop = [], [], [], [], []
    py_parsed = cli_kept = None
    # One untimed run of each first, then the two in turn.
    timed(py_cmd)
    timed(cli_cmd)
    for _ in range(rounds):
        seconds, cpu, out, _ = timed(py_cmd)
        py_times.append(seconds)
        py_cpu.append(cpu)
        py_parsed = int(out.split()[0])
        py_loop.append(float(out.split()[1]))
        seconds, cpu, out, _ = timed(cli_cmd)
        cli_times.append(seconds)
        cli_cpu.append(cpu)
        cli_kept = cli_count(out)
    py, cli_s = statistics.median(py_times), statistics.median(cli_times)
    return {
        "day_file": day,
        "day_bytes": os.path.getsize(day),
        "python_s": py,
        "python_runs_s": py_times,
        "python_cpu_s": statistics.median(py_cpu),
        "python_loop_only_s": statistics.median(py_loop),
        "python_parsed": py_parsed,
        "cli_s": cli_s,
        "cli_runs_s": cli_times,
        "cli_cpu_s": statistics.median(cli_cpu),
        "cli_kept": cli_kept,
        "speedup": py / cli_s,
        "speedup_cpu": statistics.median(py_cpu) / statistics.median(cli_cpu),
    }


WEEK_RUNS = 5
# A user's imports come seconds apart, not back to back. The pause also lets
# a virtual machine hand the memory freed by the run before back to its host
# (free page reporting, about two seconds), so that every run starts from
# the same state instead of from the last one's warm pages.
WEEK_PAUSE_S = 3


def bench_week(cli, week, day_s):
    """The week import five times in a row, each against the day's median; the
    worst run is the one held to the target."""
    warm(week)
    cmd = ["/usr/bin/time", "-v", cli, "--dry-run", "--import", week]
    times, cpu, rss = [], [], []
    kept = None
    for _ in range(WEEK_RUNS):
        time.sleep(WEEK_PAUSE_S)
        seconds, cpu_s, out, peak = timed(cmd)
        times.append(seconds)
        cpu.append(cpu_s)
        rss.append(peak)
        kept = cli_count(out)
    size = os.path.getsize(week)
    return {
        "week_file": week,
        "week_bytes": size,
        "week_s": statistics.median(times),
        "week_runs_s": times,
        "week_runs_over_day": [t / day_s for t in times],
        "week_runs_cpu_s": cpu,
        "week_pause_s": WEEK_PAUSE_S,
        "week_kept": kept,
        "week_over_day": max(times) / day_s,
        "week_max_rss_bytes": max(rss),
        "week_rss_over_size": max(rss) / size,
    }


def in_process(import_time, day):
    """The import inside one process, without its start and end: the first
    (fresh memory, as in a one-off run) and the later ones (the heap's pages
    already there, as for a second import in the window)."""
    done = subprocess.run([import_time, day, "4"], stdout=subprocess.PIPE, check=True)
    times = json.loads(done.stdout)
    return {
        "import_first_s": times["import_s"][0],
        "import_again_s": statistics.median(times["import_s"][1:]),
        "release_s": statistics.median(times["release_s"]),
    }


def run(cli, day, week=None, rounds=5, import_time=None):
    result = bench_day(cli, day, rounds)
    if import_time:
        result.update(in_process(import_time, day))
    _, _, _, peak = timed(["/usr/bin/time", "-v", cli, "--dry-run", "--import", day])
    result["day_max_rss_bytes"] = peak
    if week:
        result.update(bench_week(cli, week, result["cli_s"]))
    return result


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--day", required=True)
    ap.add_argument("--week")
    ap.add_argument("--import-time", help="the tovrik_import_time program, for in-process figures")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    print(json.dumps(run(args.cli, args.day, args.week, args.rounds, args.import_time), indent=2))


if __name__ == "__main__":
    main()
