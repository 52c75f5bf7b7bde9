#!/usr/bin/env python3
"""Installs the Debian packages that `make deb` wrote into a clean Debian 12
root, as a user would (`apt-get install ./tovrik-cli_*.deb ./tovrik_*.deb`,
their dependencies from Debian's archive), uses them, and purges them again.

mmdebstrap makes the root (minbase, with man-db and bash-completion, which
a user who reads manual pages and completes commands has, and a user with
Debian's default ~/.bashrc); its customize hook runs this script again with
--root, which works in the root through chroot while mmdebstrap holds /proc,
/sys and /dev mounted there:

- `tovrik-cli --version` names the packages' version;
- a short run sends to a receiver on 127.0.0.1 (the root shares the host's
  network), which gets every datagram the run's lines count, with their sizes;
- `man -w` finds both manual pages;
- an interactive bash of the user loads the completion the way bash-completion
  does on the first Tab (`complete -p tovrik-cli` is then defined) and
  completes the send modes;
- the window's libraries all resolve, and each package's copyright file names
  the licence of every library package it depends on;
- `apt-get purge --autoremove` leaves no file behind but the logs, caches and
  package-manager state that Debian policy keeps.

    deb_test.py --dist DIST_DIR --version VERSION

Exits 77 (a skip for ctest), saying why, where it cannot run: not root, no
mmdebstrap, or no connection to Debian's archive.
"""

import argparse
import collections
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

from deploy_checks import SHORT_RUN, Receiver, check, short_run_problem, skip, verdict

USER = "tester"
# Where apt and dpkg keep their state, logs and downloaded packages: what
# Debian lets stay after a purge.
KEPT = re.compile(r"^/(var/log|var/cache/apt|var/lib/apt|var/lib/dpkg)/")
# Not part of the installed system: mounts, and the folder the test brings.
IGNORED = ("/proc", "/sys", "/dev", "/run", "/tmp")
ARCHIVE_UNREACHABLE = re.compile(r"Temporary failure resolving|Could not resolve|Failed to fetch|"
                                 r"Could not connect|Unable to connect|Network is unreachable")

STARTED = time.monotonic()


def packages(dist, version):
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True, check=True).stdout.strip()
    debs = [os.path.join(dist, "%s_%s_%s.deb" % (name, version, arch)) for name in ("tovrik-cli", "tovrik")]
    missing = [deb for deb in debs if not os.path.isfile(deb)]
    if missing:
        sys.exit("no %s: run make deb first" % ", ".join(missing))
    return debs


def outside(args):
    """Makes the root with mmdebstrap and runs the checks in its customize hook."""
    debs = packages(args.dist, args.version)
    if os.geteuid() != 0:
        skip("installing packages into a root made by mmdebstrap needs root")
    if shutil.which("mmdebstrap") is None:
        skip("mmdebstrap is not installed (scripts/setup.sh deb installs it)")
    me = [sys.executable, os.path.abspath(__file__), "--version", args.version, "--root"]
    hook = " ".join(shlex.quote(word) for word in me) + ' "$1" ' + " ".join(shlex.quote(os.path.abspath(d))
                                                                             for d in debs)
    # The host's package cache, linked in, saves downloading what this
    # machine already has; apt checks each file against the archive's index.
    seed = 'mkdir -p "$1/var/cache/apt/archives" && cp -l /var/cache/apt/archives/*.deb "$1/var/cache/apt/archives/"' \
           ' 2>/dev/null || true'
    # A throwaway root: dpkg need not sync each file, man-db need not index
    # the pages at each install (man -w finds them without).
    no_index = 'echo "man-db man-db/auto-update boolean false" | chroot "$1" debconf-set-selections'
    command = ["mmdebstrap", "--mode=root", "--variant=minbase", "--include=man-db,bash-completion",
               "--dpkgopt=force-unsafe-io", "--setup-hook=" + seed, "--essential-hook=" + no_index,
               "--customize-hook=" + hook, "bookworm", "/dev/null"]
    done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=1200, check=False)
    print(done.stdout, end="", flush=True)
    if done.returncode != 0 and "deb test: inside" not in done.stdout and ARCHIVE_UNREACHABLE.search(done.stdout):
        skip("Debian's archive cannot be reached: " + ARCHIVE_UNREACHABLE.search(done.stdout).group(0))
    check(done.returncode == 0, "mmdebstrap with the checks as its hook exited %d" % done.returncode)
    stage("mmdebstrap done")
    return verdict("deb test")


def run(root, argv, user=None, timeout=300, env=None):
    """A command in the root, as root or as USER, output captured."""
    chroot = ["chroot"] + (["--userspec=%s:%s" % (user, user)] if user else []) + [root]
    environment = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL": "C.UTF-8", "DEBIAN_FRONTEND": "noninteractive",
                   "HOME": "/home/" + user if user else "/root"}
    environment.update(env or {})
    return subprocess.run(["env", "-i"] + ["%s=%s" % item for item in environment.items()] + chroot + argv,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout, check=False)


def files_of(root):
    """Every path in the root but the mounts and /tmp, as the root sees it."""
    found = set()
    for directory, subdirectories, names in os.walk(root):
        relative = "/" + os.path.relpath(directory, root) if directory != root else ""
        subdirectories[:] = [d for d in subdirectories if relative + "/" + d not in IGNORED]
        found.update(relative + "/" + name for name in subdirectories + names)
    return found


def check_run(root):
    receiver = Receiver()
    done = run(root, ["tovrik-cli", "-t", "127.0.0.1", "-p", str(receiver.port)] + SHORT_RUN, timeout=30)
    datagrams = receiver.finish()
    if check(done.returncode == 0, "the run exited %d: %s" % (done.returncode, done.stderr.strip())):
        problem = short_run_problem(done.stdout, datagrams)
        check(problem is None, "the run: %s" % problem)


def check_completion(root):
    # What bash does on the first Tab after a command it has no completion
    # for: it calls bash-completion's default (-D) function, which loads the
    # command's file. Then the modes, as the completion offers them.
    script = r'''
loader=$(complete -p -D | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
"$loader" tovrik-cli
complete -p tovrik-cli || exit 1
function=$(complete -p tovrik-cli | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
COMP_LINE="tovrik-cli -m " COMP_POINT=14 COMP_WORDS=(tovrik-cli -m "") COMP_CWORD=2
"$function" tovrik-cli "" -m
echo "modes: ${COMPREPLY[*]}"
'''
    done = run(root, ["bash", "-i", "-c", script], user=USER, env={"TERM": "dumb"})
    check(done.returncode == 0 and "complete -F" in done.stdout,
          "an interactive bash has no completion for tovrik-cli: %s %s" % (done.stdout.strip(), done.stderr.strip()))
    check("modes: 0 1 2 3 4 5 6 1s 10s 1min 1h 100ms replay 10ms" in done.stdout,
          "the installed completion offers other modes: %s" % done.stdout.strip())


def check_copyright(root, package):
    path = os.path.join(root, "usr/share/doc", package, "copyright")
    if not check(os.path.isfile(path), "%s has no copyright file" % package):
        return
    with open(path, encoding="utf-8") as f:
        text = f.read()
    check(text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"),
          "%s's copyright file is not in the machine-readable format" % package)
    depends = run(root, ["dpkg-query", "-W", "-f=${Depends}", package]).stdout
    for dependency in sorted({re.split(r"[ (]", d.strip())[0] for d in re.split(r"[,|]", depends) if d.strip()}):
        check(re.search(r"^ %s: .+, \S" % re.escape(dependency), text, re.M) is not None,
              "%s's copyright file names no licence for its dependency %s" % (package, dependency))


def stage(what):
    print("deb test: %s (%.0f s)" % (what, time.monotonic() - STARTED), flush=True)


def inside(args):
    root, debs = args.root, args.debs
    stage("inside the root " + root)
    # The user exists before the packages come, with Debian's default files.
    if not check(run(root, ["useradd", "--create-home", "--shell", "/bin/bash", USER]).returncode == 0,
                 "useradd failed"):
        return 1
    before = files_of(root)

    os.makedirs(os.path.join(root, "tmp/debs"), exist_ok=True)
    for deb in debs:
        shutil.copy(deb, os.path.join(root, "tmp/debs"))
    names = ["./tmp/debs/" + os.path.basename(deb) for deb in debs]
    done = run(root, ["apt-get", "install", "-y", "-q"] + names, timeout=900)
    print("\n".join(re.findall(r"^(?:\d+ upgraded.*|Need to get.*|Fetched.*)$", done.stdout, re.M)), flush=True)
    stage("installed")
    if not check(done.returncode == 0, "apt-get install exited %d: %s" % (done.returncode, done.stderr[-2000:])):
        return 1

    version = run(root, ["tovrik-cli", "--version"]).stdout.strip()
    check(version == "tovrik-cli " + args.version, "tovrik-cli --version says %r" % version)
    check_run(root)
    for page in ("tovrik-cli", "tovrik"):
        found = run(root, ["man", "-w", page]).stdout.strip()
        check(found == "/usr/share/man/man1/%s.1.gz" % page, "man -w %s finds %r" % (page, found))
    check_completion(root)
    unresolved = run(root, ["ldd", "/usr/bin/tovrik"]).stdout
    check("not found" not in unresolved, "the window's libraries do not all resolve:\n" + unresolved)
    for path in ("usr/share/applications/tovrik.desktop", "usr/share/icons/hicolor/48x48/apps/tovrik.png",
                 "lib/systemd/system/tovrik-fleet@.service", "etc/tovrik/fleet.conf"):
        check(os.path.isfile(os.path.join(root, path)), "/%s is not installed" % path)
    for package in ("tovrik-cli", "tovrik"):
        check_copyright(root, package)

    stage("checked")
    done = run(root, ["apt-get", "purge", "-y", "-q", "--autoremove", "tovrik-cli", "tovrik"], timeout=600)
    if not check(done.returncode == 0, "apt-get purge exited %d: %s" % (done.returncode, done.stderr.strip())):
        return 1
    stage("purged")
    after = files_of(root)
    left = sorted(path for path in after - before if not KEPT.match(path))
    gone = sorted(path for path in before - after if not KEPT.match(path))
    check(not left, "left after the purge: %s" % ", ".join(left[:20]))
    check(not gone, "gone after the purge, though there before: %s" % ", ".join(gone[:20]))
    kept = collections.Counter(os.path.dirname(path) for path in after - before if KEPT.match(path))
    print("deb test: new after the purge, where apt and dpkg keep things: %s"
          % (", ".join("%s (%d)" % item for item in sorted(kept.items())) or "nothing"))
    return verdict("deb test: inside")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--dist", help="where make deb put the packages")
    ap.add_argument("--version", required=True, help="the project's version")
    ap.add_argument("--root", help=argparse.SUPPRESS)
    ap.add_argument("debs", nargs="*", help=argparse.SUPPRESS)
    args = ap.parse_args()
    return inside(args) if args.root else outside(args)


if __name__ == "__main__":
    sys.exit(main())
