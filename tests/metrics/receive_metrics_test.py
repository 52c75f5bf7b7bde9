#!/usr/bin/env python3
"""tovrik-cli receive's metrics as a real Prometheus sees them: Prometheus on
127.0.0.1 scrapes receive --metrics every second while a device sends it
numbered status messages with one number missing, one twice and one late,
and a malformed datagram; once every datagram is in, Prometheus's latest
values must be the counts sent, and the run's own stats file must agree.

    receive_metrics_test.py --cli PATH/tovrik-cli --prometheus PATH/prometheus
"""

import argparse
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from prometheus_test import free_port, query, start_prometheus, wait_for, wait_until

ARGS = None
# The numbers sent: 1 to 100 without 10, 20 twice, 31 after 32; then 100 is
# 90 above 10, which has left the window and is lost.
NUMBERS = [n for n in range(1, 101) if n not in (10, 31)]
NUMBERS.insert(NUMBERS.index(20), 20)
NUMBERS.insert(NUMBERS.index(32) + 1, 31)
EXPECTED = {"tovrik_receive_datagrams_total": len(NUMBERS) + 1, "tovrik_receive_malformed_total": 1,
            "tovrik_receive_lost_total": 1, "tovrik_receive_duplicates_total": 1,
            "tovrik_receive_reordered_total": 1, "tovrik_receive_devices": 1}


class ReceiveMetricsTest(unittest.TestCase):
    def test_prometheus_holds_what_was_received(self):
        with tempfile.TemporaryDirectory(prefix="tovrik-receive-metrics-") as work:
            metrics_port = free_port()
            stats = os.path.join(work, "stats.json")
            prometheus, web = start_prometheus(ARGS.prometheus, work, "receive", metrics_port)
            run = subprocess.Popen([ARGS.cli, "receive", "-l", "127.0.0.1:0", "--counter", "packnum", "-q",
                                    "--metrics", "127.0.0.1:%d" % metrics_port, "--stats-json", stats,
                                    "--stop-after", "120"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            try:
                # "receive: listening on 127.0.0.1:P, ..."
                port = int(run.stderr.readline().split(":")[2].split(",")[0])
                self.assertTrue(wait_for("http://127.0.0.1:%d/metrics" % metrics_port, 10), "no metrics served")
                self.assertTrue(wait_for("http://%s/-/ready" % web, 60), "Prometheus did not get ready")
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as device:
                    for n in NUMBERS:
                        device.sendto(b'{"cmd":"push_msg","IMEI":"860000000000001","packnum":"%d"}' % n,
                                      ("127.0.0.1", port))
                    device.sendto(b'{"IMEI":', ("127.0.0.1", port))

                def latest():
                    values = {}
                    for name in EXPECTED:
                        result = query(web, name, time.time())
                        values[name] = int(float(result[0]["value"][1])) if result else None
                    return values if values == EXPECTED else None
                got = wait_until(latest, 60)
                run.send_signal(signal.SIGINT)
                run.communicate(timeout=60)
                self.assertEqual(got, EXPECTED, "Prometheus's latest values")
                self.assertEqual(run.returncode, 0)
                with open(stats, encoding="utf-8") as f:
                    record = json.load(f)
                self.assertEqual((record["datagrams"], record["lost"], record["duplicates"], record["reordered"]),
                                 (len(NUMBERS) + 1, 1, 1, 1))
            finally:
                if run.poll() is None:
                    run.kill()
                    run.wait()
                prometheus.kill()
                prometheus.wait()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--prometheus", default="/usr/bin/prometheus")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
