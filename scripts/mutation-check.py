#!/usr/bin/env python3
"""Single-line mutants of the fleet, the option parsers and the report, each tried in turn.

Each mutant in scripts/mutants.txt replaces one exact piece of one line of a
source file (a "\\n" in it anchors the line among its neighbours). The
script copies the tracked tree into build-mutants/tree (so the checkout
itself is never changed), applies the mutant there, rebuilds only the test
programs that cover it (in build-mutants/build), runs the named tests,
restores the file and says whether the suite noticed: "killed" (a test failed or the build
broke) or "survived". A piece that no longer matches the source exactly once
is reported as "stale" and skipped.

    python3 scripts/mutation-check.py            # every mutant
    python3 scripts/mutation-check.py spread 1s  # those whose name has "spread" or "1s"

Slow (one rebuild a mutant): not part of CI.
"""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build-mutants")
TREE = os.path.join(WORK, "tree")
BUILD = os.path.join(WORK, "build")
LIST = os.path.join(ROOT, "scripts", "mutants.txt")
TEST_TIMEOUT = 180

# What each group of tests needs built, and how it is run.
GROUPS = {
    "fleet": (["tovrik_fleet_tests"], [["tests/tovrik_fleet_tests"]]),
    "send": (["tovrik_tests"], [["tests/tovrik_tests", "--gtest_filter=SendWorker*:Replay*:CSendSchedule*:CSystemClock*:StartStopLoadTest.Stop*"]]),
    "packet": (["tovrik_tests"], [["tests/tovrik_tests", "--gtest_filter=CMessageTemplate*:CDeviceMessage*:CDecimal*"]]),
    "cli": (["tovrik-cli", "tovrik_cli_tests"],
            [["tests/tovrik_cli_tests", "--gtest_filter=CCliOptionsTest.*:FleetCliTest.Shards*:CliTest.*"]]),
    "fleetcli": (["tovrik-cli", "tovrik_cli_tests"], [["tests/tovrik_cli_tests", "--gtest_filter=FleetCliTest.*"]]),
    "capture": (["tovrik_capture_tests", "tovrik-cli", "tovrik_cli_tests"],
                [["tests/tovrik_capture_tests"], ["tests/tovrik_cli_tests", "--gtest_filter=CaptureCliTest.*"]]),
    "verdict": (["tovrik_tests"], [["tests/tovrik_tests", "--gtest_filter=CThreshold*"]]),
    "report": (["tovrik_tests", "tovrik_fleet_tests"],
               [["tests/tovrik_tests", "--gtest_filter=CHtmlReport*:CStatsMerger*"],
                ["tests/tovrik_fleet_tests", "--gtest_filter=CFleetStatsJson*"]]),
    "metrics": (["tovrik_fleet_tests"], [["tests/tovrik_fleet_tests", "--gtest_filter=CMetricsText*"]]),
}


def read_mutants():
    mutants = []
    with open(LIST, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            parts = [part.strip() for part in line.split(" | ")]
            if len(parts) != 5:
                sys.exit(f"{LIST}:{number}: expected 'name | file | original | mutant | groups'")
            name, path, original, mutant, groups = parts
            # "\n" stands for a line end, to anchor a line that recurs.
            original, mutant = original.replace("\\n", "\n"), mutant.replace("\\n", "\n")
            mutants.append((name, path, original, mutant, groups.split(",")))
    return mutants


def run(command, log, timeout=900):
    return subprocess.run(command, cwd=BUILD, stdout=log, stderr=subprocess.STDOUT, timeout=timeout).returncode


def copy_tree():
    """The checkout's tracked files as they are now; files that did not change keep their times."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, stdout=subprocess.PIPE, check=True).stdout
    for name in filter(None, files.decode().split("\0")):
        source, target = os.path.join(ROOT, name), os.path.join(TREE, name)
        if not os.path.isfile(source):
            continue
        with open(source, "rb") as f:
            data = f.read()
        if os.path.exists(target):
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)


def configure(log):
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", TREE, "-B", BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                        "-DTOVRIK_BUILD_GUI=OFF"], stdout=log, stderr=subprocess.STDOUT, check=True)


def build(targets, log):
    return run(["nice", "-n", "10", "cmake", "--build", ".", "-j2", "--target"] + targets, log) == 0


def try_mutant(path, original, mutant, groups, log):
    full = os.path.join(TREE, path)
    with open(full, encoding="utf-8") as f:
        source = f.read()
    if source.count(original) != 1:
        return "stale"
    targets = sorted({t for g in groups for t in GROUPS[g][0]})
    try:
        with open(full, "w", encoding="utf-8") as f:
            f.write(source.replace(original, mutant))
        if not build(targets, log):
            return "killed (build)"
        for group in groups:
            for command in GROUPS[group][1]:
                try:
                    # A mutant may make a test loop for ever.
                    if run(command, log, timeout=TEST_TIMEOUT) != 0:
                        return "killed"
                except subprocess.TimeoutExpired:
                    return "killed (timeout)"
        return "survived"
    finally:
        with open(full, "w", encoding="utf-8") as f:
            f.write(source)


def main():
    patterns = sys.argv[1:] or [""]
    mutants = [m for m in read_mutants() if any(pattern in m[0] for pattern in patterns)]
    os.makedirs(BUILD, exist_ok=True)
    copy_tree()
    with open(os.path.join(WORK, "mutants.log"), "w") as log:
        configure(log)
        all_targets = sorted({t for g in GROUPS.values() for t in g[0]})
        if not build(all_targets, log):
            sys.exit("the unmutated tree does not build; see build-mutants/mutants.log")
        survivors = []
        for name, path, original, mutant, groups in mutants:
            outcome = try_mutant(path, original, mutant, groups, log)
            print(f"{outcome:16} {name}", flush=True)
            if outcome in ("survived", "stale"):
                survivors.append(name)
    killed = len(mutants) - len(survivors)
    print(f"{killed} of {len(mutants)} killed" + (f"; not killed: {', '.join(survivors)}" if survivors else ""))


if __name__ == "__main__":
    main()
