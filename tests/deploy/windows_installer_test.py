#!/usr/bin/env python3
"""Installs dist/tovrik-<version>-win64-setup.exe under wine as a user or an
administrator would, silently, once for the current user and once for all
users, in a wine prefix of its own made afresh. Each time: the programs are
in the folder the uninstall entry names, the window has its Start-menu entry,
the system's list of programs has the entry (version, quiet uninstall
command); the installed tovrik-cli.exe sends to a receiver on 127.0.0.1;
then the window's settings file is written where the window keeps it
(%APPDATA%\\Tovrik\\Tovrik.ini), the entry's quiet uninstall command is run,
and the files, the Start-menu entry and the registry keys must be gone, the
settings file kept.

    windows_installer_test.py WINE SETUP.exe --version VERSION --prefix DIR
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

from deploy_checks import SHORT_RUN, Receiver, check, short_run_problem, verdict

UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Tovrik"
SETTINGS_KEY = r"Software\Tovrik"
INI_TEXT = "[INFO]\r\nsendtype=5\r\n"


class Wine:
    """Programs in one prefix, on a persistent wine server: wine's services
    start with the first program and keep the standard streams they inherit,
    so that first one gets none, and later programs' pipes close when they
    end."""

    def __init__(self, wine, prefix):
        self.wine = wine
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                        # No Linux menu entries for the Start-menu shortcuts.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        server = os.path.join(os.path.dirname(os.path.realpath(wine)), "wineserver64")
        self.server = server if os.path.exists(server) else "wineserver"
        shutil.rmtree(prefix, ignore_errors=True)
        os.makedirs(prefix)
        subprocess.run([self.server, "-p"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        self.run("wineboot", "-i", capture=False, timeout=300)

    def run(self, *args, capture=True, timeout=120):
        output = subprocess.PIPE if capture else subprocess.DEVNULL
        return subprocess.run([self.wine] + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=output,
                              stderr=output, timeout=timeout, check=False)

    def unix_path(self, windows_path):
        return self.run("winepath", "-u", windows_path).stdout.decode(errors="replace").strip()

    def expand(self, variable):
        return self.run("cmd", "/c", "echo", "%" + variable + "%").stdout.decode(errors="replace").strip()

    def registry(self, key):
        """{name: value} of a registry key, or None where it does not exist."""
        done = self.run("reg", "query", key)
        if done.returncode != 0:
            return None
        lines = done.stdout.decode("utf-8", errors="replace").splitlines()
        return {m.group(1): m.group(2) for m in (re.match(r"^\s+(\S+)\s+REG_\w+\s+(.*)$", l) for l in lines) if m}

    def stop(self):
        subprocess.run([self.server, "-k"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)


def check_cli(wine, exe):
    receiver = Receiver()
    done = wine.run(exe, "-t", "127.0.0.1", "-p", str(receiver.port), *SHORT_RUN, timeout=60)
    datagrams = receiver.finish()
    if check(done.returncode == 0, "installed tovrik-cli.exe exited %d" % done.returncode):
        problem = short_run_problem(done.stdout.decode(errors="replace"), datagrams)
        check(problem is None, "installed tovrik-cli.exe: %s" % problem)


def install_and_uninstall(wine, setup, version, mode):
    hive, start_menu = ("HKCU", "APPDATA") if mode == "CurrentUser" else ("HKLM", "ProgramData")
    started = time.monotonic()
    done = wine.run(setup, "/S", "/" + mode, capture=False, timeout=300)
    if not check(done.returncode == 0, "%s: the installer exited %d" % (mode, done.returncode)):
        return
    entry = wine.registry(hive + "\\" + UNINSTALL_KEY)
    if not check(entry is not None, "%s: no uninstall entry in %s" % (mode, hive)):
        return
    check(entry.get("DisplayVersion") == version, "%s: the entry's version is %r" % (mode, entry.get("DisplayVersion")))
    folder = wine.unix_path(entry.get("InstallLocation", ""))
    programs = [os.path.join(folder, name) for name in ("tovrik.exe", "tovrik-cli.exe", "uninstall.exe")]
    check(all(os.path.isfile(p) for p in programs), "%s: not installed in %s: %s" % (mode, folder, programs))
    shortcut = wine.unix_path(wine.expand(start_menu) + r"\Microsoft\Windows\Start Menu\Programs\Tovrik.lnk")
    check(os.path.isfile(shortcut), "%s: no Start-menu entry %s" % (mode, shortcut))
    check_cli(wine, os.path.join(folder, "tovrik-cli.exe"))

    ini = wine.unix_path(wine.expand("APPDATA") + r"\Tovrik\Tovrik.ini")
    os.makedirs(os.path.dirname(ini), exist_ok=True)
    with open(ini, "w", encoding="utf-8", newline="") as f:
        f.write(INI_TEXT)
    # The quiet uninstall command as the system's list runs it. The
    # uninstaller copies itself away and returns at once; the copy removes
    # the folder.
    command = re.match(r'^"([^"]+)"\s*(.*)$', entry.get("QuietUninstallString", ""))
    if not check(command is not None and "/S" in command.group(2).split(),
                 "%s: the quiet uninstall command is %r" % (mode, entry.get("QuietUninstallString"))):
        return
    wine.run(command.group(1), *command.group(2).split(), capture=False)
    deadline = time.monotonic() + 60
    while os.path.exists(folder) and time.monotonic() < deadline:
        time.sleep(0.2)
    check(not os.path.exists(folder), "%s: %s is still there after the uninstall" % (mode, folder))
    check(not os.path.exists(shortcut), "%s: the Start-menu entry is still there" % mode)
    for key in (UNINSTALL_KEY, SETTINGS_KEY):
        check(wine.registry(hive + "\\" + key) is None, "%s: %s\\%s is still there" % (mode, hive, key))
    kept = None
    if os.path.isfile(ini):
        with open(ini, encoding="utf-8", newline="") as f:
            kept = f.read()
        os.remove(ini)
    check(kept == INI_TEXT, "%s: the uninstall did not keep the settings file as it was: %r" % (mode, kept))
    print("installer, %s: installed in %s and removed again (%.0f s)" % (mode, folder, time.monotonic() - started))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("wine")
    ap.add_argument("setup")
    ap.add_argument("--version", required=True)
    ap.add_argument("--prefix", required=True, help="the wine prefix to make afresh")
    args = ap.parse_args()
    if not os.path.isfile(args.setup):
        sys.exit("no %s: run make windows first" % args.setup)
    wine = Wine(args.wine, os.path.abspath(args.prefix))
    try:
        for mode in ("CurrentUser", "AllUsers"):
            install_and_uninstall(wine, os.path.abspath(args.setup), args.version, mode)
    finally:
        wine.stop()
    return verdict("installer test")


if __name__ == "__main__":
    sys.exit(main())
