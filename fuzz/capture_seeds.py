#!/usr/bin/env python3
"""Writes the capture fuzzer's seeds: small pcap files of UDP datagrams with
messages on each link type read, one with a VLAN tag and one IPv6 frame with
an extension header. Usage: capture_seeds.py DIR"""
import os
import struct
import sys


def ipv4_udp(payload, sport=4000):
    udp = struct.pack("!HHHH", sport, 51609, 8 + len(payload), 0) + payload
    return struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                       bytes([127, 0, 0, 7]), bytes([127, 0, 0, 1])) + udp


def ipv6_udp(payload, sport=4001):
    udp = struct.pack("!HHHH", sport, 51609, 8 + len(payload), 0) + payload
    hop = bytes([17, 0]) + bytes(6)
    body = hop + udp
    return struct.pack("!IHBB", 0x60000000, len(body), 0, 64) + bytes(15) + b"\x09" + bytes(15) + b"\x01" + body


def pcap(link, frames):
    out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, link)
    for i, frame in enumerate(frames):
        out += struct.pack("<IIII", 1796724000 + i, 250000 * i, len(frame), len(frame)) + frame
    return out


def main():
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    message = b'{"IMEI":"860","time":"2020-07-18 15:22:59"}{"IMEI":"861"}'
    v4, v6 = ipv4_udp(message), ipv6_udp(message)
    eth = lambda ip, t: b"\x02" * 12 + b"\x81\x00\x00\x64" + struct.pack("!H", t) + ip
    seeds = {
        "ethernet-vlan": pcap(1, [eth(v4, 0x0800), eth(v6, 0x86DD)]),
        "sll": pcap(113, [b"\x00\x00\x03\x04\x00\x06" + b"\x02" * 8 + b"\x08\x00" + v4]),
        "sll2": pcap(276, [b"\x86\xdd\x00\x00\x00\x00\x00\x01\x03\x04\x00\x06" + b"\x02" * 8 + v6]),
        "raw": pcap(101, [v4, v6]),
        "loopback": pcap(0, [b"\x02\x00\x00\x00" + v4]),
    }
    for name, data in seeds.items():
        with open(os.path.join(target, name + ".pcap"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
