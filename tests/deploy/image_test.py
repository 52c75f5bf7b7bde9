#!/usr/bin/env python3
"""Runs the image that `make image` saved, as a user would: loads the archive
into a podman store of its own (so nothing but the archive counts), checks
its configuration, and runs it with the host's network against receivers on
127.0.0.1: one device (its device info message, its status messages, the
local time of TZ in their "time"), then a fleet of 1,000 devices (every
datagram the fleet counted arrives, from 1,000 distinct source ports, each
device's device info message among them, its /metrics served on 127.0.0.1
while it runs).

    image_test.py --archive dist/tovrik-VERSION-image.tar --version VERSION --conf containers.conf

Exits 77 (a skip for ctest), saying why, where podman is missing or cannot
run containers on this machine.
"""

import argparse
import datetime
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from deploy_checks import Receiver, check, failures, skip, verdict

SHANGHAI = datetime.timezone(datetime.timedelta(hours=8))  # no daylight saving time


class Podman:
    """podman on a store of the test's own, with the machine's settings."""

    def __init__(self, workdir, conf):
        self.base = ["podman", "--root", os.path.join(workdir, "root"), "--runroot", os.path.join(workdir, "run"),
                     "--storage-driver", "vfs"]
        self.env = dict(os.environ, CONTAINERS_CONF=conf)

    def __call__(self, *args, timeout=120):
        return subprocess.run(self.base + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=timeout, check=False)


def sent_count(stdout):
    found = re.search(r"^sent (\d+) datagrams in .*; (\d+) could not be sent$", stdout, re.M)
    return (int(found.group(1)), int(found.group(2))) if found else (None, None)


def json_of(data):
    try:
        value = json.loads(data)
    except ValueError:
        return None
    return value if isinstance(value, dict) else None


def check_config(archive, version):
    """The archive's own configuration, read without podman."""
    if shutil.which("skopeo") is None:
        print("skopeo not found: the configuration is checked after the load only")
        return
    done = subprocess.run(["skopeo", "inspect", "--config", "docker-archive:" + archive], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=60, check=False)
    if not check(done.returncode == 0, "skopeo inspect: %s" % done.stderr.strip()):
        return
    config = json.loads(done.stdout).get("config", {})
    check(config.get("Entrypoint") == ["tovrik-cli"], "entrypoint tovrik-cli, found %r" % config.get("Entrypoint"))
    check(config.get("User") == "65534:65534", "runs as 65534:65534, found %r" % config.get("User"))
    label = (config.get("Labels") or {}).get("org.opencontainers.image.version")
    check(label == version, "version label %s, found %r" % (version, label))


def run_one_device(podman, image):
    receiver = Receiver()
    done = podman("run", "--rm", "--network", "host", "-e", "TZ=Asia/Shanghai", image, "-t", "127.0.0.1", "-p",
                  str(receiver.port), "--stop-after", "2.5", timeout=60)
    datagrams = receiver.finish()
    if not check(done.returncode == 0, "one device: exit %d: %s" % (done.returncode, done.stderr.strip())):
        return
    sent, unsent = sent_count(done.stdout)
    if not check(sent is not None, "one device: no summary in %r" % done.stdout[-500:]):
        return
    print("one device: sent %d, received %d" % (sent, len(datagrams)))
    check(unsent == 0, "one device: %d could not be sent" % unsent)
    check(sent >= 3, "one device: the device info and two status messages in 2.5 s, sent %d" % sent)
    check(len(datagrams) == sent, "one device: %d received of %d sent" % (len(datagrams), sent))
    check(len({source for _, source in datagrams}) == 1, "one device: one source")
    messages = [json_of(data) for data, _ in datagrams]
    if not check(all(messages), "one device: every datagram one JSON object"):
        return
    check(messages[0].get("cmd") == "push_info", "one device: the device info message first, got %r" % messages[0])
    status = messages[1:]
    check(all(m.get("cmd") == "push_msg" for m in status), "one device: then status messages")
    # The image carries the zone data: TZ=Asia/Shanghai is UTC+8, not UTC.
    now = datetime.datetime.now(SHANGHAI).replace(tzinfo=None)
    stamps = [datetime.datetime.strptime(m.get("time", ""), "%Y-%m-%d %H:%M:%S") for m in status if "time" in m]
    check(stamps and all(abs((now - s).total_seconds()) < 10 for s in stamps),
          "one device: \"time\" in Shanghai time (%s), got %s" % (now, [str(s) for s in stamps]))


def scrape(port, pages, done):
    """GET /metrics until one answers or done is set."""
    while not pages and not done.is_set():
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=2) as answer:
                pages.append(answer.read().decode())
        except OSError:
            time.sleep(0.2)


def run_fleet(podman, image, devices=1000):
    receiver = Receiver()
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        metrics_port = probe.getsockname()[1]
    pages, stopped = [], threading.Event()
    scraper = threading.Thread(target=scrape, args=(metrics_port, pages, stopped), daemon=True)
    scraper.start()
    done = podman("run", "--rm", "--network", "host", image, "--devices", str(devices), "--spread", "-t",
                  "127.0.0.1", "-p", str(receiver.port), "--stop-after", "3", "--metrics",
                  "127.0.0.1:%d" % metrics_port, timeout=90)
    stopped.set()
    scraper.join()
    datagrams = receiver.finish()
    check(pages and 'tovrik_devices{shard="0/1"} %d' % devices in pages[0],
          "fleet: /metrics served while it ran, got %r" % pages[:1])
    if not check(done.returncode == 0, "fleet: exit %d: %s" % (done.returncode, done.stderr.strip()[-2000:])):
        return
    sent, unsent = sent_count(done.stdout)
    if not check(sent is not None, "fleet: no summary in %r" % done.stdout[-500:]):
        return
    sources = {source for _, source in datagrams}
    print("fleet: sent %d, received %d from %d source ports" % (sent, len(datagrams), len(sources)))
    check(unsent == 0, "fleet: %d could not be sent" % unsent)
    check(len(datagrams) == sent, "fleet: %d received of %d sent" % (len(datagrams), sent))
    check({address for address, _ in sources} == {"127.0.0.1"}, "fleet: every source on 127.0.0.1")
    check(len(sources) == devices, "fleet: %d distinct source ports, expected %d" % (len(sources), devices))
    info, by_device = {}, {}
    for data, source in datagrams:
        message = json_of(data) or {}
        imei = message.get("IMEI")
        by_device.setdefault(imei, set()).add(source)
        if message.get("cmd") == "push_info":
            info[imei] = info.get(imei, 0) + 1
    check(len(by_device) == devices and None not in by_device, "fleet: %d distinct IMEIs, found %d"
          % (devices, len(by_device)))
    check(all(len(s) == 1 for s in by_device.values()), "fleet: each device sends from one socket")
    check(len(info) == devices and set(info.values()) == {1}, "fleet: one device info message per device")
    # Every device's first status follows within its first second (--spread).
    check(sent >= 2 * devices, "fleet: at least the device info and one status message each, sent %d" % sent)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--archive", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--conf", required=True, help="containers.conf with this machine's limits and runtime")
    args = ap.parse_args()
    if shutil.which("podman") is None:
        skip("podman is not installed (make image installs it)")
    if not os.path.isfile(args.archive):
        check(False, "%s does not exist: make image saves it" % args.archive)
        return 1
    check_config(args.archive, args.version)

    with tempfile.TemporaryDirectory(prefix="tovrik-image-test-") as workdir:
        podman = Podman(workdir, os.path.abspath(args.conf))
        try:
            loaded = podman("load", "-i", args.archive)
            check(loaded.returncode == 0, "podman load: %s" % loaded.stderr.strip())
            for name in ("localhost/tovrik:", "docker.io/library/tovrik:"):
                check("Loaded image: %s%s" % (name, args.version) in loaded.stdout,
                      "podman load names %s%s: %r" % (name, args.version, loaded.stdout))
            image = "tovrik:" + args.version
            probe = podman("run", "--rm", "--network", "host", image, "--version", timeout=60)
            # 125 and 126: podman could not create or start the container at
            # all (the runtime, namespaces, cgroups), before any of the image
            # ran; limits above the machine's are the settings' fault, though.
            if probe.returncode in (125, 126) and not probe.stdout:
                if "rlimit" in probe.stderr:
                    check(False, "%s asks for more than this machine's hard limits: %s"
                          % (args.conf, probe.stderr.strip()))
                    return 1
                skip("podman cannot run containers here: " + probe.stderr.strip())
            check(probe.returncode == 0 and probe.stdout.strip() == "tovrik-cli " + args.version,
                  "--version in the image: exit %d, %r %r" % (probe.returncode, probe.stdout, probe.stderr))
            if not failures:
                run_one_device(podman, image)
                run_fleet(podman, image)
        finally:
            podman("rmi", "--all", "--force")
    return verdict("image")


if __name__ == "__main__":
    sys.exit(main())
