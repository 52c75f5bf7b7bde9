#!/usr/bin/env python3
"""The fleet benchmarks: tovrik-cli --devices N against receivers of our own
on loopback (tovrik_fleet_receiver: recvmmsg, kernel receive timestamps).

    fleet_bench.py --build build-bench [--quick | --smoke] [--only 1,2,3,5,6,7,8] [--nice N] [--drain-us US]
                   [--out FILE]

1. 10,000 devices, mode 0, --spread (60 s; --quick 15 s): nothing missing,
   p99 lateness <= 1 ms, CPU <= 10 % of a core, peak RSS <= 64 MB; then, in
   the same run and each with a receiver of its own, the floor
   (tovrik_fleet_floor: one sendto per datagram on the engine's wake grid,
   nothing else), the floor again sending as many bytes a datagram as the
   fleet did (--bytes, the mean the receiver measured: about 870 with the
   status message and the device info messages; the first floor's are 26), and
   the plain Python loop (py_fleet_loop.py) on the same schedule.
2. 100,000 devices, mode 0, --spread, as six shards (--shard K/6), shard K
   bound to 127.0.1.(K+1): p99 <= 5 ms, the six together <= one core.
3. 1,000 devices, mode 6 (10 ms), --spread, a message file of numbered status
   messages (30 s; --quick 10 s): 100,000 datagrams/s, the total within 0.1 %
   of the ideal, p99 <= 2 ms.
5. 18,000 devices, mode 0, --spread, one process, 10 minutes (--quick 2):
   RSS and threads sampled from /proc/PID/status every 10 s; flat = the last
   sample within 5 % (threads: equal) of the first after warm-up.
6. 1,000,000 devices, mode 2 (once a minute), --spread, as the fewest shards
   tovrik-cli accepts here (the descriptor limit: 51 of 19,608 at a hard
   limit of 20,000), shard K bound to 127.0.1.(K+1), 3 minutes (--quick:
   100,000 devices, 70 s): none missing, p99 <= 5 ms, all shards together
   <= half a core; total RSS and the kernel's socket memory (/proc/net/sockstat
   and the slab, before and during); then the floor, sharded alike, on the
   same grid, at 26 bytes a datagram and at the fleet's own bytes: RSS
   <= 1.5x the latter's; and where one shard's memory goes (rss_parts: one
   process of 1 and of a shard's devices, fixed part and bytes a device).
   Not in the default set: --only 6.
7. Traffic: 10,000 devices, mode 0, --spread, in one run, each against a
   receiver of its own: the plain fleet, the fleet with three generated
   values (--vary), the same with loss, duplicates and jitter on, in turn
   and three rounds over, the floor after the first (each CPU the median of
   its rounds): generated values <= 1.1x the plain fleet's CPU, values and
   faults <= 1.2x.
8. Replies: the fleet of benchmark 6 (--quick: 100,000 devices; --smoke:
   1,000 once a second) with --replies, answered by one tovrik-cli receive
   --answer echo; again with --answer-delay 'normal(20ms,5ms)' --answer-drop
   1%; without --replies; then the floor reading the replies (--rtt-out:
   their round trips) and sending only, each 3 minutes after every device's
   first check, all in a network namespace of the benchmark's own whose UDP
   socket table has 65,536 buckets (udp_namespace), net.ipv4.udp_mem raised
   for a page a socket; the receiver runs ahead of the fleet (nice -10).
   Targets: none lost but what receive dropped on purpose, fleet and
   receiver together <= one core, round trip p99 <= 2x the floor's, the
   fleet's CPU with replies over without <= 1.15x the floor's same ratio.
   Not in the default set: --only 8.
(4, the splice, is the Google Benchmark case BM_SpliceStatus in tovrik_bench;
BM_SpliceStatusVaried the same with three generated values.)

--smoke runs each of them once with 2 s windows (benchmark 7 one round, 6 as
--quick): it shows that everything runs and gives its figures, too short for
the targets to mean anything.

The receivers empty their sockets every --drain-us (default 1 ms) rather
than block on them: on loopback a receiver blocked on its socket is woken by
the sender, on nearly every datagram and in the sender's system time, which a
server on another machine would not cost it. --drain-us 0 blocks.

Lateness is the kernel's receive timestamp minus the datagram's scheduled
instant: in mode 0 the whole second plus k * 1 s / N for device k; in mode 6
the run's own grid, start + k * 10 ms / N + (i + 1) * 10 ms for packet i
(its packnum less 1), with the run's start taken from
the earliest device info message. Only
instants inside the measured window count (it starts a few seconds after the
launch, once every socket is open). CPU is utime + stime from /proc/PID/stat
over the window (the whole run's also, from wait4), peak RSS the kernel's
VmHWM, read until the process ends. The JSON goes to --out (default BUILD/fleet-bench-results.json).
"""

import argparse
import contextlib
import json
import math
import os
import resource
import socket
import subprocess
import sys
import tempfile
import threading
import time

from reply_bench import free_port

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TICKS = os.sysconf("SC_CLK_TCK")
IMEI_FIRST = 860000000000000
RMEM_WANTED = 256 << 20
# A receive buffer of 256 MiB holds some 100,000 status messages: a second of
# the largest fleet here, which also sends its first checks and device info
# messages in the second after its start.


@contextlib.contextmanager
def sysctl_raised(path, wanted):
    """Raises the figures of a /proc/sys file to WANTED where they are
    lower, when its first one is (as root), restoring them afterwards.
    Yields {"before": figures, "raised": figures or None}; None where the
    file cannot be read."""
    try:
        with open(path) as f:
            before = [int(value) for value in f.read().split()]
    except OSError:
        yield None
        return
    raised = None
    if before[0] < wanted[0] and os.geteuid() == 0:
        try:
            with open(path, "w") as f:
                f.write(" ".join(str(max(b, w)) for b, w in zip(before, wanted)))
            raised = [max(b, w) for b, w in zip(before, wanted)]
        except OSError:
            pass
    try:
        yield {"before": before, "raised": raised}
    finally:
        if raised:
            with open(path, "w") as f:
                f.write(" ".join(map(str, before)))


def rmem_max_raised(wanted=RMEM_WANTED):
    """net.core.rmem_max raised for the receivers' SO_RCVBUF (they also
    force the size past it as root)."""
    return sysctl_raised("/proc/sys/net/core/rmem_max", [wanted])


def proc_cpu_s(pid):
    """(utime, stime) of a live process, in seconds (None once it is gone)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return int(fields[11]) / TICKS, int(fields[12]) / TICKS


def proc_status(pid):
    """VmRSS, VmHWM, RssAnon, RssFile (kB) and Threads of a live process."""
    out = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "VmHWM", "RssAnon", "RssFile", "Threads"):
                    out[key] = int(value.split()[0])
    except OSError:
        pass
    return out


class Child:
    """A process of the benchmark, reaped with wait4 for its rusage."""

    def __init__(self, cmd, stderr_path=None):
        self.cmd = cmd
        self.stderr_path = stderr_path
        with open(stderr_path or os.devnull, "w") as err:
            self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.pid = self.proc.pid
        self.started = time.time()
        self.hwm_kb = 0
        self.rusage = None
        self.status = None

    def sample(self):
        status = proc_status(self.pid)
        self.hwm_kb = max(self.hwm_kb, status.get("VmHWM", 0))
        return status

    def wait(self, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.sample()
            pid, status, usage = os.wait4(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                self.status, self.rusage = self.proc.returncode, usage
                return self.status
            time.sleep(0.05)
        self.proc.kill()
        _, status, self.rusage = os.wait4(self.pid, 0)
        self.proc.returncode = self.status = os.waitstatus_to_exitcode(status)
        raise RuntimeError("%s did not end in time" % " ".join(self.cmd[:6]))

    def figures(self):
        # Peak RSS from VmHWM: wait4's ru_maxrss also counts the forking
        # Python's pages from before the exec.
        usage = self.rusage
        return {"cpu_s": usage.ru_utime + usage.ru_stime, "max_rss_kb": self.hwm_kb,
                "wall_s": time.time() - self.started, "exit": self.status}


def start_receiver(args, workdir, name, devices, window, period_ms=1000, schedule=()):
    out = os.path.join(workdir, name + ".json")
    cmd = [os.path.join(args.build, "bench", "tovrik_fleet_receiver"), "--devices", str(devices), "--imei-first",
           str(IMEI_FIRST), "--period-ms", str(period_ms), "--window-start", "%.3f" % window[0],
           "--window-end", "%.3f" % window[1], "--rcvbuf", str(RMEM_WANTED), "--drain-us", str(args.drain_us),
           "--out", out]
    cmd += list(schedule)
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().split()
    if len(line) != 2 or line[0] != "port":
        proc.kill()
        raise RuntimeError("the receiver did not start: %r" % line)
    return proc, int(line[1]), out


def finish_receiver(proc, out):
    proc.wait(timeout=30)
    proc.stdout.close()
    if proc.returncode != 0:
        raise RuntimeError("the receiver failed (%d)" % proc.returncode)
    with open(out) as f:
        return json.load(f)


def plan(warmup, seconds):
    """The measured window: whole seconds, from warm-up after now."""
    start = math.ceil(time.time() + warmup)
    return (start, start + seconds)


def sleep_until(instant):
    delay = instant - time.time()
    if delay > 0:
        time.sleep(delay)


def shard_address(k):
    """The loopback address shard K sends from: each has the whole ephemeral
    port range to itself."""
    return "127.0.1.%d" % (k + 1)


def fleet_cmd(cli, port, devices, mode, stop_after, stats, extra=()):
    """Mode None leaves -m out, for the runs paced by --rate (which excludes it)."""
    return [cli, "-t", "127.0.0.1", "-p", str(port)] + ([] if mode is None else ["-m", str(mode)]) + [
        "--devices", str(devices), "--imei-first", str(IMEI_FIRST), "--spread", "-q", "--stop-after",
        "%.1f" % stop_after, "--stats-json", stats] + list(extra)


def measure(children, window, sample_every=None, on_sample=None):
    """CPU of the children over the window, in cores, user and system each;
    samples their status on the way."""
    sleep_until(window[0])
    cpu0 = [proc_cpu_s(c.pid) for c in children]
    if sample_every:
        t = window[0]
        while t + sample_every <= window[1] + 1e-6:
            t += sample_every
            sleep_until(t)
            on_sample(t - window[0], [c.sample() for c in children])
    sleep_until(window[1])
    cpu1 = [proc_cpu_s(c.pid) for c in children]
    for c in children:
        c.sample()
    if None in cpu0 or None in cpu1:
        raise RuntimeError("a sender ended inside the measured window")
    span = float(window[1] - window[0])
    return [((b[0] - a[0]) / span, (b[1] - a[1]) / span) for a, b in zip(cpu0, cpu1)]


def read_stats(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def receiver_row(report):
    late = report["late_ms"]
    return {"expected": report["expected"], "received": report["scheduled"] - report["duplicates"],
            "missing": report["missing"], "devices_missing": report["devices_missing"],
            "duplicates": report["duplicates"], "sources": report["sources"], "source_ports": report["source_ports"],
            "late_p50_ms": late["p50"], "late_p99_ms": late["p99"], "late_max_ms": late["max"],
            "receiver_socket_drops": report["socket_drops"], "udp_rcvbuf_errors": report["udp_snmp"]["rcvbuf_errors"],
            "receiver_cpu_s": report["receiver_cpu_s"],
            "bytes_per_datagram": report["bytes"] / report["datagrams"] if report["datagrams"] else 0}


def run_children(window, launch, finish, others=(), wait_s=30, sample_every=None, on_sample=None):
    """Starts the senders (launch(stop_after) gives them as Child objects),
    measures their CPU and the others' over the window, waits for them,
    kills what is left, calls finish() (the receiver's end) and fails on a
    sender that did not exit 0. Answers (cpu, senders, finish's result)."""
    children = []
    try:
        children.extend(launch(window[1] + 0.5 - time.time()))
        cpu = measure(children + list(others), window, sample_every, on_sample)
        for c in children:
            c.wait(wait_s)
    finally:
        for c in children:
            if c.status is None:
                c.proc.kill()
        result = finish()
    for c in children:
        if c.status != 0:
            with open(c.stderr_path) as f:
                raise RuntimeError("%s exited %d: %s" % (" ".join(c.cmd), c.status, f.read()[-2000:]))
    return cpu, children, result


def run_fleet(args, workdir, name, devices, mode, seconds, warmup, period_ms=1000, schedule=(), shards=1,
              extra=(), sample_every=None, on_sample=None):
    """One fleet (in `shards` processes) against one receiver."""
    window = plan(warmup, seconds)
    receiver, port, out = start_receiver(args, workdir, name, devices, window, period_ms, schedule)
    stats_files = [os.path.join(workdir, "%s-%d.stats.json" % (name, k)) for k in range(shards)]

    def launch(stop_after):
        for k in range(shards):
            shard = ["--shard", "%d/%d" % (k, shards), "--bind", shard_address(k)] if shards > 1 else []
            yield Child(fleet_cmd(args.cli, port, devices, mode, stop_after, stats_files[k], list(extra) + shard),
                        os.path.join(workdir, "%s-%d.err" % (name, k)))

    cpu, children, report = run_children(window, launch, lambda: finish_receiver(receiver, out),
                                         sample_every=sample_every, on_sample=on_sample)
    row = receiver_row(report)
    row["receiver"] = report
    figures = [c.figures() for c in children]
    stats = [read_stats(s) for s in stats_files]
    row.update({
        "devices": devices, "mode": mode, "shards": shards, "window_s": seconds,
        "cpu_core": sum(u + s for u, s in cpu), "cpu_core_per_shard": [u + s for u, s in cpu],
        "cpu_user_core": sum(u for u, _ in cpu), "cpu_system_core": sum(s for _, s in cpu),
        "cpu_s_whole_run": sum(f["cpu_s"] for f in figures),
        "peak_rss_mb": max(f["max_rss_kb"] for f in figures) / 1024.0,
        "peak_rss_mb_per_shard": [f["max_rss_kb"] / 1024.0 for f in figures],
        "peak_rss_mb_total": sum(f["max_rss_kb"] for f in figures) / 1024.0,
        "sent": sum(s["sent"] for s in stats if s), "send_errors": sum(s["send_errors"] for s in stats if s),
        "sender_late_p99_ms": max((s["lateness_ms"]["p99"] for s in stats if s), default=None),
        "threads": [s.get("threads") for s in stats if s],
        # The sender's own worst seconds (its lateness against its schedule),
        # to tell a stall of the whole machine from a late receiver.
        "sender_worst_seconds": sorted(({"t": e["t"], "max_ms": e["max_ms"], "p99_ms": e["p99_ms"]}
                                        for st in stats if st for e in st.get("series", [])),
                                       key=lambda e: -e["max_ms"])[:5],
    })
    row["rate_per_s"] = row["received"] / float(seconds)
    return row


def run_loop(args, workdir, seconds, name, cmd, devices=10000, period_ms=1000, shards=1, warmup=3, sample_every=None,
             on_sample=None):
    """A comparison sender (cmd, given --port P --devices N --imei-first F
    --seconds S, and --period-ms, --shard K/M and --bind ADDR where they are
    not benchmark 1's) on a fleet's schedule against a receiver of its own."""
    window = plan(warmup, seconds)
    receiver, port, out = start_receiver(args, workdir, name, devices, window, period_ms)
    period = ["--period-ms", str(period_ms)] if period_ms != 1000 else []

    def launch(stop_after):
        for k in range(shards):
            shard = ["--shard", "%d/%d" % (k, shards), "--bind", shard_address(k)] if shards > 1 else []
            yield Child(cmd + ["--port", str(port), "--devices", str(devices), "--imei-first", str(IMEI_FIRST),
                               "--seconds", "%.1f" % stop_after] + period + shard,
                        os.path.join(workdir, "%s-%d.err" % (name, k)))

    cpu, loops, report = run_children(window, launch, lambda: finish_receiver(receiver, out),
                                      sample_every=sample_every, on_sample=on_sample)
    row = receiver_row(report)
    row["receiver"] = report
    figures = [loop.figures() for loop in loops]
    row.update({"cpu_core": sum(u + s for u, s in cpu), "cpu_user_core": sum(u for u, _ in cpu),
                "cpu_system_core": sum(s for _, s in cpu), "cpu_s_whole_run": sum(f["cpu_s"] for f in figures),
                "peak_rss_mb": max(f["max_rss_kb"] for f in figures) / 1024.0,
                "peak_rss_mb_total": sum(f["max_rss_kb"] for f in figures) / 1024.0,
                "window_s": seconds, "shards": shards})
    return row


def bench_one(args, workdir, seconds):
    row = run_fleet(args, workdir, "b1-tovrik", 10000, 0, seconds, warmup=3)
    # The floor: the engine's system calls on its grid and nothing else; then
    # the plain Python loop on the same schedule.
    floor = [os.path.join(args.build, "bench", "tovrik_fleet_floor")]
    row["floor"] = run_loop(args, workdir, seconds, "b1-floor", floor)
    # The same floor sending as many bytes a datagram as the fleet did: what
    # the bytes cost, apart from what the engine costs.
    row["floor_bytes"] = run_loop(args, workdir, seconds, "b1-floor-bytes",
                                  floor + ["--bytes", str(round(row["bytes_per_datagram"]))])
    row["python"] = run_loop(args, workdir, seconds, "b1-python",
                             [sys.executable, os.path.join(HERE, "py_fleet_loop.py")])
    row["ok"] = {"missing": row["missing"] == 0, "p99": row["late_p99_ms"] <= 1.0, "cpu": row["cpu_core"] <= 0.10,
                 "rss": row["peak_rss_mb"] <= 64}
    return row


def bench_two(args, workdir, seconds):
    row = run_fleet(args, workdir, "b2", 100000, 0, seconds, warmup=4, shards=6)
    row["ok"] = {"missing": row["missing"] == 0, "p99": row["late_p99_ms"] <= 5.0, "cpu": row["cpu_core"] <= 1.0}
    return row


def bench_three(args, workdir, seconds):
    # The fast modes end after the last packet: one a tick for the whole run,
    # numbered by their packnum from 1 on.
    messages = os.path.join(workdir, "b3-messages.txt")
    subprocess.run([sys.executable, os.path.join(HERE, "gen_messages.py"), "--count", str(100 * (seconds + 10)),
                    "--no-imei-every", "0", "--broken-every", "0", "--out", messages],
                   check=True, stderr=subprocess.DEVNULL)
    # Packet i of device k is due at the run's start + k * 10 ms / N
    # + (i + 1) * 10 ms; the start is the earliest device info message less
    # its offset, and i the packnum less 1.
    schedule = ["--phase", "start", "--spread", "--lead-ms", "10", "--sequence", "packnum", "--sequence-first", "1"]
    row = run_fleet(args, workdir, "b3", 1000, 6, seconds, warmup=2, period_ms=10, schedule=schedule,
                    extra=["--text-file", messages])
    ideal = 1000 * seconds * 100
    row["ideal"] = ideal
    row["off_ideal"] = (row["received"] - ideal) / float(ideal)
    row["ok"] = {"rate": row["rate_per_s"] >= 0.999 * 100000, "total": abs(row["off_ideal"]) <= 0.001,
                 "p99": row["late_p99_ms"] <= 2.0}
    return row


def bench_five(args, workdir, seconds):
    samples = []
    warmup_s = 30 if seconds >= 300 else 20

    def on_sample(t, statuses):
        status = statuses[0]
        samples.append({"t": round(t), "rss_kb": status.get("VmRSS"), "threads": status.get("Threads")})

    # A sample a second in windows too short for ten.
    row = run_fleet(args, workdir, "b5", 18000, 0, seconds, warmup=3, sample_every=10 if seconds >= 20 else 1,
                    on_sample=on_sample)
    after = next((s for s in samples if s["t"] >= warmup_s), samples[0])
    last = samples[-1]
    row.update({"samples": samples, "warmup_s": warmup_s, "rss_after_warmup_kb": after["rss_kb"],
                "rss_last_kb": last["rss_kb"], "threads_after_warmup": after["threads"], "threads_last": last["threads"]})
    row["rss_growth"] = (last["rss_kb"] - after["rss_kb"]) / float(after["rss_kb"])
    row["ok"] = {"rss_flat": abs(row["rss_growth"]) <= 0.05, "threads_flat": last["threads"] == after["threads"],
                 "missing": row["missing"] == 0}
    return row


def kernel_memory(net="/proc/net"):
    """The kernel's socket figures: NET/sockstat (UDP mem in pages of
    queued buffers; NET the /proc folder of a network namespace's figures),
    the slab, where the sockets themselves live, and vmalloc, where socket
    filters do."""
    out = {}
    with open(os.path.join(net, "sockstat")) as f:
        for line in f:
            key, _, rest = line.partition(":")
            fields = rest.split()
            out[key.strip()] = {fields[i]: int(fields[i + 1]) for i in range(0, len(fields) - 1, 2)}
    with open("/proc/meminfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("Slab", "SUnreclaim", "VmallocUsed"):
                out[key + "_kb"] = int(value.split()[0])
    return out


def shards_for(cli, devices, mode):
    """The fewest shards whose largest tovrik-cli accepts here: its --dry-run
    checks the descriptors and ports one process needs."""
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    shards = max(1, -(-devices // hard))
    while shards <= devices:
        largest = -(-devices // shards)
        done = subprocess.run([cli, "--devices", str(largest), "--bind", shard_address(0), "-m", str(mode),
                               "--spread", "-q", "--dry-run"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, check=False)
        if done.returncode == 0:
            return shards
        if done.returncode != 1:
            raise RuntimeError("tovrik-cli --dry-run exited %d: %s" % (done.returncode, done.stderr))
        shards += 1
    raise RuntimeError("no shard size fits")


# Benchmark 6 starts measuring once every device has had its first check:
# the shards open their sockets (this long at most; 100,000 took 2.3 s here
# with other builds running), then device k sends its device info message
# k/N of a minute later and is on its grid from its first check on, 0.1 s
# after that.
SIX_OPEN_S_PER_DEVICE = 1 / 25000.0
SIX_MIN_OPEN_S = 5


def rss_parts(args, workdir, devices, seconds=4):
    """Where a shard's memory goes: one process of 1 and of DEVICES devices
    once a minute, without and with --replies, and the floor of 1 and DEVICES
    devices at 26 bytes and at the status message's 904, each sending for
    SECONDS to a socket nobody reads, its memory read a second before its
    end: anonymous (its own: fixed, the 1-device figure, and bytes a device)
    and file-backed (the program and libraries, the same pages in every
    shard, which a sum of RSS counts once a shard), and its peak RSS."""
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    port = sink.getsockname()[1]
    floor = os.path.join(args.build, "bench", "tovrik_fleet_floor")
    runs = {}
    try:
        for n in (1, devices):
            commands = {
                "fleet": fleet_cmd(args.cli, port, n, 2, seconds, os.path.join(workdir, "rss.json")),
                "replies": fleet_cmd(args.cli, port, n, 2, seconds, os.path.join(workdir, "rss.json"), ["--replies"]),
                "floor": [floor, "--port", str(port), "--devices", str(n), "--period-ms", "60000", "--seconds",
                          str(seconds)],
                "floor904": [floor, "--port", str(port), "--devices", str(n), "--period-ms", "60000", "--seconds",
                             str(seconds), "--bytes", "904"]}
            for name, cmd in commands.items():
                child = Child(cmd)
                time.sleep(seconds - 1)
                status = child.sample()
                child.wait(60)
                runs[(name, n)] = (status.get("RssAnon", 0), status.get("RssFile", 0), child.hwm_kb)
    finally:
        sink.close()
    parts = {"devices": devices}
    for name in ("fleet", "replies", "floor", "floor904"):
        (anon1, file1, _), (anon, file_kb, peak) = runs[(name, 1)], runs[(name, devices)]
        parts[name] = {"anon_fixed_mb": anon1 / 1024.0, "per_device_b": (anon - anon1) * 1024.0 / (devices - 1),
                       "file_mb": file_kb / 1024.0, "peak_mb": peak / 1024.0}
    return parts


def bench_six(args, workdir, seconds):
    devices = 1000000 if args.form == "full" else 100000
    shards = shards_for(args.cli, devices, 2)
    open_s = max(SIX_MIN_OPEN_S, math.ceil(devices * SIX_OPEN_S_PER_DEVICE))
    opened = {}

    def watch_sockets(started, wanted):
        # Every device socket is bound, so counted in UDP inuse.
        while time.time() - started < open_s + 120:
            if kernel_memory()["UDP"]["inuse"] >= wanted:
                opened["s"] = time.time() - started
                return
            time.sleep(0.2)

    def midway(during):
        def on_sample(t, statuses):
            if not during and t >= seconds / 2.0:
                during.update(kernel_memory())
        return on_sample

    def kernel_row(before, during):
        growth = {key: during.get(key, 0) - before[key] for key in ("Slab_kb", "VmallocUsed_kb")}
        return {"before": before, "during": during, "slab_mb": growth["Slab_kb"] / 1024.0,
                "vmalloc_mb": growth["VmallocUsed_kb"] / 1024.0,
                "kb_per_socket": (growth["Slab_kb"] + growth["VmallocUsed_kb"]) / float(devices)}

    before, during = kernel_memory(), {}
    watcher = threading.Thread(target=watch_sockets, args=(time.time(), before["UDP"]["inuse"] + devices),
                               daemon=True)
    watcher.start()
    row = run_fleet(args, workdir, "b6", devices, 2, seconds, warmup=open_s + 61, period_ms=60000, shards=shards,
                    sample_every=10, on_sample=midway(during))
    watcher.join()
    row["sockets_open_s"] = opened.get("s")
    row["kernel"] = kernel_row(before, during)
    before, during = kernel_memory(), {}
    floor = [os.path.join(args.build, "bench", "tovrik_fleet_floor")]
    row["floor"] = run_loop(args, workdir, seconds, "b6-floor", floor, devices=devices, period_ms=60000,
                            shards=shards, warmup=open_s + 2, sample_every=10, on_sample=midway(during))
    row["floor"]["kernel"] = kernel_row(before, during)
    # The floor again, each datagram as many bytes as the fleet's.
    before, during = kernel_memory(), {}
    row["floor_bytes"] = run_loop(args, workdir, seconds, "b6-floor-bytes",
                                  floor + ["--bytes", str(round(row["bytes_per_datagram"]))], devices=devices,
                                  period_ms=60000, shards=shards, warmup=open_s + 2, sample_every=10,
                                  on_sample=midway(during))
    row["floor_bytes"]["kernel"] = kernel_row(before, during)
    row["rss_parts"] = rss_parts(args, workdir, -(-devices // shards))
    # p99 as the receiver measured the window (kernel timestamps against each
    # datagram's instant), as in benchmarks 1 to 3; the shards' own figure
    # (--stats-json) also covers their start.
    row["ok"] = {"missing": row["missing"] == 0, "p99": row["late_p99_ms"] <= 5.0, "cpu": row["cpu_core"] <= 0.5,
                 "warm-up": row["sockets_open_s"] is not None and row["sockets_open_s"] <= open_s,
                 "rss": row["peak_rss_mb_total"] <= 1.5 * row["floor_bytes"]["peak_rss_mb_total"]}
    return row


# Benchmark 8: the fleet of benchmark 6 answered by tovrik-cli receive
# --answer echo, by form: devices, mode and its period.
EIGHT = {"full": (1000000, 2, 60000), "quick": (100000, 2, 60000), "smoke": (1000, 0, 1000)}
EIGHT_DELAYED = ["--answer-delay", "normal(20ms,5ms)", "--answer-drop", "1%"]


@contextlib.contextmanager
def udp_namespace(buckets=65536):
    """A network namespace of the benchmark's own (as root), its loopback up
    and its UDP socket table of BUCKETS buckets: the kernel looks up the
    socket of every datagram that arrives in that table, walking all of a
    bucket's sockets, and the one it sizes at boot here has 16,384, some 61
    sockets a bucket at a million. Yields the prefix that runs a program in
    it and the /proc folder of its network figures; without root, no prefix
    and the machine's own."""
    path = "/proc/sys/net/ipv4/udp_child_hash_entries"
    if os.geteuid() != 0 or not os.path.exists(path):
        yield [], "/proc/net", None
        return
    with open(path) as f:
        before = f.read().strip()
    with open(path, "w") as f:
        f.write(str(buckets))
    # The namespace takes the size when it is made.
    holder = subprocess.Popen(["unshare", "-n", "sleep", "infinity"], stderr=subprocess.DEVNULL)
    try:
        own = os.readlink("/proc/self/ns/net")
        while holder.poll() is None and os.readlink("/proc/%d/ns/net" % holder.pid) == own:
            time.sleep(0.05)
        with open(path, "w") as f:
            f.write(before)
        prefix = ["nsenter", "-t", str(holder.pid), "-n", "--"]
        if holder.poll() is not None or subprocess.run(prefix + ["ip", "link", "set", "lo", "up"],
                                                       check=False).returncode != 0:
            print("  (no network namespace of its own here: in the machine's)", flush=True)
            yield [], "/proc/net", None
        else:
            yield prefix, "/proc/%d/net" % holder.pid, buckets
    finally:
        holder.kill()
        holder.wait()
        with open(path, "w") as f:
            f.write(before)


def udp_mem_raised(pages):
    """net.ipv4.udp_mem raised so that PAGES more fit under its first figure,
    in the kernel's own proportions: the kernel keeps a page for every
    socket a reply has reached, and past the first figure every UDP socket
    with data waiting drops what reaches it."""
    low = kernel_memory()["UDP"]["mem"] + pages
    low += low // 10
    return sysctl_raised("/proc/sys/net/ipv4/udp_mem", [low, low // 3 * 4, low * 2])


class EchoReceiver:
    """tovrik-cli receive --answer echo on 127.0.0.1, its figures from
    --stats-json once it is stopped as a user would (SIGINT). As root it
    runs ahead of the fleet (nice -10): it stands for a server on a machine
    of its own, which the shards opening a million sockets on the same two
    cores would otherwise starve for tens of seconds."""

    def __init__(self, args, workdir, name, extra=(), prefix=()):
        self.port = free_port()
        self.stats = os.path.join(workdir, name + "-receive.json")
        ahead = ["nice", "-n", "-10"] if os.geteuid() == 0 else []
        self.child = Child(list(prefix) + ahead + [args.cli, "receive", "-l", "127.0.0.1:%d" % self.port, "--answer", "echo", "-q",
                            "--seed", "1", "--stats-json", self.stats] + list(extra),
                           os.path.join(workdir, name + "-receive.err"))
        time.sleep(0.5)

    def finish(self):
        if self.child.status is None:
            self.child.proc.send_signal(2)
            self.child.wait(120)
        if self.child.status != 0:
            raise RuntimeError("tovrik-cli receive exited %s" % self.child.status)
        return read_stats(self.stats)


def merged_quantiles(counts):
    """p50, p99 and max (ms) of (value in ms, count) pairs."""
    counts = sorted(counts)
    total = sum(c for _, c in counts)
    out = {"count": total}
    for name, q in (("p50", 0.5), ("p99", 0.99)):
        rank, seen = q * total, 0
        out[name] = None
        for value, c in counts:
            seen += c
            if seen >= rank:
                out[name] = value
                break
    out["max"] = counts[-1][0] if counts else None
    return out


def run_answered(args, workdir, name, sizes, open_s, sender, receive_extra=(), namespace=([], "/proc/net")):
    """One fleet (or floor) in shards against one echo, in the namespace
    (prefix, net); sender(k, port, stop_after) gives shard K's command and
    its figures' file."""
    devices, shards, period_ms, seconds = sizes
    prefix, net = namespace
    window = plan(open_s + (period_ms / 1000.0 + 1 if period_ms > 1000 else 3), seconds)
    receiver = EchoReceiver(args, workdir, name, receive_extra, prefix)
    before, during = kernel_memory(net), {}

    def on_sample(t, statuses):
        if not during and t >= seconds / 2.0:
            during.update(kernel_memory(net))

    files = []

    def launch(stop_after):
        for k in range(shards):
            cmd, path = sender(k, receiver.port, stop_after, window)
            files.append(path)
            yield Child(prefix + cmd, os.path.join(workdir, "%s-%d.err" % (name, k)))

    cpu, children, received = run_children(window, launch, receiver.finish, others=[receiver.child], wait_s=120,
                                           sample_every=min(10, seconds), on_sample=on_sample)
    figures = [c.figures() for c in children]
    udp = {key: during.get("UDP", {}).get(key, 0) - before["UDP"][key] for key in ("inuse", "mem")}
    return {
        "cpu_core": sum(u + s for u, s in cpu[:-1]), "cpu_system_core": sum(s for _, s in cpu[:-1]),
        "receiver_cpu_core": sum(cpu[-1]), "receiver_system_core": cpu[-1][1],
        "peak_rss_mb_total": sum(f["max_rss_kb"] for f in figures) / 1024.0,
        "receiver_rss_mb": receiver.child.hwm_kb / 1024.0,
        "udp_pages_per_socket": udp["mem"] / float(udp["inuse"]) if udp["inuse"] else None,
        "receiver": {k: received[k] for k in ("datagrams", "kernel_drops", "answers_sent", "answers_dropped",
                                              "answers_not_queued", "answer_errors", "cpu_seconds")},
        "files": [read_stats(path) for path in files], "window": window, "window_s": seconds, "shards": shards}


def bench_eight(args, workdir, seconds):
    devices, mode, period_ms = EIGHT[args.form]
    shards = shards_for(args.cli, devices, mode)
    sizes = (devices, shards, period_ms, seconds)
    open_s = max(SIX_MIN_OPEN_S, math.ceil(devices * SIX_OPEN_S_PER_DEVICE)) if devices > 10000 else 0
    floor = os.path.join(args.build, "bench", "tovrik_fleet_floor")

    def fleet(replies):
        def sender(k, port, stop_after, window):
            stats = os.path.join(workdir, "b8-%d-%d.stats.json" % (replies, k))
            shard = ["--shard", "%d/%d" % (k, shards), "--bind", shard_address(k)] if shards > 1 else []
            return fleet_cmd(args.cli, port, devices, mode, stop_after, stats,
                             shard + (["--replies"] if replies else [])), stats
        return sender

    def floor_loop(replies):
        def sender(k, port, stop_after, window):
            rtt = os.path.join(workdir, "b8-floor-%d-%d.rtt.json" % (replies, k))
            shard = ["--shard", "%d/%d" % (k, shards), "--bind", shard_address(k)] if shards > 1 else []
            return [floor, "--port", str(port), "--devices", str(devices), "--imei-first", str(IMEI_FIRST),
                    "--period-ms", str(period_ms), "--seconds", "%.1f" % stop_after] + shard + (
                        ["--rtt-out", rtt, "--rtt-from", "%.3f" % window[0]] if replies else []), rtt
        return sender

    def matched(row):
        """The whole run's figures, and the window's from the shards' seconds
        that end in it: its round trip p99 as the worst second's, which
        bounds it from above."""
        files = row.pop("files")
        m = [f["reply_matching"] for f in files]
        seconds_in = [e for f in files for e in f["series"]
                      if row["window"][0] < f["start_unix_ms"] / 1000.0 + e["t"] <= row["window"][1]]
        row.update({"sent": sum(f["sent"] for f in files), "matched": sum(x["matched"] for x in m),
                    "lost": sum(x["lost"] for x in m),
                    "late": sum(x["late"] for x in m), "unmatched": sum(x["unmatched"] for x in m),
                    "rtt_ms": merged_quantiles([((lo + hi) / 2e6, c) for x in m for lo, hi, c in x["rtt_histogram_ns"]]),
                    "shard_rtt_p99_ms": sorted(x["rtt_ms"]["p99"] for x in m),
                    "window_figures": {key: sum(e[key] for e in seconds_in) for key in ("sent", "matched", "lost", "late")}})
        row["window_figures"]["rtt_p99_ms_at_most"] = max((e["rtt_p99_ms"] for e in seconds_in), default=None)
        return row

    row = {"devices": devices, "shards": shards, "window_s": seconds}
    with udp_namespace() as (prefix, net, buckets), udp_mem_raised(devices) as udp_mem:
        row["udp_mem"], row["udp_table_buckets"] = udp_mem, buckets
        for key, sender, extra in (("echo", fleet(True), ()), ("delayed", fleet(True), EIGHT_DELAYED),
                                   ("plain", fleet(False), ()), ("floor_read", floor_loop(True), ()),
                                   ("floor", floor_loop(False), ())):
            print("  8: %s ..." % key, flush=True)
            run = run_answered(args, workdir, "b8-" + key, sizes, open_s, sender, extra, (prefix, net))
            if key.startswith("floor"):
                rtt = [f for f in run.pop("files") if f]
                run["rtt_ms"] = merged_quantiles([((us + 0.5) / 1000.0, c) for f in rtt for us, c in f["rtt_us"]])
            elif key == "plain":
                run["sent"] = sum(f["sent"] for f in run.pop("files"))
            else:
                matched(run)
            row[key] = run
    echo, delayed = row["echo"], row["delayed"]
    ratio = echo["cpu_core"] / row["plain"]["cpu_core"]
    floor_ratio = row["floor_read"]["cpu_core"] / row["floor"]["cpu_core"]
    row["replies_cpu_ratio"], row["floor_cpu_ratio"] = ratio, floor_ratio
    # The floor counts only the window's replies; the fleet's worst second
    # in the window bounds its p99 there.
    floor_p99 = row["floor_read"]["rtt_ms"]["p99"]
    fleet_p99 = echo["window_figures"]["rtt_p99_ms_at_most"]
    row["ok"] = {
        "lost": echo["lost"] == 0 and delayed["lost"] == delayed["receiver"]["answers_dropped"],
        "one core": all(r["cpu_core"] + r["receiver_cpu_core"] <= 1.0 for r in (echo, delayed)),
        "rtt p99": floor_p99 is not None and fleet_p99 is not None and fleet_p99 <= 2 * floor_p99,
        "cpu ratio": ratio <= 1.15 * floor_ratio}
    return row


# Benchmark 7's traffic: three generated values, then faults on top.
TRAFFIC_VALUES = ["--vary", "humidity=walk(30,40,0.2)", "--vary", "temperature=sine(20,45,10min,0.5)",
                  "--vary", "cmd=pick(push_msg,push_alarm)", "--seed", "1"]
TRAFFIC_FAULTS = ["--loss", "1%,burst=2", "--duplicate", "1%", "--jitter", "uniform(0ms,2ms)"]


def bench_seven(args, workdir, seconds):
    """The plain fleet, with values and with values and faults in turn, three
    rounds over (each one's CPU the median of its rounds: a shared machine
    drifts), and the floor after the first round."""
    runs = [("plain", []), ("values", TRAFFIC_VALUES), ("faults", TRAFFIC_VALUES + TRAFFIC_FAULTS)]
    row = {"rounds": 1 if args.form == "smoke" else 3}
    for round_no in range(1, row["rounds"] + 1):
        for name, extra in runs:
            key = "%s%d" % (name, round_no)
            row[key] = run_fleet(args, workdir, "b7-" + key, 10000, 0, seconds, warmup=3, extra=extra)
            stats = read_stats(os.path.join(workdir, "b7-%s-0.stats.json" % key)) or {}
            row[key]["faults"] = stats.get("faults")
        if round_no == 1:
            row["floor"] = run_loop(args, workdir, seconds, "b7-floor",
                                    [os.path.join(args.build, "bench", "tovrik_fleet_floor")])
    for name, _ in runs:
        for part in ("cpu_core", "cpu_user_core", "cpu_system_core"):
            values = sorted(row["%s%d" % (name, n)][part] for n in range(1, row["rounds"] + 1))
            row["%s_%s" % (name, part)] = values[len(values) // 2]
    plain = row["plain_cpu_core"]
    row["values_ratio"] = row["values_cpu_core"] / plain
    row["faults_ratio"] = row["faults_cpu_core"] / plain
    row["floor_ratio"] = row["floor"]["cpu_core"] / plain
    row["ok"] = {"values": row["values_ratio"] <= 1.1, "faults": row["faults_ratio"] <= 1.2,
                 "missing": all(row["%s%d" % (name, n)]["missing"] == 0 for name in ("plain", "values")
                                for n in range(1, row["rounds"] + 1))}
    row["window_s"] = seconds
    return row


def verdict(ok):
    return "ok" if all(ok.values()) else "MISSED " + ",".join(k for k, v in ok.items() if not v)


def print_table(results):
    print()
    print("== Fleet (tovrik-cli --devices N --spread, receiver on 127.0.0.1) ==")
    print("  %-34s %9s %8s %8s %8s %8s %8s  %s" % ("run", "received", "missing", "p50 ms", "p99 ms", "max ms",
                                                "CPU", "peak RSS"))

    def line(label, row):
        print("  %-34s %9d %8d %8.3f %8.3f %8.2f %7.1f%% %6.1f MB" % (
            label, row["received"], row["missing"], row["late_p50_ms"], row["late_p99_ms"], row["late_max_ms"],
            100 * row["cpu_core"], row["peak_rss_mb"]))
        print("  %-34s CPU user %.1f %% + system %.1f %%; receiver drops %d (in the window: %d missing)" % (
            "", 100 * row["cpu_user_core"], 100 * row["cpu_system_core"], row["receiver_socket_drops"],
            row["missing"]))

    if "1" in results:
        r = results["1"]
        line("1  10,000 dev mode 0, %d s" % r["window_s"], r)
        if "floor" in r:
            line("   floor: bare sendto on the grid", r["floor"])
        if "floor_bytes" in r:
            line("   floor at %d bytes a datagram" % round(r["bytes_per_datagram"]), r["floor_bytes"])
            print("     CPU against the floor: %.2fx (%d-byte floor), %.2fx (%d-byte floor, the fleet's own bytes)" % (
                r["cpu_core"] / r["floor"]["cpu_core"], round(r["floor"]["bytes_per_datagram"]),
                r["cpu_core"] / r["floor_bytes"]["cpu_core"], round(r["floor_bytes"]["bytes_per_datagram"])))
        line("   Python loop, same schedule", r["python"])
        print("     target: none missing, p99 <= 1 ms, CPU <= 10 %%, RSS <= 64 MB: %s" % verdict(r["ok"]))
    if "2" in results:
        r = results["2"]
        line("2  100,000 dev, 6 shards, %d s" % r["window_s"], r)
        print("     target: p99 <= 5 ms, six shards <= 100 %% of a core: %s (per shard %s %%)" % (
            verdict(r["ok"]), " ".join("%.1f" % (100 * c) for c in r["cpu_core_per_shard"])))
    if "3" in results:
        r = results["3"]
        line("3  1,000 dev mode 6, %d s" % r["window_s"], r)
        print("     %.0f datagrams/s, %+.4f %% of the ideal %d; target: 100,000/s, within 0.1 %%, p99 <= 2 ms: %s" % (
            r["rate_per_s"], 100 * r["off_ideal"], r["ideal"], verdict(r["ok"])))
    if "5" in results:
        r = results["5"]
        line("5  18,000 dev mode 0, %d s" % r["window_s"], r)
        print("     RSS %.1f -> %.1f MB (%+.1f %%), threads %s -> %s from %d s on: %s" % (
            r["rss_after_warmup_kb"] / 1024.0, r["rss_last_kb"] / 1024.0, 100 * r["rss_growth"],
            r["threads_after_warmup"], r["threads_last"], r["warmup_s"], verdict(r["ok"])))
    if "6" in results:
        r = results["6"]
        line("6  %s dev mode 2, %d shards, %d s" % ("{:,}".format(r["devices"]), r["shards"], r["window_s"]), r)
        line("   floor: bare sendto, same shards", r["floor"])
        print("     shards' own p99 %.3f ms (the worst shard, whole run); RSS of all shards %.1f MB (floor %.1f MB); "
              "sockets open after %s s" % (r["sender_late_p99_ms"], r["peak_rss_mb_total"],
                                           r["floor"]["peak_rss_mb_total"],
                                           "%.1f" % r["sockets_open_s"] if r["sockets_open_s"] is not None else "?"))
        for label, kernel in (("kernel", r["kernel"]), ("floor's", r["floor"]["kernel"])):
            before, during = kernel["before"], kernel["during"]
            print("     %s: sockets %d -> %d, UDP inuse %d -> %d, UDP buffers %d -> %d pages, slab %+.0f MB, "
                  "vmalloc %+.0f MB (%.2f kB a socket)" % (
                      label, before["sockets"]["used"], during.get("sockets", {}).get("used", 0),
                      before["UDP"]["inuse"], during.get("UDP", {}).get("inuse", 0), before["UDP"]["mem"],
                      during.get("UDP", {}).get("mem", 0), kernel["slab_mb"], kernel["vmalloc_mb"],
                      kernel["kb_per_socket"]))
        if "floor_bytes" in r:
            line("   floor at %d bytes a datagram" % round(r["bytes_per_datagram"]), r["floor_bytes"])
            print("     CPU against the floor: %.2fx (%d-byte floor), %.2fx (%d-byte floor); RSS %.2fx, %.2fx" % (
                r["cpu_core"] / r["floor"]["cpu_core"], round(r["floor"]["bytes_per_datagram"]),
                r["cpu_core"] / r["floor_bytes"]["cpu_core"], round(r["floor_bytes"]["bytes_per_datagram"]),
                r["peak_rss_mb_total"] / r["floor"]["peak_rss_mb_total"],
                r["peak_rss_mb_total"] / r["floor_bytes"]["peak_rss_mb_total"]))
        if "rss_parts" in r:
            parts = r["rss_parts"]
            print("     one process's memory, %s devices (anonymous fixed + a device; file-backed; peak RSS):" % (
                "{:,}".format(parts["devices"])))
            for k, label in (("fleet", "fleet"), ("replies", "with --replies"), ("floor", "floor"),
                             ("floor904", "floor at 904 bytes")):
                print("       %-20s %5.1f MB + %5.0f B a device; %5.1f MB; %5.1f MB" % (
                    label, parts[k]["anon_fixed_mb"], parts[k]["per_device_b"], parts[k]["file_mb"],
                    parts[k]["peak_mb"]))
        print("     target: none missing, p99 <= 5 ms, all shards <= 50 %% of a core, RSS <= 1.5x the floor's "
              "at equal bytes: %s" % verdict(r["ok"]))
    if "7" in results:
        r = results["7"]
        for round_no in range(1, r["rounds"] + 1):
            line("7  10,000 dev mode 0, plain, %d s" % r["window_s"], r["plain%d" % round_no])
            line("   with 3 generated values", r["values%d" % round_no])
            line("   with values, loss, dups, jitter", r["faults%d" % round_no])
            if round_no == 1:
                line("   floor: bare sendto on the grid", r["floor"])
        faults = r["faults1"].get("faults") or {}
        print("     faults injected (first round): %s" % ", ".join("%s %d" % (k, v) for k, v in faults.items() if v))
        for name in ("plain", "values", "faults"):
            print("     %-7s CPU, median of %d rounds: %.1f %% (user %.1f, system %.1f)" % (
                name, r["rounds"], 100 * r[name + "_cpu_core"], 100 * r[name + "_cpu_user_core"],
                100 * r[name + "_cpu_system_core"]))
        print("     against the plain fleet: values %.3fx (<= 1.1), values and faults %.3fx (<= 1.2), floor %.3fx: %s" % (
            r["values_ratio"], r["faults_ratio"], r["floor_ratio"], verdict(r["ok"])))
    if "8" in results:
        r = results["8"]
        print("  8  %s devices, %d shards, %d s, answered by tovrik-cli receive --answer echo, %s%s" % (
            "{:,}".format(r["devices"]), r["shards"], r["window_s"],
            "in a network namespace with a UDP socket table of {:,} buckets".format(r["udp_table_buckets"])
            if r["udp_table_buckets"] else "in the machine's own network namespace",
            "" if not r["udp_mem"]["raised"] else " (net.ipv4.udp_mem raised from %s to %s for the run)" % (
                " ".join(map(str, r["udp_mem"]["before"])), " ".join(map(str, r["udp_mem"]["raised"])))))
        print("     %-22s %10s %10s %8s %8s %11s %11s %11s %7s %8s %8s %9s" % (
            "run", "sent", "matched", "lost", "dropped", "rtt p50", "rtt p99", "rtt max", "fleet", "receive",
            "k.drops", "RSS"))
        for key, label in (("echo", "--replies"), ("delayed", "--replies, delay/drop"), ("plain", "no --replies"),
                           ("floor_read", "floor reading replies"), ("floor", "floor, send only")):
            x = r[key]
            rtt = x.get("rtt_ms") or {}

            def ms(v):
                return "%8.3f ms" % v if v is not None else "%11s" % "-"
            print("     %-22s %10s %10s %8s %8d %s %s %s %6.1f%% %7.1f%% %8d %7.0f MB" % (
                label, x.get("sent") if x.get("sent") is not None else "-", x.get("matched", "-"),
                x.get("lost", "-"), x["receiver"]["answers_dropped"], ms(rtt.get("p50")), ms(rtt.get("p99")),
                ms(rtt.get("max")), 100 * x["cpu_core"], 100 * x["receiver_cpu_core"], x["receiver"]["kernel_drops"],
                x["peak_rss_mb_total"]))
        for key, label in (("echo", "--replies"), ("delayed", "--replies, delay/drop")):
            w = r[key]["window_figures"]
            print("     in the window, %s: sent %d, matched %d, lost %d, late %d; rtt p99 at most %s ms "
                  "(the worst second's)" % (label, w["sent"], w["matched"], w["lost"], w["late"],
                                            "%.3f" % w["rtt_p99_ms_at_most"] if w["rtt_p99_ms_at_most"] is not None
                                            else "-"))
        print("     the floor's round trips are the window's alone; the fleet's in the table are the whole run's, "
              "its start included (every shard's own p99: %s ms at the median shard, %s at the worst)" % (
                  r["echo"]["shard_rtt_p99_ms"][len(r["echo"]["shard_rtt_p99_ms"]) // 2],
                  r["echo"]["shard_rtt_p99_ms"][-1]))
        print("     kernel UDP memory: %s pages a socket with replies, %s without (the floor reading: %s)" % tuple(
            "%.2f" % r[k]["udp_pages_per_socket"] if r[k]["udp_pages_per_socket"] is not None else "?"
            for k in ("echo", "plain", "floor_read")))
        print("     CPU with replies / without: %.2fx, the floor's %.2fx (target <= 1.15x of it: %.2fx)" % (
            r["replies_cpu_ratio"], r["floor_cpu_ratio"], r["replies_cpu_ratio"] / r["floor_cpu_ratio"]))
        print("     target: none lost but those dropped on purpose, fleet and receiver <= one core, "
              "rtt p99 <= 2x the floor's, CPU ratio: %s" % verdict(r["ok"]))
    if "load_average" in results:
        print("  load average at the end: %.2f %.2f %.2f; niceness %d; receivers drain every %d us" % (
            tuple(results["load_average"]) + (results.get("niceness", 0), results.get("receiver_drain_us", 0))))
    return ["fleet " + k for k in ("1", "2", "3", "5", "6", "7", "8")
            if k in results and not all(results[k]["ok"].values())]


# Each benchmark's measured window in seconds, by form.
LENGTHS = {
    "full": {"1": 60, "2": 60, "3": 30, "5": 600, "6": 180, "7": 40, "8": 180},
    "quick": {"1": 15, "2": 15, "3": 10, "5": 120, "6": 70, "7": 10, "8": 70},
    "smoke": {"1": 2, "2": 2, "3": 2, "5": 2, "6": 70, "7": 2, "8": 2},
}


def prepare(build, cli, drain_us, form):
    """The drivers' arguments, once the programs they run are there; the
    open-file limit raised to the hard one (a socket a device), which the
    children inherit."""
    args = argparse.Namespace(build=build, cli=cli or os.path.join(build, "src", "cli", "tovrik-cli"),
                              drain_us=drain_us, form=form)
    for path in (args.cli, os.path.join(build, "bench", "tovrik_fleet_receiver"),
                 os.path.join(build, "bench", "tovrik_fleet_floor")):
        if not os.access(path, os.X_OK):
            raise RuntimeError("%s is missing: build with -DTOVRIK_BUILD_BENCH=ON first (make bench)" % path)
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return args


def run(build, cli=None, form="full", only="1,2,3,5,7", out=None, table=True, nice=0, drain_us=1000):
    """Runs the chosen benchmarks in their form (full, quick or smoke) and
    writes their JSON; prints the table unless told not to (run_bench.py
    prints it with its own). Answers (results, misses)."""
    args = prepare(build, cli, drain_us, form)
    if nice:
        os.nice(nice)  # the senders, the receivers and the Python loop inherit it alike
    lengths = LENGTHS[form]
    benches = {"1": bench_one, "2": bench_two, "3": bench_three, "5": bench_five, "6": bench_six, "7": bench_seven,
               "8": bench_eight}
    results = {}
    with rmem_max_raised(), tempfile.TemporaryDirectory(prefix="tovrik-fleet-bench-") as workdir:
        for key in only.split(","):
            print("fleet benchmark %s (%d s) ..." % (key, lengths[key]), flush=True)
            results[key] = benches[key](args, workdir, lengths[key])
    results["load_average"] = os.getloadavg()
    results["niceness"] = os.nice(0)
    results["receiver_drain_us"] = drain_us
    with open(out or os.path.join(build, "fleet-bench-results.json"), "w") as f:
        json.dump(results, f, indent=2)
    if not table:
        return results, []
    misses = print_table(results)
    return results, misses


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--cli", help="tovrik-cli to run (default BUILD/src/cli/tovrik-cli)")
    forms = ap.add_mutually_exclusive_group()
    forms.add_argument("--quick", action="store_true",
                       help="15 s runs, a 2-minute soak, benchmark 6 at 100,000 for 70 s, 7's ten runs 10 s each")
    forms.add_argument("--smoke", action="store_true",
                       help="2 s windows, benchmark 7 one round: that each one runs, no targets judged")
    ap.add_argument("--only", default="1,2,3,5,7", help="comma-separated benchmark numbers (6 and 8 only when named)")
    ap.add_argument("--out", help="JSON file (default BUILD/fleet-bench-results.json)")
    ap.add_argument("--nice", type=int, default=0,
                    help="run every process of the benchmark this much nicer (below 0 as root: ahead of other work)")
    ap.add_argument("--drain-us", type=int, default=1000,
                    help="the receivers empty their sockets this often (0: they block, woken per datagram)")
    ap.add_argument("--strict", action="store_true", help="exit 1 when a target is missed")
    args = ap.parse_args()
    form = "quick" if args.quick else "smoke" if args.smoke else "full"
    _, misses = run(args.build, args.cli, form, args.only, args.out, nice=args.nice, drain_us=args.drain_us)
    if form == "smoke":
        print("smoke round: each benchmark ran and gave its figures; no target is judged at these lengths")
        return 0
    print("targets missed: " + (", ".join(misses) if misses else "none"))
    return 1 if misses and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
