#!/usr/bin/env python3
"""Runs every benchmark of Tovrik and prints a short table (`make bench`).

    run_bench.py [--build build-bench] [--quick] [--no-week] [--fleet quick|full|off] [--clean] [--strict]
    run_bench.py [--build build-bench] --smoke

1. Generates bench/data/day.txt and week.txt when missing (gen_messages.py;
   the week only with room to spare on the disk).
2. Google Benchmark (tovrik_bench): cutting 1, 10 and 100 MB, the import
   readings, the stamp step and the make-up step; the fleet's splice of a
   status message from its template, beside the rewrite through JSON.
3. Import: tovrik-cli --dry-run --import against the plain Python loop on the
   day file; the week file five times in a row, its worst time and peak
   memory (import_bench.py).
4. Cutting through the whole command: tovrik-cli --text-file on 10 and
   100 MB (text_file_bench.py).
5. Sending on loopback: modes 0, 4, 6 and replay (send_bench.py).
6. The fleet on loopback (fleet_bench.py), by default its shorter runs
   (15 s each, a 2-minute soak); --fleet full for the full lengths.
7. Receiving: tovrik-cli receive against a bare recvmmsg loop and a Python
   receiver, fed by one C sender (receive_bench.py): by default 3 s runs,
   one round; --receive full for 10 s, three rounds and a million devices.
8. Capture import against tshark and the libpcap floor (capture_bench.py):
   by default a 200,000-datagram pcap; --capture full for 5 million (1 GB,
   tshark alone takes some three minutes).
9. Pacing and the capacity search (pace_bench.py): --rate's accuracy per
   second beside the floor's, --interval against mode 0, capacities found
   against tovrik-cli receive --capacity; by default 10 s windows and 3 s
   steps (about four minutes), --pace full for 20 s, two rounds, 5 s steps.

All figures also go to BUILD/bench-results.json. The exit status is 0 unless
a step fails, or with --strict a target is missed.

--smoke (`make bench-smoke`, run by CI) is the smoke round: every step above
at its smallest (no week file; the fleet, receiving, capture and pacing
drivers in their smoke forms), then the benchmarks make bench leaves to be run by hand,
as briefly: the replies (reply_bench.py), the stop (stop_bench.py, Linux),
DTLS devices and the DTLS libraries (dtls_bench.py) and the filters' kernel
memory (tovrik_filter_memory). It fails when a step fails
or a program that bench/CMakeLists.txt builds was not run; it judges no target
(the runs are far too short for that) and writes BUILD/bench-smoke-results.json.
"""

import argparse
import ctypes
import json
import os
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import capture_bench  # noqa: E402
import dtls_bench  # noqa: E402
import fleet_bench  # noqa: E402
import import_bench  # noqa: E402
import pace_bench  # noqa: E402
import receive_bench  # noqa: E402
import reply_bench  # noqa: E402
import send_bench  # noqa: E402
import stop_bench  # noqa: E402
import text_file_bench  # noqa: E402

DATA = os.path.join(HERE, "data")
DAY_LINES, WEEK_LINES = 86400, 604800
WEEK_ROOM = 2 << 30  # free bytes wanted before the ~550 MB week file is written

# By the round's form: Google Benchmark's repetitions and minimum time per
# case (seconds, as this libbenchmark takes it), the rounds of the import and
# text-file runs, and each send run's seconds.
FORMS = {
    "full": {"repetitions": 5, "min_time": "0.2", "import_rounds": 5, "text_rounds": 7, "send_s": 6},
    "quick": {"repetitions": 1, "min_time": "0.05", "import_rounds": 3, "text_rounds": 3, "send_s": 5},
    "smoke": {"repetitions": 1, "min_time": "0.01", "import_rounds": 1, "text_rounds": 1, "send_s": 2},
}
# The capture import by its form: the pcap in bench/data, its datagrams, the
# rounds.
CAPTURES = {"full": ("big.pcap", 5000000, 1), "quick": ("quick.pcap", 200000, 3), "smoke": ("smoke.pcap", 10000, 1)}


def line_count_ok(path, lines):
    """The generated file is there and whole (its last line ends the file)."""
    if not os.path.exists(path):
        return False
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        if f.tell() == 0:
            return False
        f.seek(-1, os.SEEK_END)
        if f.read(1) != b"\n":
            return False
    # Every generated line is 800..1000 bytes long.
    return 800 * lines <= os.path.getsize(path) <= 1000 * lines


def ensure_data(preset, lines, room=0):
    path = os.path.join(DATA, preset + ".txt")
    if line_count_ok(path, lines):
        return path
    os.makedirs(DATA, exist_ok=True)
    free = shutil.disk_usage(DATA).free
    if free < room:
        print("skipping the %s file: %.1f GB free, %.1f GB wanted" % (preset, free / 1e9, room / 1e9))
        return None
    subprocess.run([sys.executable, os.path.join(HERE, "gen_messages.py"), "--preset", preset, "--out", path],
                   check=True)
    return path


def google_bench(binary, sizes):
    out = os.path.join(os.path.dirname(binary), "tovrik_bench.json")
    cmd = [binary, "--benchmark_out=" + out, "--benchmark_out_format=json",
           "--benchmark_repetitions=%d" % sizes["repetitions"], "--benchmark_report_aggregates_only=true",
           "--benchmark_min_time=" + sizes["min_time"]]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        report = json.load(f)
    # A case that gave up (SkipWithError) still ends the program with 0.
    failed = ["%s: %s" % (bench["name"], bench.get("error_message", "")) for bench in report["benchmarks"]
              if bench.get("error_occurred")]
    if failed:
        raise RuntimeError("tovrik_bench: " + "; ".join(failed))
    results = {}
    for bench in report["benchmarks"]:
        if bench.get("run_type") == "aggregate" and bench.get("aggregate_name") != "median":
            continue
        name = bench.get("run_name", bench["name"])
        results[name] = {"real_ms": bench["real_time"] * unit_ms(bench["time_unit"]),
                         "cpu_ms": bench["cpu_time"] * unit_ms(bench["time_unit"])}
    for kind in ("BM_CutPackets", "BM_AppendAndCut"):
        ten, hundred = results[kind + "/MB:10"], results[kind + "/MB:100"]
        results[kind + "/ratio_100_10"] = {"real": hundred["real_ms"] / ten["real_ms"],
                                           "cpu": hundred["cpu_ms"] / ten["cpu_ms"]}
    return results


class ProgramsRun:
    """The names of the programs in a folder that were run while it watched:
    an exec opens its program, which inotify reports."""

    IN_OPEN = 0x20
    IN_Q_OVERFLOW = 0x4000
    EVENT = struct.Struct("iIII")  # wd, mask, cookie, length of the name after it

    def __init__(self, folder):
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, os.fsencode(folder), self.IN_OPEN) < 0:
            raise OSError(ctypes.get_errno(), "inotify on " + folder)
        self.folder = folder
        self.names = set()

    def take(self):
        """Reads what the kernel queued; call it between steps, so that the
        queue never fills."""
        while True:
            try:
                data = os.read(self.fd, 1 << 16)
            except BlockingIOError:
                return
            offset = 0
            while offset < len(data):
                _, mask, _, length = self.EVENT.unpack_from(data, offset)
                if mask & self.IN_Q_OVERFLOW:
                    raise RuntimeError("inotify's queue overflowed: the programs run are not known")
                offset += self.EVENT.size
                name = data[offset:offset + length].rstrip(b"\0")
                offset += length
                if name:
                    self.names.add(os.fsdecode(name))

    def not_run(self):
        """The programs of the folder that were not run."""
        self.take()
        os.close(self.fd)
        programs = {name for name in os.listdir(self.folder)
                    if os.path.isfile(os.path.join(self.folder, name))
                    and os.access(os.path.join(self.folder, name), os.X_OK)}
        return sorted(programs - self.names)


def by_hand_smoke(build, cli, watch):
    """The benchmarks make bench leaves to be run by hand, each at its
    smallest; their figures."""
    results = {}
    print("replies ...", flush=True)
    results["replies"] = reply_bench.run(build, devices=1000, seconds=1, rounds=1, packets=20)
    watch.take()
    print("stop ...", flush=True)
    results["stop"] = stop_bench.linux([cli], 1)
    watch.take()
    print("dtls ...", flush=True)
    results["dtls"] = dtls_bench.run(build, cli, devices=200, seconds=4, smoke=True)
    watch.take()
    print("filter memory ...", flush=True)
    done = subprocess.run([os.path.join(build, "bench", "tovrik_filter_memory"), "100"], stdout=subprocess.PIPE,
                          text=True, check=True)
    print(done.stdout, end="")
    results["filter_memory"] = done.stdout
    return results


def unit_ms(unit):
    return {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[unit]


def verdict(ok):
    return "ok" if ok else "MISSED"


def fmt_ms(ms):
    if ms >= 100:
        return "%.0f ms" % ms
    if ms >= 1:
        return "%.2f ms" % ms
    if ms >= 0.001:
        return "%.2f us" % (ms * 1000)
    return "%.0f ns" % (ms * 1e6)


def print_table(results, judged=True):
    gb, imp, send = results["google_benchmark"], results["import"], results["send"]
    misses = []
    print()
    print("== Cutting (CLNBuffer, one Append, FindPacket/TakeFront loop) ==")
    print("  %-8s %14s %18s" % ("size", "cutting loop", "append + cutting"))
    for mb in (1, 10, 100):
        print("  %-8s %14s %18s" % ("%d MB" % mb, fmt_ms(gb["BM_CutPackets/MB:%d" % mb]["real_ms"]),
                                    fmt_ms(gb["BM_AppendAndCut/MB:%d" % mb]["real_ms"])))
    ratio = gb["BM_CutPackets/ratio_100_10"]["real"]
    whole = gb["BM_AppendAndCut/ratio_100_10"]["real"]
    print("  100 MB / 10 MB: cutting loop %.1fx (limit 12x) %s; append + cutting %.1fx" % (ratio, verdict(ratio <= 12), whole))
    if ratio > 12:
        misses.append("cutting ratio")
    tf = results["text_file"]
    print("  tovrik-cli --dry-run --no-modify-time --text-file: 10 MB %.3f s, 100 MB %.3f s: %.1fx (limit 12x) %s" % (
        tf["text_file_10mb_s"], tf["text_file_100mb_s"], tf["ratio"], verdict(tf["ratio"] <= 12)))
    if tf["ratio"] > 12:
        misses.append("text-file cutting ratio")
    print()
    print("== Per message (904-byte status message) ==")
    for name, label in (("BM_ReadImport", "import readings"), ("BM_StampStep", "stamp step"),
                        ("BM_MakeUpStep", "make-up step"), ("BM_RewriteDirectStatus", "fleet, via JSON"),
                        ("BM_SpliceStatus", "fleet splice"), ("BM_SpliceStatusVaried", "splice, 3 values"),
                        ("BM_LinkFaults", "link faults"), ("BM_StrictParseStatus", "strict parse"),
                        ("BM_ReceiveTallyStatus", "receive's tally")):
        print("  %-16s %10s" % (label, fmt_ms(gb[name]["real_ms"])))
    splice_rate = 1000.0 / gb["BM_SpliceStatus"]["cpu_ms"]
    print("  fleet splice: %.2f million status messages a second on one core (at least 1) %s" % (
        splice_rate / 1e6, verdict(splice_rate >= 1e6)))
    if splice_rate < 1e6:
        misses.append("splice rate")
    print()
    print("== Import (tovrik-cli --dry-run --import) ==")
    speedup_ok = imp["speedup"] >= 3
    print("  day  %6.1f MB: tovrik %.3f s, Python loop %.3f s: %.2fx faster (at least 3x) %s" % (
        imp["day_bytes"] / 1e6, imp["cli_s"], imp["python_s"], imp["speedup"], verdict(speedup_ok)))
    print("                 CPU time: tovrik %.2f s, Python %.2f s; kept %d of %d messages that parse" % (
        imp["cli_cpu_s"], imp["python_cpu_s"], imp["cli_kept"], imp["python_parsed"]))
    print("                 without start and end: import %.3f s (fresh memory) / %.3f s (heap warm), "
          "release %.3f s; Python loop %.3f s" % (imp["import_first_s"], imp["import_again_s"], imp["release_s"],
                                                  imp["python_loop_only_s"]))
    if not speedup_ok:
        misses.append("import speed")
    if "week_s" in imp:
        week_ok = imp["week_over_day"] <= 8
        rss_ok = imp["week_rss_over_size"] <= 2.5
        print("  week %6.1f MB, %d runs %d s apart: worst %.3f s = %.1fx the day (at most 8x) %s" % (
            imp["week_bytes"] / 1e6, len(imp["week_runs_s"]), imp["week_pause_s"], max(imp["week_runs_s"]),
            imp["week_over_day"], verdict(week_ok)))
        print("                 each run: %s" % ", ".join(
            "%.3f s = %.1fx" % pair for pair in zip(imp["week_runs_s"], imp["week_runs_over_day"])))
        print("                 CPU time of each run: %s (the day %.3f s)" % (
            ", ".join("%.2f s" % s for s in imp["week_runs_cpu_s"]), imp["cli_cpu_s"]))
        print("                 peak RSS %.0f MB = %.2fx the file (at most 2.5x) %s; day peak RSS %.0f MB" % (
            imp["week_max_rss_bytes"] / 1e6, imp["week_rss_over_size"], verdict(rss_ok),
            imp["day_max_rss_bytes"] / 1e6))
        if not week_ok:
            misses.append("week time")
        if not rss_ok:
            misses.append("week memory")
    else:
        print("  week: not measured")
    print()
    print("== Sending on loopback (lateness against the due second or tick) ==")
    print("  %-12s %9s %9s %12s %10s  %s" % ("mode", "datagrams", "rate/s", "late median", "late max", "target"))
    for row in send:
        if row["mode"].startswith("6"):
            ok = row["rate_per_s"] >= 95
            target = "at least 95/s %s (tick overrun median %.2f ms, max %.2f ms)" % (
                verdict(ok), row["tick_over_median_ms"], row["tick_over_max_ms"])
        elif row["mode"].startswith("4"):
            ok = True
            target = "(tick overrun median %.2f ms, max %.2f ms)" % (row["tick_over_median_ms"], row["tick_over_max_ms"])
        else:
            extra = row.get("seconds_skipped", row.get("missing", 0))
            ok = row["late_max_ms"] is not None and row["late_max_ms"] <= 150 and extra == 0
            target = "all within 150 ms, none skipped %s" % verdict(ok)
        if not ok:
            misses.append("sending " + row["mode"])
        print("  %-12s %9d %9.2f %9.1f ms %7.1f ms  %s" % (
            row["mode"], row["datagrams"], row["rate_per_s"], row["late_median_ms"], row["late_max_ms"], target))
    if "fleet" in results:
        misses += fleet_bench.print_table(results["fleet"])
    if "receive" in results:
        misses += receive_bench.print_table(results["receive"])
    if "capture" in results and capture_bench.print_table(results["capture"]):
        misses.append("capture import against tshark")
    if "pace" in results:
        misses += pace_bench.print_table(results["pace"])
    print()
    if judged:
        print("targets missed: " + (", ".join(misses) if misses else "none"))
    else:
        print("targets: not judged, the runs are too short for them")
    return misses


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--quick", action="store_true", help="fewer repetitions and rounds, shorter sends")
    ap.add_argument("--no-week", action="store_true", help="leave the week file out")
    ap.add_argument("--fleet", choices=("quick", "full", "off"), default="quick",
                    help="the fleet benchmarks: shorter runs (default), full lengths, or none")
    ap.add_argument("--receive", choices=("quick", "full", "off"), default="quick",
                    help="receiving: 3 s runs (default), 10 s runs and a million devices, or none")
    ap.add_argument("--capture", choices=("quick", "full", "off"), default="quick",
                    help="the capture import: 200,000 datagrams (default), 5 million, or none")
    ap.add_argument("--pace", choices=("quick", "full", "off"), default="quick",
                    help="pacing and the capacity search: 10 s windows, 3 s steps (default), 20 s and 5 s, or none")
    ap.add_argument("--clean", action="store_true", help="delete bench/data afterwards")
    ap.add_argument("--strict", action="store_true", help="exit 1 when a target is missed")
    ap.add_argument("--smoke", action="store_true",
                    help="every benchmark once, briefly, that each runs and gives its figures; overrides --quick, "
                         "--no-week, --fleet, --receive, --capture, --pace and --strict")
    args = ap.parse_args()
    started = time.monotonic()
    form = "smoke" if args.smoke else "quick" if args.quick else "full"
    if args.smoke:
        args.no_week, args.strict = True, False
        args.fleet = args.receive = args.capture = args.pace = "smoke"

    bench_binary = os.path.join(args.build, "bench", "tovrik_bench")
    import_time = os.path.join(args.build, "bench", "tovrik_import_time")
    cli = os.path.join(args.build, "src", "cli", "tovrik-cli")
    for path in (bench_binary, import_time, cli):
        if not os.access(path, os.X_OK):
            sys.exit("%s is missing: build with -DTOVRIK_BUILD_BENCH=ON first (make bench)" % path)

    watch = ProgramsRun(os.path.join(args.build, "bench")) if args.smoke else None
    day = ensure_data("day", DAY_LINES)
    week = None if args.no_week else ensure_data("week", WEEK_LINES, WEEK_ROOM)

    sizes = FORMS[form]
    results = {}
    print("google benchmark ...", flush=True)
    results["google_benchmark"] = google_bench(bench_binary, sizes)
    print("import ...", flush=True)
    results["import"] = import_bench.run(cli, day, week, rounds=sizes["import_rounds"], import_time=import_time)
    print("text files ...", flush=True)
    results["text_file"] = text_file_bench.run_bench(cli, DATA, rounds=sizes["text_rounds"])
    print("sending ...", flush=True)
    results["send"] = send_bench.run(cli, seconds=sizes["send_s"])
    if args.fleet != "off":
        # The smoke round also runs benchmark 8's smallest form, its
        # namespace, echo and floor included; its full form is by hand.
        results["fleet"], _ = fleet_bench.run(args.build, cli, form=args.fleet,
                                              only="1,2,3,5,7,8" if args.smoke else "1,2,3,5,7",
                                              out=os.path.join(args.build, "fleet-bench-%sresults.json" % (
                                                  "smoke-" if args.smoke else "")), table=False)
    if watch:
        watch.take()

    if args.receive != "off":
        print("receiving ...", flush=True)
        results["receive"] = receive_bench.run(args.build, cli, quick=args.receive == "quick",
                                               smoke=args.receive == "smoke")

    if args.capture != "off":
        print("captures ...", flush=True)
        name, datagrams, rounds = CAPTURES[args.capture]
        results["capture"] = capture_bench.run(
            cli, os.path.join(args.build, "bench", "tovrik_capture_floor"), os.path.join(DATA, name), datagrams, rounds)

    if args.pace != "off":
        print("pacing ...", flush=True)
        results["pace"] = pace_bench.run(args.build, cli, form=args.pace, out=os.path.join(
            args.build, "pace-bench-%sresults.json" % ("smoke-" if args.smoke else "")))

    if watch:
        watch.take()
        results.update(by_hand_smoke(args.build, cli, watch))

    with open(os.path.join(args.build, "bench-%sresults.json" % ("smoke-" if args.smoke else "")), "w") as f:
        json.dump(results, f, indent=2)
    misses = print_table(results, judged=not args.smoke)
    if watch:
        not_run = watch.not_run()
        if not_run:
            sys.exit("smoke round: %s built in %s but not run by any step: give each a step here"
                     % (", ".join(not_run), os.path.join(args.build, "bench")))
        print("smoke round: every benchmark program ran and every step gave its figures, in %.0f s"
              % (time.monotonic() - started))

    if args.clean:
        shutil.rmtree(DATA, ignore_errors=True)
    elif week and shutil.disk_usage(DATA).free < WEEK_ROOM:
        os.remove(week)
        print("removed %s: the disk is short of space" % week)
    return 1 if misses and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
