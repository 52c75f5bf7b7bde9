"""What the tests of the installed programs share: their checks and verdict,
a UDP receiver on 127.0.0.1, and a short run of tovrik-cli held against what
reached it."""

import re
import socket
import sys
import threading
import time

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED: " + what, flush=True)
    return ok


def skip(why):
    """Skips, unless something already failed: then that is the answer."""
    if failures:
        print("and: " + why, flush=True)
        sys.exit(1)
    print("SKIPPED: " + why, flush=True)
    sys.exit(SKIP)


def verdict(name):
    """Says how the checks went; the exit code."""
    print("%s: %s" % (name, "%d check(s) failed" % len(failures) if failures else "all checks passed"), flush=True)
    return 1 if failures else 0

# One device, mode 100ms, once: the device info message, then the status
# message 100 ms later, and the run ends.
SHORT_RUN = ["-m", "100ms", "--no-loop"]


class Receiver:
    """A UDP socket on 127.0.0.1 that keeps every datagram and its source."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for option in (getattr(socket, "SO_RCVBUFFORCE", None), socket.SO_RCVBUF):
            try:
                self.sock.setsockopt(socket.SOL_SOCKET, option, 16 << 20)
                break
            except (OSError, TypeError):
                continue
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.datagrams = []
        self.stopping = False
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        while True:
            try:
                data, source = self.sock.recvfrom(65536)
            except socket.timeout:
                if self.stopping:
                    return
                continue
            self.datagrams.append((data, source))

    def finish(self):
        """Everything that came, once the queue has been quiet for a moment."""
        time.sleep(0.5)
        self.stopping = True
        self.thread.join()
        self.sock.close()
        return self.datagrams


def short_run_problem(stdout, datagrams):
    """What is wrong with a SHORT_RUN that printed stdout, its datagrams
    (data, source) received, or None: each datagram its line announced must
    have come, with the size the line says, and hold an "IMEI"."""
    sizes = [int(size) for size in re.findall(r" 127\.0\.0\.1:\d+ (\d+) bytes$", stdout, re.M)]
    received = [len(data) for data, _ in datagrams]
    if len(sizes) < 2 or sizes != received:
        return "the receiver got datagrams of %s bytes, the run's lines say %s" % (received, sizes)
    if not all(b'"IMEI"' in data for data, _ in datagrams):
        return "a datagram without \"IMEI\": %r" % datagrams
    return None
