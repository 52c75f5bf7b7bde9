#!/usr/bin/env python3
"""The plain Python receiver that tovrik-cli receive is compared with: one
UDP socket read with recvfrom, each datagram parsed with json.loads and
counted per "IMEI" in a dict, as a simple server written in Python would.

    py_receiver.py --port P [--bind 127.0.0.1]

Prints "port P" once bound; on SIGINT or SIGTERM prints one JSON object,
{"datagrams": N, "malformed": M, "devices": D}.
"""

import argparse
import json
import signal
import socket
import sys

WANTED_BUFFER = 32 << 20


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--bind", default="127.0.0.1")
    args = ap.parse_args()

    stop = []
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, 33, WANTED_BUFFER)  # SO_RCVBUFFORCE, as root
    except OSError:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, WANTED_BUFFER)
    sock.bind((args.bind, args.port))
    sock.settimeout(0.1)
    print("port %d" % sock.getsockname()[1], flush=True)

    devices = {}
    datagrams = malformed = 0
    while not stop:
        try:
            data = sock.recv(65536)
        except (socket.timeout, InterruptedError):
            continue
        datagrams += 1
        try:
            message = json.loads(data)
            imei = message["IMEI"]
        except (ValueError, KeyError, TypeError):
            malformed += 1
            continue
        devices[imei] = devices.get(imei, 0) + 1
    json.dump({"datagrams": datagrams, "malformed": malformed, "devices": len(devices)}, sys.stdout)
    print()


if __name__ == "__main__":
    main()
