#!/usr/bin/env python3
"""Writes a message file such as a device recording: status messages, one per
line, with rising "time" values, plus a few messages without "IMEI" and a few
broken lines that the brace framing still cuts but that are not JSON.

    gen_messages.py --preset day  --out bench/data/day.txt    # 86,400 messages, ~78 MB
    gen_messages.py --preset week --out bench/data/week.txt   # 604,800 messages, ~547 MB
    gen_messages.py --count 20 --start now+3 --out replay.txt # the next seconds

Every message has the members of the status message, in its order. The
output is the same for the same arguments (fixed random seed).
"""

import argparse
import datetime
import random
import sys

PRESETS = {"day": 86400, "week": 604800}
# Distinct data strings per channel; messages pick from them in turn.
POOL = 509
CHANNEL_BASES = (0xA543, 0xB6B8, 0x7468)


def data_pool(rng, base):
    """Strings of 50 comma-joined four-digit hex words wandering near base."""
    pool = []
    value = base
    for _ in range(POOL):
        words = []
        for _ in range(50):
            value = min(base + 0x100, max(base - 0x100, value + rng.randint(-12, 12)))
            words.append("%04x" % value)
        pool.append(",".join(words))
    return pool


def parse_start(text):
    if text.startswith("now"):
        offset = int(text[4:]) if len(text) > 3 else 0
        now = datetime.datetime.now().replace(microsecond=0)
        return now + datetime.timedelta(seconds=offset)
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S")


def broken(line, n):
    """A line the framing cuts as one packet ('{' first, the only '}' last)
    but that no JSON parser accepts. Three kinds, in turn."""
    kind = n % 3
    if kind == 0:
        # Cut off inside the data0 string, then closed: an unterminated string.
        cut = line.index('"data0":"') + 9 + 7
        return line[:cut] + "}"
    if kind == 1:
        # A trailing comma before the closing brace.
        return line[:-1] + ",}"
    # A member without its colon.
    return line.replace('"packnum":', '"packnum" ', 1)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--preset", choices=sorted(PRESETS), help="day (86,400 messages) or week (604,800)")
    ap.add_argument("--count", type=int, help="number of lines (messages, broken ones included)")
    ap.add_argument("--out", required=True, help="file to write")
    ap.add_argument("--start", default="2020-07-18 00:00:00",
                    help='time of the first message, "YYYY-MM-DD HH:MM:SS" or now+SECONDS (local time)')
    ap.add_argument("--per-second", type=int, default=1, help="messages sharing each time value")
    ap.add_argument("--no-imei-every", type=int, default=1009,
                    help="every Nth message lacks IMEI (0: none)")
    ap.add_argument("--broken-every", type=int, default=4001, help="every Nth line is broken (0: none)")
    ap.add_argument("--imei", default="1234567890")
    ap.add_argument("--seed", type=int, default=7)
    args = ap.parse_args(argv)

    count = args.count if args.count is not None else PRESETS.get(args.preset)
    if count is None or count < 0:
        ap.error("give --preset or a --count of at least 0")
    if args.per_second < 1:
        ap.error("--per-second must be at least 1")

    rng = random.Random(args.seed)
    pools = [data_pool(rng, base) for base in CHANNEL_BASES]
    start = parse_start(args.start)
    one_second = datetime.timedelta(seconds=1)
    head_imei = '{"cmd":"push_msg","IMEI":"%s",' % args.imei
    head_plain = '{"cmd":"push_msg",'

    stamp = start
    stamp_text = stamp.strftime("%Y-%m-%d %H:%M:%S")
    written = 0
    with open(args.out, "w", encoding="ascii", newline="\n", buffering=1 << 22) as out:
        for i in range(count):
            if i and i % args.per_second == 0:
                stamp += one_second
                stamp_text = stamp.strftime("%Y-%m-%d %H:%M:%S")
            n = i + 1
            head = head_plain if args.no_imei_every and n % args.no_imei_every == 0 else head_imei
            humidity = 30.0 + (i % 240) / 10.0
            temperature = 40.0 + ((i * 7) % 90) / 10.0
            line = '%s"time":"%s","packnum":"%d","humidity":"%.1f","temperature":"%.1f",' \
                   '"data0":"%s","data1":"%s","data2":"%s"}' % (
                       head, stamp_text, n, humidity, temperature,
                       pools[0][i % POOL], pools[1][(i * 3) % POOL], pools[2][(i * 5) % POOL])
            if args.broken_every and n % args.broken_every == 0:
                line = broken(line, n // args.broken_every)
            out.write(line)
            out.write("\n")
            written += len(line) + 1
    print("%s: %d lines, %d bytes, times %s .. %s" % (
        args.out, count, written, start.strftime("%Y-%m-%d %H:%M:%S"), stamp_text), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
