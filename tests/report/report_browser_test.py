#!/usr/bin/env python3
"""Opens fleet reports in a real browser (Debian's headless Chromium): the
report a fleet run writes itself (--report) when it is stopped with SIGINT,
and one merged (tovrik-cli report) from the --stats-json files of M shards
run at once; all of them against a receiver on 127.0.0.1. Each must render (a
screenshot of non-trivial size that is not one flat colour) and its DOM, as
the browser built it, must hold the plots as SVG with a point per second of
the merged series. A command line full of markup must stay text.

    report_browser_test.py --cli PATH/tovrik-cli [--chromium PATH]
"""

import argparse
import html.parser
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import zlib

ARGS = None
SHARDS = 3
DEVICES = 60
RUN_SECONDS = "3.5"
# The run that writes its own report is stopped after about as long.
STOP_AFTER_SECONDS = 3.3
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class Receiver:
    """A UDP socket on 127.0.0.1 that counts what reaches it, and with echo
    answers each datagram with a copy."""

    def __init__(self, echo=False):
        self.echo = echo
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.count = 0
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            try:
                data, sender = self.sock.recvfrom(65536)
                self.count += 1
                if self.echo:
                    self.sock.sendto(data, sender)
            except socket.timeout:
                pass

    def close(self):
        self.stop = True
        self.thread.join()
        self.sock.close()


class Dom(html.parser.HTMLParser):
    """What a report's DOM holds: its plots, scripts, event handlers, texts."""

    def __init__(self):
        super().__init__()
        self.svgs = 0
        self.polylines = []
        self.circles = 0
        self.bars = 0
        self.scripts = 0
        self.handlers = []
        self.title = ""
        self.pre = []
        self.cells = []
        self._where = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.handlers += [name for name in attrs if name.startswith("on")]
        if tag == "svg":
            self.svgs += 1
        elif tag == "polyline":
            self.polylines.append((attrs.get("data-series"), attrs.get("points", "").split()))
        elif tag == "circle":
            self.circles += 1
        elif tag == "rect" and attrs.get("class") == "bar":
            self.bars += 1
        elif tag == "script":
            self.scripts += 1
        if tag in ("title", "pre", "td") and self._where is None:
            self._where = tag
            {"title": lambda: None, "pre": lambda: self.pre.append(""), "td": lambda: self.cells.append("")}[tag]()

    def handle_endtag(self, tag):
        if tag == self._where:
            self._where = None

    def handle_data(self, data):
        if self._where == "title" and not self.svgs:
            self.title += data
        elif self._where == "pre":
            self.pre[-1] += data
        elif self._where == "td":
            self.cells[-1] += data


def bind_address(k):
    """A loopback address of shard k's own, so that the shards' sockets do not
    draw on the ephemeral ports other programs on this machine hold."""
    return "127.0.%d.%d" % (200 + k // 250, 1 + k % 250)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=120, **kwargs)


def chromium(url, *flags):
    profile = tempfile.mkdtemp(prefix="tovrik-chromium-")
    try:
        return subprocess.run([ARGS.chromium] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile] + list(flags) + [url],
                              capture_output=True, timeout=180)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def png_pixels(path):
    """Width, height and the decompressed scanlines of a PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height = struct.unpack(">II", body[:8])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    return width, height, zlib.decompress(idat)


def merged_seconds(stats):
    """The wall-clock seconds a merged report covers, computed here from the
    files themselves: second t of a file counts for the wall-clock second
    nearest its start."""
    keys = set()
    for s in stats:
        keys.update((s["start_unix_ms"] + (e["t"] - 1) * 1000 + 500) // 1000 for e in s["series"])
    return max(keys) - min(keys) + 1 if keys else 0


class ReportInBrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="tovrik-report-")
        receiver = Receiver()
        try:
            shards = []
            for k in range(SHARDS):
                path = os.path.join(cls.dir, "shard%d.json" % k)
                shards.append((path, subprocess.Popen(
                    [ARGS.cli, "-p", str(receiver.port), "--devices", str(DEVICES), "--spread",
                     "--shard", "%d/%d" % (k, SHARDS), "--bind", bind_address(k), "-q", "--stop-after", RUN_SECONDS,
                     "--stats-json", path],
                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)))
            cls.one_json = os.path.join(cls.dir, "one.json")
            cls.one_html = os.path.join(cls.dir, "one.html")
            one = subprocess.Popen(
                [ARGS.cli, "-p", str(receiver.port), "--devices", "25", "--bind", bind_address(SHARDS), "-q",
                 "--stats-json", cls.one_json, "--report", cls.one_html],
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            try:
                one.wait(timeout=STOP_AFTER_SECONDS)
            except subprocess.TimeoutExpired:
                one.send_signal(signal.SIGINT)
            for path, process in shards + [(cls.one_json, one)]:
                _, err = process.communicate(timeout=60)
                assert process.returncode == 0, err
        finally:
            receiver.close()
        # Replies matched to their datagrams, judged by a threshold.
        echo = Receiver(echo=True)
        cls.replies_html = os.path.join(cls.dir, "replies.html")
        try:
            done = run([ARGS.cli, "-p", str(echo.port), "--devices", "10", "--spread", "--replies", "-q",
                        "--stop-after", "2.5", "--threshold", "rtt_p99<1s", "--report", cls.replies_html])
            assert done.returncode == 0, done.stderr
        finally:
            echo.close()
        cls.received = receiver.count
        cls.shard_files = [path for path, _ in shards]
        cls.stats = []
        for path in cls.shard_files:
            with open(path, encoding="utf-8") as f:
                cls.stats.append(json.load(f))
        with open(cls.one_json, encoding="utf-8") as f:
            cls.one_stats = json.load(f)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def report(self, name, files):
        out = os.path.join(self.dir, name)
        result = run([ARGS.cli, "report"] + files + ["-o", out])
        self.assertEqual(result.returncode, 0, result.stderr)
        return out

    def render(self, page):
        """The screenshot checked, then the DOM as the browser built it."""
        shot = page + ".png"
        result = chromium("file://" + page, "--window-size=1100,2600", "--screenshot=" + shot)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        self.assertGreater(os.path.getsize(shot), 30000)
        width, height, pixels = png_pixels(shot)
        self.assertEqual((width, height), (1100, 2600))
        # Text, axes, lines and bars: many grey levels and colours, not a
        # blank page.
        self.assertGreater(len(set(pixels[::7])), 40)
        result = chromium("file://" + page, "--dump-dom")
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        dom = Dom()
        dom.feed(result.stdout.decode("utf-8"))
        self.assertEqual(dom.scripts, 0)
        self.assertEqual(dom.handlers, [])
        return dom

    def check_plots(self, dom, seconds):
        self.assertEqual(dom.svgs, 5)
        self.assertEqual([name for name, _ in dom.polylines],
                         ["datagrams", "send errors", "replies", "p50", "p99", "max"])
        for name, points in dom.polylines:
            self.assertEqual(len(points), seconds, name)
        self.assertGreater(dom.bars, 0)

    def test_a_stopped_run_writes_its_own_report_with_a_point_per_second(self):
        dom = self.render(self.one_html)
        self.assertGreaterEqual(len(self.one_stats["series"]), 3)
        self.check_plots(dom, len(self.one_stats["series"]))
        self.assertTrue(dom.title.startswith("Fleet run of 25 devices, "), dom.title)
        self.assertTrue(dom.cells[1].startswith("{:,} (".format(self.one_stats["sent"])), dom.cells[1])
        self.assertEqual(len(dom.pre), 1)
        self.assertIn("--report " + self.one_html, dom.pre[0])

    def test_one_shards_file_makes_a_report_too(self):
        dom = self.render(self.report("shard0.html", self.shard_files[:1]))
        self.check_plots(dom, len(self.stats[0]["series"]))
        self.assertTrue(dom.title.startswith("Fleet run of %d devices, " % (DEVICES // SHARDS)), dom.title)
        self.assertIn("1 of %d (no file for shards 1, 2)" % SHARDS, dom.cells)

    def test_the_shards_merge_into_one_report(self):
        sent = sum(s["sent"] for s in self.stats)
        # Every datagram the runs counted reached the receiver on loopback.
        self.assertEqual(sent + self.one_stats["sent"], self.received)
        dom = self.render(self.report("merged.html", self.shard_files))
        self.check_plots(dom, merged_seconds(self.stats))
        self.assertEqual(dom.cells[0], "{:,} of a fleet of {:,}".format(DEVICES, DEVICES))
        self.assertTrue(dom.cells[1].startswith("{:,} (".format(sent)), dom.cells[1])
        self.assertIn("%d of %d" % (SHARDS, SHARDS), dom.cells)
        self.assertEqual(len(dom.pre), SHARDS)

    def test_replies_add_round_trips_and_losses_and_the_thresholds_table(self):
        dom = self.render(self.replies_html)
        self.assertEqual(dom.svgs, 8)
        self.assertEqual([name for name, _ in dom.polylines],
                         ["datagrams", "send errors", "replies", "p50", "p99", "max", "p50", "p99", "max",
                          "datagrams lost"])
        self.assertIn("rtt_p99<1s", dom.cells)
        self.assertEqual(dom.cells[dom.cells.index("rtt_p99<1s") + 2], "ok")

    def test_a_command_line_full_of_markup_stays_text(self):
        stats = dict(self.stats[0])
        hostile = ["tovrik-cli", "--text", "</script><script>document.title='owned'</script>",
                   "--import", "<svg onload=alert(1)>", "-t", "设备 & \"quotes\""]
        stats["command_line"] = hostile
        path = os.path.join(self.dir, "hostile.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(stats, f, ensure_ascii=False)
        dom = self.render(self.report("hostile.html", [path]))
        self.assertNotIn("owned", dom.title)
        self.assertEqual(dom.svgs, 5)
        self.assertIn("'</script><script>document.title='\\''owned'\\''</script>'", dom.pre[0])
        self.assertIn("'<svg onload=alert(1)>'", dom.pre[0])
        self.assertIn("'设备 & \"quotes\"'", dom.pre[0])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    ARGS, rest = parser.parse_known_args()
    if not shutil.which(ARGS.chromium):
        print("no browser at %s: scripts/setup.sh installs Debian's chromium" % ARGS.chromium, file=sys.stderr)
        return 1
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
