#!/usr/bin/env python3
"""A fleet run's metrics as a real Prometheus sees them: Prometheus on
127.0.0.1 scrapes --metrics every second while 1,000 devices send once a
second (--spread) to 127.0.0.1; its HTTP API's rate of datagrams sent and
lateness p99 are held against the run's own --stats-json. Also what the
server refuses: other paths and methods, a taken port, a bad address.

    prometheus_test.py --cli PATH/tovrik-cli --prometheus PATH/prometheus
"""

import argparse
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

ARGS = None
DEVICES = 1000
# Prometheus takes up a new target about 5 s after it starts.
RUN_SECONDS = 15
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


def wait_for(url, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if http(url)[0] == 200:
                return True
        except OSError:
            pass
        time.sleep(0.2)
    return False


def fleet(port, metrics, *extra):
    return [ARGS.cli, "--devices", str(DEVICES), "-m", "0", "--spread", "-t", "127.0.0.1", "-p", str(port), "-q",
            "--metrics", metrics] + list(extra)


class PrometheusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(ARGS.prometheus, os.X_OK):
            raise AssertionError("no Prometheus at %s (scripts/setup.sh installs it)" % ARGS.prometheus)
        cls.workdir = tempfile.TemporaryDirectory(prefix="tovrik-prometheus-")
        work = cls.workdir.name
        cls.metrics_port = free_port()
        web = "127.0.0.1:%d" % free_port()
        cls.api = "http://%s/api/v1/query" % web
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w", encoding="utf-8") as f:
            f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n"
                    "  - job_name: tovrik\n    static_configs:\n      - targets: ['127.0.0.1:%d']\n"
                    % cls.metrics_port)
        cls.sink = receiver()
        prometheus = subprocess.Popen(
            [ARGS.prometheus, "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(work, "data"),
             "--web.listen-address=" + web], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_for("http://%s/-/ready" % web, 60):
                raise AssertionError("Prometheus did not get ready")
            stats_path = os.path.join(work, "stats.json")
            run = subprocess.Popen(fleet(cls.sink.getsockname()[1], "127.0.0.1:%d" % cls.metrics_port,
                                         "--stop-after", str(RUN_SECONDS), "--stats-json", stats_path),
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
            time.sleep(0.3)
            cls.taken_received = waiting(other)
            other.close()
            _, cls.stderr = run.communicate(timeout=RUN_SECONDS + 60)
            cls.exit_code = run.returncode
            with open(stats_path, encoding="utf-8") as f:
                cls.stats = json.load(f)
            # The run's last scrape in the store before the queries.
            time.sleep(2)
            first = cls.query("tovrik_datagrams_sent_total[60s]", time.time())[0]["values"][0][0]
            # Inside the steady part: 5 s windows after the first scrape.
            cls.when = first + 6.5
            cls.queries = {}
            for name, expr in [
                    ("rate", "sum(rate(tovrik_datagrams_sent_total[5s]))"),
                    ("p99", "histogram_quantile(0.99, sum(rate(tovrik_lateness_seconds_bucket[5s])) by (le))")]:
                result = cls.query(expr, cls.when)
                cls.queries[name] = float(result[0]["value"][1]) if result else None
        finally:
            prometheus.kill()
            prometheus.wait()
            cls.sink.close()

    @classmethod
    def query(cls, expr, when):
        body = http(cls.api + "?" + urllib.parse.urlencode({"query": expr, "time": "%.3f" % when}))[2]
        return json.loads(body)["data"]["result"]

    @classmethod
    def tearDownClass(cls):
        cls.workdir.cleanup()

    def test_prometheus_rate_and_p99_match_the_runs_own_figures(self):
        self.assertEqual(self.exit_code, 0, self.stderr)
        self.assertLess(self.when, self.stats["start_unix_ms"] / 1000 + RUN_SECONDS - 1)
        steady = [s["sent"] for s in self.stats["series"][2:-1]]
        run_rate = sum(steady) / len(steady)
        self.assertIsNotNone(self.queries["rate"])
        self.assertLess(abs(self.queries["rate"] - run_rate), 0.01 * run_rate, (self.queries, steady))
        # The window's p99 lies between its seconds' own p99 (each within
        # the run's 6 % buckets); Prometheus puts it inside the fixed bucket
        # that holds it.
        start = self.stats["start_unix_ms"] / 1000
        seconds = self.stats["series"][int(self.when - 5 - start):int(self.when - start) + 1]
        low = min(s["p99_ms"] for s in seconds) / 1000 * 0.97
        high = max(s["p99_ms"] for s in seconds) / 1000 * 1.03
        p99 = self.queries["p99"]
        self.assertIsNotNone(p99)
        upper = next(i for i, edge in enumerate(EDGES) if p99 <= edge)
        self.assertTrue((EDGES[upper - 1] if upper else 0) <= high and low <= EDGES[upper],
                        (p99, [s["p99_ms"] for s in seconds]))

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
