#!/usr/bin/env python3
"""tovrik-cli.exe under wine, driven from the Linux side as a shell or a
test harness drives it: an interrupt delivered to the wine process, output
into pipes, exit codes.

Usage: wine_console_check.py WINE TOVRIK_CLI_EXE  (WINEPREFIX set)
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

wine, exe = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    print(("ok      " if condition else "FAILED  ") + what, flush=True)


def run(*args):
    return subprocess.run([wine, exe, *args], capture_output=True, timeout=60)


def clean_text(data):
    """UTF-8 with plain LF line ends, as on Linux."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return b"\r" not in data


def interrupt_stops_promptly():
    # A wine server of its own, as for the first wine program of a session:
    # it holds the program's output open until it ends itself.
    wineserver = os.path.join(os.path.dirname(wine), "wineserver")
    if not os.access(wineserver, os.X_OK):
        wineserver = shutil.which("wineserver")
    if wineserver:
        subprocess.run([wineserver, "-w"], timeout=30)
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))
    receiver.settimeout(30)
    cli = subprocess.Popen([wine, exe, "-p", str(receiver.getsockname()[1])],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    receiver.recv(70000)
    # Once the session's own processes have come up: until then wine's
    # shutdown waits for them, whatever the program did.
    time.sleep(2.5)
    start = time.monotonic()
    cli.send_signal(signal.SIGINT)
    code = cli.wait(timeout=30)
    ended = time.monotonic() - start
    out, err = cli.communicate(timeout=30)
    closed = time.monotonic() - start
    print(f"        SIGINT: ended after {ended:.3f} s, output closed after {closed:.3f} s")
    check(code == 0 and err.endswith("发送结束\n".encode()), "SIGINT stops the run like the stop button (exit 0)")
    # The network thread's stop time-out is 2 s: well inside it.
    check(ended < 1.0, "SIGINT: the process ends within a second")
    check(closed < 1.5, "SIGINT: its output closes within 1.5 s (wine's session shutdown included)")
    check(clean_text(out) and clean_text(err), "SIGINT: output is UTF-8 with LF line ends")


def pipes_and_exit_codes():
    version = run("--version")
    check(version.returncode == 0 and re.fullmatch(rb"tovrik-cli \d+\.\d+\.\d+\n", version.stdout) is not None,
          "--version into a pipe: one line, exit 0")
    helped = run("--help")
    check(helped.returncode == 0 and b"Usage: tovrik-cli" in helped.stdout and clean_text(helped.stdout),
          "--help into a pipe: exit 0, UTF-8, LF")
    typed = run("--text", '{"设备":"温度"}', "-p", "9", "-q", "--stop-after", "0.2")
    check(typed.returncode == 0 and typed.stderr == "解析完毕,一共解析 1 道下载命令.开始发送.\n发送结束\n".encode(),
          "Chinese --text: the count and the end in UTF-8 into a pipe, exit 0")
    missing = run("--import", "Z:\\no such folder\\消息.txt")
    check(missing.returncode == 2 and clean_text(missing.stderr) and "消息.txt".encode() in missing.stderr,
          "a file that cannot be loaded: exit 2, its Chinese name in UTF-8")
    check(run("-p", "65536").returncode == 64 and run("--bogus").returncode == 64, "usage errors: exit 64")


def no_desktop_libraries():
    # user32 (also through shell32) ties a console program to wine's desktop
    # process, which keeps the output open two seconds past the program's end.
    objdump = shutil.which("x86_64-w64-mingw32-objdump")
    if objdump is None:
        print("skipped no user32: x86_64-w64-mingw32-objdump missing")
        return
    dlls = re.findall(r"DLL Name: (\S+)", subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout)
    check(not {d.lower() for d in dlls} & {"user32.dll", "shell32.dll"}, "imports neither user32 nor shell32: " + " ".join(dlls))


interrupt_stops_promptly()
pipes_and_exit_codes()
no_desktop_libraries()
sys.exit(1 if failures else 0)
