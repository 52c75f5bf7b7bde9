#!/usr/bin/env python3
"""Capture import: a pcap of N UDP datagrams (Ethernet, IPv4, one JSON device
message each from 1,000 sources) written here, then loaded side by side in
rounds, the file in the page cache:

- tovrik-cli --dry-run --import FILE (reads, decodes, cuts and keeps every
  message with its time index), and the same with --capture-filter keeping
  one source of 1,000 (memory of the stream itself);
- tshark -r FILE -T fields -e data, the peer;
- the floors: a bare libpcap record loop (tovrik_capture_floor) and
  cat FILE > /dev/null.

Peak memory (RSS) comes from /usr/bin/time -v.

    capture_bench.py --cli build-bench/src/cli/tovrik-cli --floor build-bench/bench/tovrik_capture_floor
                     [--datagrams 5000000] [--rounds 3] [--file bench/data/big.pcap]

--quick is 200,000 datagrams and one round.
"""

import argparse
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RSS_RE = re.compile(r"Maximum resident set size \(kbytes\): (\d+)")


def write_capture(path, datagrams):
    """Ethernet frames of about 200 bytes; 1,000 sources, 50 µs apart."""
    eth = b"\x02" * 12 + b"\x08\x00"
    chunk = []
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i in range(datagrams):
            source = i % 1000
            seconds = 1796724000 + i // 20000
            payload = ('{"cmd":"push_status","IMEI":"86%013d","time":"2026-12-08 %02d:%02d:%02d",'
                       '"packnum":"%d","rssi":"-71","lat":"39.90","lon":"116.40","speed":"0"}'
                       % (source, (seconds // 3600) % 24, (seconds // 60) % 60, seconds % 60, i)).encode()
            udp = struct.pack("!HHHH", 20000 + source, 51609, 8 + len(payload), 0) + payload
            ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                             bytes([10, 0, source // 250, source % 250 + 1]), b"\x0a\x00\x00\xfe") + udp
            frame = eth + ip
            chunk.append(struct.pack("<IIII", seconds, (i % 20000) * 50, len(frame), len(frame)) + frame)
            if len(chunk) == 65536:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))


def timed(cmd, stdout=subprocess.DEVNULL):
    """Wall seconds and peak RSS in bytes (under /usr/bin/time -v)."""
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=stdout, stderr=subprocess.PIPE, check=False)
    seconds = time.perf_counter() - start
    err = done.stderr.decode(errors="replace")
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), done.returncode, err[-2000:]))
    rss = RSS_RE.search(err)
    return seconds, int(rss.group(1)) * 1024 if rss else 0, err


def run(cli, floor, path, datagrams, rounds):
    if not os.path.exists(path) or os.path.getsize(path) < 24 + datagrams * 16:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        start = time.perf_counter()
        write_capture(path, datagrams)
        print("capture: wrote %s (%d datagrams, %.2f GB) in %.0f s"
              % (path, datagrams, os.path.getsize(path) / 1e9, time.perf_counter() - start), file=sys.stderr)
    with open(path, "rb") as f:
        while f.read(1 << 24):
            pass
    commands = {
        "tovrik": [cli, "--dry-run", "--import", path],
        "tovrik_filtered": [cli, "--dry-run", "--import", path, "--capture-filter", "udp src port 20000"],
        "tshark": ["tshark", "-r", path, "-T", "fields", "-e", "data"],
        "libpcap_loop": [floor, path],
        "cat": ["sh", "-c", 'cat "$0" > /dev/null', path],
    }
    if shutil.which("tshark") is None:
        del commands["tshark"]
    times = {name: [] for name in commands}
    rss = {name: 0 for name in commands}
    check = ""
    for _ in range(rounds):
        for name, cmd in commands.items():
            seconds, peak, err = timed(cmd)
            times[name].append(seconds)
            rss[name] = max(rss[name], peak)
            if name == "tovrik":
                check = err
    if "%d UDP datagrams read" % datagrams not in check:
        raise RuntimeError("tovrik did not read every datagram: " + check[-1000:])
    result = {"file": path, "bytes": os.path.getsize(path), "datagrams": datagrams, "rounds": rounds}
    for name in commands:
        result[name] = {"median_s": statistics.median(times[name]), "peak_rss": rss[name]}
    if "tshark" in result:
        result["tshark_over_tovrik"] = result["tshark"]["median_s"] / result["tovrik"]["median_s"]
    return result


def print_table(result):
    print("capture load: %d datagrams, %.2f GB, median of %d rounds"
          % (result["datagrams"], result["bytes"] / 1e9, result["rounds"]))
    for name in ("tovrik", "tovrik_filtered", "tshark", "libpcap_loop", "cat"):
        if name in result:
            r = result[name]
            print("  %-16s %8.2f s  %8.1f M datagrams/s  peak RSS %7.1f MB"
                  % (name, r["median_s"], result["datagrams"] / r["median_s"] / 1e6, r["peak_rss"] / 1e6))
    if "tshark_over_tovrik" in result:
        ratio = result["tshark_over_tovrik"]
        print("  tovrik is %.1fx faster than tshark (target: 3x) %s" % (ratio, "ok" if ratio >= 3 else "MISSED"))
        return 0 if ratio >= 3 else 1
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--file", default=os.path.join(HERE, "data", "big.pcap"))
    ap.add_argument("--datagrams", type=int, default=5000000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()
    if args.quick:
        args.datagrams, args.rounds = 200000, 1
        if args.file == os.path.join(HERE, "data", "big.pcap"):
            args.file = os.path.join(HERE, "data", "quick.pcap")
    return print_table(run(args.cli, args.floor, args.file, args.datagrams, args.rounds))


if __name__ == "__main__":
    sys.exit(main())
