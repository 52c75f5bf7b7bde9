#!/usr/bin/env python3
"""The plain Python loop that the fleet is compared with: N UDP sockets, each
sending one tiny fixed message ({"IMEI":"<first + k>"}) on the fleet's spread
schedule: socket k at every whole second (period) plus k * period / N, on
absolute deadlines, rewriting nothing.

    py_fleet_loop.py --port P [--target 127.0.0.1] [--devices 10000]
                     [--imei-first 860000000000000] [--period-ms 1000]
                     [--seconds 60] [--bind ADDR]

It stops at the first instant after --seconds and prints nothing.
"""

import argparse
import resource
import socket
import time


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--target", default="127.0.0.1")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--devices", type=int, default=10000)
    ap.add_argument("--imei-first", type=int, default=860000000000000)
    ap.add_argument("--period-ms", type=float, default=1000.0)
    ap.add_argument("--seconds", type=float, default=60.0)
    ap.add_argument("--bind", default="")
    args = ap.parse_args()

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = args.devices + 64
    if soft < wanted:
        if hard != resource.RLIM_INFINITY and hard < wanted:
            ap.error("%d sockets need %d descriptors; the hard limit is %d" % (args.devices, wanted, hard))
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))

    socks, messages = [], []
    for k in range(args.devices):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((args.bind, 0))
        s.connect((args.target, args.port))
        socks.append(s)
        messages.append(b'{"IMEI":"%d"}' % (args.imei_first + k))

    period = args.period_ms / 1000.0
    offsets = [k * period / args.devices for k in range(args.devices)]
    start = time.time()
    base = (int(start / period) + 1) * period
    end = start + args.seconds
    pairs = list(zip(offsets, socks, messages))
    while base < end:
        for offset, s, message in pairs:
            delay = base + offset - time.time()
            if delay > 0:
                time.sleep(delay)
            try:
                s.send(message)
            except OSError:
                pass  # a full queue or a refused port loses this one, as UDP would
        base += period


if __name__ == "__main__":
    main()
