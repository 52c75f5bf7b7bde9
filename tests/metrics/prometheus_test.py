#!/usr/bin/env python3
"""A fleet run's metrics as a real Prometheus sees them: Prometheus on
127.0.0.1 scrapes --metrics every second while 1,000 devices send once a
second (--spread) to 127.0.0.1; its HTTP API's rate of datagrams sent and
lateness p99 are held against the run's own --stats-json. Also what the
server refuses: other paths and methods, a taken port, a bad address.

The machine may be busy with other work: the run lasts until Prometheus
holds five scrapes a second apart in its steady part, and the rate's bounds
widen by what the run and Prometheus measured of themselves (the seconds'
lateness, the scrapes' durations), not by a fixed margin.

    prometheus_test.py --cli PATH/tovrik-cli --prometheus PATH/prometheus
"""

import argparse
import json
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

ARGS = None
DEVICES = 1000
# Prometheus takes up a new target about 5 s after it starts; a busy machine
# may delay it, or a scrape, further. The run is stopped once Prometheus has
# what the test needs; this only ends it if that never comes.
MAX_RUN_SECONDS = 100
# The window of the queries, seconds, and the scrapes it holds.
WINDOW = 5
SCRAPES = 5
# Prometheus may store a scrape's time up to 2 ms before it began (its
# timestamp alignment).
ALIGNMENT = 0.002
# Prometheus's bucket edges (le), seconds.
EDGES = [0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def receiver():
    """A UDP socket on 127.0.0.1, so that nothing sent to it is refused;
    the kernel drops what its buffer cannot hold."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    sock.setblocking(False)
    return sock


class Echo:
    """Answers every datagram that reaches sock with a copy, as a device
    server acknowledges, until closed."""

    def __init__(self, sock):
        self.sock = sock
        # Room for the bursts that reach it while a loaded machine keeps
        # this thread waiting (beyond rmem_max where allowed).
        for option in (getattr(socket, "SO_RCVBUFFORCE", None), socket.SO_RCVBUF):
            try:
                if option is not None:
                    sock.setsockopt(socket.SOL_SOCKET, option, 8 << 20)
                    break
            except PermissionError:
                pass
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop.is_set():
            if select.select([self.sock], [], [], 0.1)[0]:
                try:
                    while True:
                        data, sender = self.sock.recvfrom(65536)
                        self.sock.sendto(data, sender)
                except (BlockingIOError, ConnectionRefusedError):
                    pass

    def close(self):
        self.stop.set()
        self.thread.join()


def waiting(sock):
    """The datagrams that have reached sock."""
    count = 0
    try:
        while sock.recv(65536) is not None:
            count += 1
    except BlockingIOError:
        return count


def http(url, method="GET"):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, method=method), timeout=10) as answer:
            return answer.status, answer.headers, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, ""


def wait_until(condition, seconds):
    """condition()'s first true value, asked every 0.2 s; None after seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    return None


def wait_for(url, seconds):
    def answered():
        try:
            return http(url)[0] == 200
        except OSError:
            return False
    return wait_until(answered, seconds) is not None


def start_prometheus(path, work, job, metrics_port):
    """Prometheus (the program at path) on a free port of 127.0.0.1, its
    data in work, scraping 127.0.0.1:metrics_port every second as job; the
    process and its web address."""
    if not os.access(path, os.X_OK):
        raise AssertionError("no Prometheus at %s (scripts/setup.sh installs it)" % path)
    web = "127.0.0.1:%d" % free_port()
    config = os.path.join(work, "prometheus.yml")
    with open(config, "w", encoding="utf-8") as f:
        f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n"
                "  - job_name: %s\n    static_configs:\n      - targets: ['127.0.0.1:%d']\n"
                % (job, metrics_port))
    process = subprocess.Popen(
        [path, "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(work, "data"),
         "--web.listen-address=" + web], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, web


def query(web, expr, when):
    """The result of an instant query at when (Unix seconds)."""
    arguments = urllib.parse.urlencode({"query": expr, "time": "%.3f" % when})
    body = http("http://%s/api/v1/query?%s" % (web, arguments))[2]
    return json.loads(body)["data"]["result"]


def regular_window(sent, after, before):
    """The latest SCRAPES consecutive samples of sent, from `after` to
    `before`, that are about a second apart (none missed) and are exactly
    those in the query window that ends half a second after the last: there
    Prometheus's rate is their increase over their own span. None if none."""
    for i in range(len(sent) - SCRAPES, -1, -1):
        window = sent[i:i + SCRAPES]
        if window[0][0] < after:
            break
        if window[-1][0] > before:
            continue
        gaps = [b[0] - a[0] for a, b in zip(window, window[1:])]
        when = window[-1][0] + 0.5
        inside = [sample for sample in sent if when - WINDOW <= sample[0] <= when]
        if all(0.9 <= gap <= 1.1 for gap in gaps) and inside == window:
            return window
    return None


def fleet(port, metrics, *extra):
    return [ARGS.cli, "--devices", str(DEVICES), "-m", "0", "--spread", "-t", "127.0.0.1", "-p", str(port), "-q",
            "--metrics", metrics] + list(extra)


class PrometheusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.TemporaryDirectory(prefix="tovrik-prometheus-")
        work = cls.workdir.name
        cls.metrics_port = free_port()
        cls.sink = receiver()
        echo = Echo(cls.sink)
        prometheus, cls.web = start_prometheus(ARGS.prometheus, work, "tovrik", cls.metrics_port)
        run = None
        try:
            if not wait_for("http://%s/-/ready" % cls.web, 60):
                raise AssertionError("Prometheus did not get ready")
            stats_path = os.path.join(work, "stats.json")
            run = subprocess.Popen(fleet(cls.sink.getsockname()[1], "127.0.0.1:%d" % cls.metrics_port,
                                         "--stop-after", str(MAX_RUN_SECONDS), "--stats-json", stats_path,
                                         "--replies"),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            url = "http://127.0.0.1:%d" % cls.metrics_port
            if not wait_for(url + "/metrics", 10):
                run.kill()
                raise AssertionError("no metrics served: " + run.communicate()[1])
            cls.answers = {(path, method): http(url + path, method)
                           for path, method in [("/metrics", "HEAD"), ("/metrics", "POST"), ("/", "GET"),
                                                ("/metrics/x", "GET")]}
            other = receiver()
            cls.taken = subprocess.run(fleet(other.getsockname()[1], "127.0.0.1:%d" % cls.metrics_port),
                                       capture_output=True, text=True, timeout=60)
            # Loopback delivers within sendto: whatever the refused run sent
            # is queued ahead of this marker.
            other.sendto(b"marker", other.getsockname())
            cls.taken_received = waiting(other) - 1
            other.close()

            # The run goes on until Prometheus holds such scrapes three
            # seconds after its first one (the device info messages behind
            # them) and 3.5 s before its latest (whole seconds of the run
            # after them).
            def steady_window():
                sent = cls.samples("tovrik_datagrams_sent_total")
                return sent and regular_window(sent, sent[0][0] + 3, sent[-1][0] - 3.5)
            found = wait_until(steady_window, MAX_RUN_SECONDS - 25)
            run.send_signal(signal.SIGINT)
            _, cls.stderr = run.communicate(timeout=60)
            cls.exit_code = run.returncode
            if not found:
                raise AssertionError("Prometheus stored no %d scrapes a second apart" % SCRAPES)
            with open(stats_path, encoding="utf-8") as f:
                cls.stats = json.load(f)
            start = cls.stats["start_unix_ms"] / 1000
            cls.window = regular_window(cls.samples("tovrik_datagrams_sent_total"), start + 2,
                                        start + cls.stats["seconds"] - 3)
            if cls.window is None:
                raise AssertionError("no scrapes a second apart from 2 s after the start to 3 s before the end")
            durations = dict(cls.samples('scrape_duration_seconds{job="tovrik"}'))
            cls.duration = max(durations[t] for t, _ in cls.window)
            cls.when = cls.window[-1][0] + 0.5
            cls.queries = {}
            for name, expr in [
                    ("rate", "sum(rate(tovrik_datagrams_sent_total[%ds]))" % WINDOW),
                    ("p99", "histogram_quantile(0.99, sum(rate(tovrik_lateness_seconds_bucket[%ds])) by (le))"
                     % WINDOW),
                    ("rtt_count", "sum(tovrik_reply_rtt_seconds_count)"),
                    ("lost", "sum(tovrik_replies_lost_total)"),
                    ("rtt_p50", "histogram_quantile(0.5, sum(rate(tovrik_reply_rtt_seconds_bucket[%ds])) by (le))"
                     % WINDOW)]:
                result = query(cls.web, expr, cls.when)
                cls.queries[name] = float(result[0]["value"][1]) if result else None
        finally:
            if run is not None and run.poll() is None:
                run.kill()
                run.wait()
            prometheus.kill()
            prometheus.wait()
            echo.close()
            cls.sink.close()

    @classmethod
    def samples(cls, series):
        """The stored samples of one series of the last ten minutes, as
        (seconds, value)."""
        result = query(cls.web, series + "[10m]", time.time())
        return [(float(t), float(v)) for t, v in result[0]["values"]] if result else []

    @classmethod
    def tearDownClass(cls):
        cls.workdir.cleanup()

    def test_prometheus_rate_and_p99_match_the_runs_own_figures(self):
        self.assertEqual(self.exit_code, 0, self.stderr)
        start = self.stats["start_unix_ms"] / 1000
        (first, _), (last, _) = self.window[0], self.window[-1]
        # The scrapes read the counters between their stored time and its
        # end; the run's seconds that hold them, and one either side (its
        # seconds are taken by a thread that may itself be late).
        read = self.duration + ALIGNMENT
        begin, end = int(first - start) - 1, int(last + read - start) + 2
        # Whole seconds only: the last may be cut short by the stop.
        seconds = self.stats["series"][:-1][begin:end]
        self.assertEqual(len(seconds), end - begin, "the window's seconds are inside the run")
        # Each device is due once a second, evenly spread; a datagram goes
        # out no later than its second's maximum lateness after it is due.
        # So between two readings a span s apart, N (s - slack) datagrams
        # at least went out, N (s + slack) at most, errors aside.
        late = max(s["max_ms"] for s in seconds) / 1000
        errors = sum(s["send_errors"] for s in seconds)
        span = last - first
        slack = read + late
        low = (DEVICES * (span - slack) - 1 - errors) / span
        high = (DEVICES * (span + slack) + 1) / span
        rate = self.queries["rate"]
        self.assertIsNotNone(rate)
        self.assertTrue(low <= rate <= high, (rate, low, high, self.window, self.duration, seconds))
        # The window's p99 lies between its seconds' own p99 (each within
        # the run's 6 % buckets); Prometheus puts it inside the fixed bucket
        # that holds it.
        low = min(s["p99_ms"] for s in seconds) / 1000 * 0.97
        high = max(s["p99_ms"] for s in seconds) / 1000 * 1.03
        p99 = self.queries["p99"]
        self.assertIsNotNone(p99)
        upper = next(i for i, edge in enumerate(EDGES) if p99 <= edge)
        self.assertTrue((EDGES[upper - 1] if upper else 0) <= high and low <= EDGES[upper],
                        (p99, [s["p99_ms"] for s in seconds]))

    def test_the_replies_round_trips_are_served_as_the_run_counted_them(self):
        matching = self.stats["reply_matching"]
        # Scraped during the run: at most what its end counted, and the
        # echo on loopback answers nearly every datagram, within the
        # timeout's buckets.
        self.assertIsNotNone(self.queries["rtt_count"])
        self.assertGreater(self.queries["rtt_count"], 0)
        self.assertLessEqual(self.queries["rtt_count"], matching["matched"])
        self.assertLessEqual(self.queries["lost"], matching["lost"])
        self.assertLessEqual(matching["lost"], self.stats["sent"] * 0.01)
        self.assertIsNotNone(self.queries["rtt_p50"])
        self.assertLess(self.queries["rtt_p50"], 1.0)

    def test_only_get_and_head_of_metrics_are_answered(self):
        self.assertEqual({key: answer[0] for key, answer in self.answers.items()},
                         {("/metrics", "HEAD"): 200, ("/metrics", "POST"): 405, ("/", "GET"): 404,
                          ("/metrics/x", "GET"): 404})
        self.assertEqual(self.answers[("/metrics", "HEAD")][1]["Content-Type"],
                         "text/plain; version=0.0.4; charset=utf-8")

    def test_a_taken_port_ends_the_run_before_it_sends(self):
        self.assertEqual(self.taken.returncode, 1)
        self.assertIn("127.0.0.1:%d: Address already in use" % self.metrics_port, self.taken.stderr)
        self.assertEqual(self.taken_received, 0)

    def test_a_bad_address_is_a_usage_error(self):
        for value in ["127.0.0.1", "127.0.0:9464", "host:9464", "127.0.0.1:65536", "127.0.0.1:x"]:
            done = subprocess.run(fleet(9, value, "--dry-run"), capture_output=True, text=True, timeout=60)
            self.assertEqual(done.returncode, 64, value)
            self.assertIn("--metrics", done.stderr, value)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--prometheus", default="/usr/bin/prometheus")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
