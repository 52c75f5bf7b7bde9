#!/usr/bin/env python3
"""Cutting through --text-file: `tovrik-cli --dry-run --no-modify-time
--text-file F` on 10 MB and on 100 MB of status messages, rounds alternating,
medians; the 100 MB run should take at most 12x the 10 MB one (linear
cutting, whatever the process's start costs).

    text_file_bench.py --cli build-bench/src/cli/tovrik-cli [--rounds 7] [--data bench/data]

run_bench.py runs it as one of its steps.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# One message in the status message's shape a line; the cutting does not
# parse JSON, so the content only needs the size and the braces.
LINE = (b'{"cmd":"push_msg","IMEI":"1234567890","time":"2020-07-18 15:22:59","packnum":"12129",'
        b'"humidity":"35.7","temperature":"42.8","data0":"' + b"a543," * 149 + b'a543"}')


def ensure_file(path, megabytes, line):
    wanted = megabytes * 1000000
    if os.path.exists(path) and abs(os.path.getsize(path) - wanted) < len(line) + 2:
        return path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write((line + b"\n") * (wanted // (len(line) + 1)))
    return path


def run(cli, path):
    start = time.perf_counter()
    subprocess.run([cli, "--dry-run", "--no-modify-time", "--text-file", path],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def run_bench(cli, data, rounds=7):
    files = {mb: ensure_file(os.path.join(data, "text-%dmb.txt" % mb), mb, LINE) for mb in (10, 100)}
    times = {mb: [] for mb in files}
    run(cli, files[10])  # one untimed round: caches warm
    for _ in range(rounds):
        for mb, path in files.items():
            times[mb].append(run(cli, path))
    small, large = statistics.median(times[10]), statistics.median(times[100])
    return {"text_file_10mb_s": small, "text_file_100mb_s": large, "ratio": large / small}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--data", default=os.path.join(HERE, "data"))
    args = parser.parse_args()
    result = run_bench(args.cli, args.data, args.rounds)
    print(json.dumps(result, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
