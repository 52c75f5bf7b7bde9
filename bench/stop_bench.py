#!/usr/bin/env python3
"""How soon a one-device run of tovrik-cli ends after SIGINT, beside a bare
program that does nothing but end on the same interrupt, in one run.

    stop_bench.py --cli build/src/cli/tovrik-cli [--cli OTHER ...] [--runs 10]
    stop_bench.py --wine WINE --exe build-win64/bin/tovrik-cli.exe [--exe OTHER ...] [--runs 10]

Linux: each --cli (e.g. two builds side by side) in the hourly mode, SIGINT
at a different point of the 100 ms tick in each run; the floor is sleep(1),
which SIGINT ends by its default action. Figures: SIGINT to the process's
exit (waitpid).

wine (WINEPREFIX set): tovrik-cli.exe as tests/cli/wine_console_check.py
starts it, and a probe built here with mingw-w64 that waits for Ctrl-C in a
console control handler and returns; each run gets a fresh wine server
(wineserver -k), SIGINT goes to the wine process 2.5 s after the program is
up. Figures: SIGINT to the process's exit and to its output's close.
"""

import argparse
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

PROBE = r"""
#include <windows.h>
#include <stdio.h>
static HANDLE g_hStop;
static BOOL WINAPI OnControl(DWORD n) { (void)n; SetEvent(g_hStop); return TRUE; }
int main(void)
{
    g_hStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    SetConsoleCtrlHandler(NULL, FALSE);
    SetConsoleCtrlHandler(OnControl, TRUE);
    printf("up\n");
    fflush(stdout);
    WaitForSingleObject(g_hStop, INFINITE);
    return 0;
}
"""


def summary(name, values):
    values = sorted(values)
    return (f"{name:<50} median {statistics.median(values) * 1000:7.1f} ms   "
            f"min {values[0] * 1000:7.1f}   max {values[-1] * 1000:7.1f}")


def interrupt(proc, wait_output):
    start = time.monotonic()
    proc.send_signal(signal.SIGINT)
    proc.wait(timeout=30)
    ended = time.monotonic() - start
    if wait_output:
        proc.communicate(timeout=30)
    return ended, time.monotonic() - start


def linux(clis, runs):
    """Each tovrik-cli and the floor, interleaved; the seconds from SIGINT to
    exit of each run, by program ("floor" for sleep)."""
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))
    receiver.settimeout(10)
    port = str(receiver.getsockname()[1])
    figures = {cli: [] for cli in clis}
    floor = []
    for run in range(runs):
        # SIGINT lands 13 ms further into the tick each run.
        offset = 0.3 + 0.013 * run
        for cli in clis:
            proc = subprocess.Popen([cli, "-p", port, "-m", "1h", "-q"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            try:
                receiver.recv(70000)
            except BaseException:
                proc.kill()
                proc.wait()
                raise
            time.sleep(offset)
            figures[cli].append(interrupt(proc, False)[0])
            if proc.returncode != 0:
                raise RuntimeError("%s exited %d on SIGINT" % (cli, proc.returncode))
        # A shell's background job ignores SIGINT, and sleep would inherit
        # that: the floor gets the default action back.
        proc = subprocess.Popen(["sleep", "1000"], preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        time.sleep(offset)
        floor.append(interrupt(proc, False)[0])
    receiver.close()
    print(f"SIGINT to exit, {runs} runs each, interleaved:")
    print(summary("floor: sleep 1000", floor))
    for cli, values in figures.items():
        print(summary(cli, values))
        print("    " + " ".join(f"{v * 1000:.1f}" for v in values))
    return dict(figures, floor=floor)


def wine(args):
    wineserver = os.path.join(os.path.dirname(args.wine), "wineserver")
    if not os.access(wineserver, os.X_OK):
        wineserver = shutil.which("wineserver")
    mingw = shutil.which("x86_64-w64-mingw32-gcc-posix") or shutil.which("x86_64-w64-mingw32-gcc")
    if not wineserver or not mingw:
        sys.exit("stop_bench: wineserver and x86_64-w64-mingw32-gcc are needed")
    work = tempfile.mkdtemp(prefix="stop-bench-")
    with open(os.path.join(work, "probe.c"), "w") as f:
        f.write(PROBE)
    probe = os.path.join(work, "probe.exe")
    subprocess.run([mingw, "-O2", "-o", probe, os.path.join(work, "probe.c")], check=True)

    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))
    receiver.settimeout(30)
    port = str(receiver.getsockname()[1])
    commands = {"probe": [args.wine, probe]}
    for exe in args.exe:
        commands[exe] = [args.wine, exe, "-p", port]
    results = {name: [] for name in commands}
    for _ in range(args.runs):
        for name, command in commands.items():
            subprocess.run([wineserver, "-k"], stderr=subprocess.DEVNULL)
            subprocess.run([wineserver, "-w"], timeout=30)
            proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if name == "probe":
                proc.stdout.readline()
            else:
                receiver.recv(70000)
            # As the console check: after the session's own processes are up.
            time.sleep(2.5)
            results[name].append(interrupt(proc, True))
    shutil.rmtree(work)
    print(f"wine, SIGINT to exit / to output closed, {args.runs} fresh wine servers:")
    for name, values in results.items():
        print(summary(f"{name}: exit", [v[0] for v in values]))
        print(summary(f"{name}: output closed", [v[1] for v in values]))
        print("    closed: " + " ".join(f"{v[1]:.3f}" for v in values))
    for exe in args.exe:
        under = sum(1 for v in results[exe] if v[1] < 0.6)
        print(f"{exe}: output closed under 0.6 s in {under} of {args.runs} runs")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", action="append", default=[], help="a Linux tovrik-cli (repeatable)")
    parser.add_argument("--wine", help="wine64's loader")
    parser.add_argument("--exe", action="append", default=[], help="a tovrik-cli.exe (repeatable)")
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()
    if args.cli:
        linux(args.cli, args.runs)
    if args.wine and args.exe:
        wine(args)
    if not args.cli and not (args.wine and args.exe):
        parser.error("give --cli, or --wine and --exe")


if __name__ == "__main__":
    main()
