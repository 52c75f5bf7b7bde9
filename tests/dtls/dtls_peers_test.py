#!/usr/bin/env python3
"""tovrik-cli's DTLS against peers it did not write: OpenSSL's s_server and
s_client and GnuTLS's gnutls-serv, all on 127.0.0.1, and against its own
receive --dtls with certificates.

- devices -> s_server (PSK): what s_server decrypts is the device info
  message and the status messages, whole, as many as the fleet sent; a wrong
  key at the server is a failed handshake of cause key (a threshold on it
  exits 3);
- devices -> gnutls-serv --echo (keys derived from a secret): the handshakes
  complete and the echoes come back as replies; a fleet of several devices
  derives the same keys as HMAC-SHA256 computed here;
- s_client -> receive --dtls --answer echo: the message is counted and its
  echo reaches s_client; a wrong key or an unknown identity is a failed
  handshake at the receiver;
- devices -> nothing, a plain UDP receive, an echoing plain UDP receive and a
  peer that answers with text: failed handshakes by cause, runs end cleanly;
- no key or secret in any output, stats file or report, nor in the refusal
  of a bad key file (exit 64);
- devices -> receive --dtls, both sides with self-signed certificates.

gnutls-serv's UDP server holds one session at a time, so each device that
talks to it gets a gnutls-serv of its own.

    dtls_peers_test.py --cli PATH/tovrik-cli [--openssl PATH] [--gnutls-serv PATH]
"""

import argparse
import hashlib
import hmac
import json
import os
import re
import secrets
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ARGS = None
IMEI = 1234567890
KEY = "00112233445566778899aabbccddeeff"
WRONG_KEY = "ffeeddccbbaa99887766554433221100"
# Each run of the tool ends by --stop-after; this only bounds a run that hangs.
HANG = 30
HANDSHAKES = re.compile(r"^dtls: handshakes started (\d+), completed (\d+) \(resumed (\d+)\), failed (\d+) "
                        r"\(key (\d+), not_dtls (\d+), timeout (\d+), refused (\d+), other (\d+)\)", re.M)
FIELDS = ("started", "completed", "resumed", "failed", "key", "not_dtls", "timeout", "refused", "other")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, step=0.05):
    end = time.monotonic() + timeout
    while True:
        got = predicate()
        if got or time.monotonic() > end:
            return got
        time.sleep(step)


def handshakes(text):
    """The summary's handshake figures, or None when it has none."""
    found = HANDSHAKES.findall(text)
    return dict(zip(FIELDS, map(int, found[-1]))) if found else None


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def derived_key(secret, imei):
    return hmac.new(secret, str(imei).encode(), hashlib.sha256).hexdigest()


class Child:
    """A process whose stdout and stderr go to files of the temp dir."""

    def __init__(self, work, name, args, stdin=subprocess.DEVNULL):
        self.name, self.args = name, args
        self.out_path = os.path.join(work, name + ".out")
        self.err_path = os.path.join(work, name + ".err")
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(args, stdin=stdin, stdout=out, stderr=err)

    def out(self):
        return read(self.out_path)

    def text(self):
        return read(self.out_path) + read(self.err_path)

    def wait(self, timeout=HANG):
        """The exit status; a child still running after timeout is killed and
        the test fails."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("%s did not end within %d s: %s\n%s" % (self.name, timeout, " ".join(self.args),
                                                                          self.text()[-2000:]))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)
        if self.proc.stdin:
            self.proc.stdin.close()


class Children:
    """Every child started in a with block is gone when it ends."""

    def __init__(self, work):
        self.work, self.all = work, []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for child in self.all:
            child.kill()

    def start(self, name, args, stdin=subprocess.DEVNULL):
        child = Child(self.work, name, args, stdin)
        self.all.append(child)
        return child

    def server(self, name, make_args, ready, stdin=subprocess.DEVNULL, err=False):
        """A server on a free port, once it says it is ready (ready in its
        stdout, or stderr with err); another port if it could not bind."""
        for attempt in range(3):
            port = free_udp_port()
            child = self.start("%s-%d" % (name, attempt), make_args(port), stdin)
            path = child.err_path if err else child.out_path
            if wait_until(lambda: ready in read(path) or child.proc.poll() is not None, 20) and ready in read(path):
                return child, port
            child.kill()
        raise AssertionError("%s never got ready: %s" % (name, child.text()[-2000:]))

    def receiver(self, name, args):
        """tovrik-cli receive on 127.0.0.1:0 and the port it took."""
        child = self.start(name, [ARGS.cli, "receive", "-l", "127.0.0.1:0"] + args)
        listening = re.compile(r"listening on 127\.0\.0\.1:(\d+)")
        found = wait_until(lambda: listening.search(read(child.err_path)) or child.proc.poll() is not None, 20)
        if not isinstance(found, re.Match):
            raise AssertionError("%s did not start: %s" % (name, child.text()[-2000:]))
        return child, int(found.group(1))


def fleet_args(port, *more):
    return [ARGS.cli, "-t", "127.0.0.1", "-p", str(port), "--dtls"] + list(more)


class DtlsPeersTest(unittest.TestCase):
    def setUp(self):
        self._work = tempfile.TemporaryDirectory(prefix="tovrik-dtls-peers-")
        self.work = self._work.name
        print()

    def tearDown(self):
        self._work.cleanup()

    def path(self, name, text=None):
        path = os.path.join(self.work, name)
        if text is not None:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        return path

    def ended_cleanly(self, child, status=0):
        """The run's exit status is status and its summary has the handshake
        figures, which are returned."""
        rc = child.wait()
        text = child.text()
        self.assertEqual(rc, status, "%s exit status (%s)\n%s" % (child.name, " ".join(child.args), text[-3000:]))
        figures = handshakes(text)
        self.assertIsNotNone(figures, "%s printed no handshake summary:\n%s" % (child.name, text[-3000:]))
        print("  %s: %s" % (child.name, {k: v for k, v in figures.items() if v}))
        return figures

    def assert_no_secret(self, secrets_, texts):
        for where, text in texts.items():
            for s in secrets_:
                self.assertNotIn(s.lower(), text.lower(), "a key or secret in %s" % where)

    def test_devices_to_openssl_server(self):
        """What s_server decrypts is exactly what the fleet sent; a wrong key
        at the server is a failure of cause key; the key is in no output."""
        psk = self.path("psk.txt", "%d %s\n" % (IMEI, KEY))
        stats, report = self.path("stats.json"), self.path("report.html")
        with Children(self.work) as kids:
            def s_server(key):
                return lambda port: [ARGS.openssl, "s_server", "-dtls1_2", "-accept", "127.0.0.1:%d" % port, "-nocert",
                                     "-psk", key, "-psk_identity", str(IMEI)]
            # s_server ends when its stdin does: the pipe is held until the end.
            good, good_port = kids.server("s_server", s_server(KEY), "ACCEPT", subprocess.PIPE)
            wrong, wrong_port = kids.server("s_server-wrong-key", s_server(WRONG_KEY), "ACCEPT", subprocess.PIPE)
            fleet = kids.start("fleet", fleet_args(good_port, "--psk-file", psk, "--dtls-retransmit", "250ms",
                                                   "--stop-after", "3", "--stats-json", stats, "--report", report))
            refused = kids.start("fleet-wrong-key", fleet_args(wrong_port, "--psk-file", psk, "--dtls-retransmit", "50ms",
                                                               "--stop-after", "3", "--threshold",
                                                               "handshake_failures==0"))
            figures = self.ended_cleanly(fleet)
            self.assertEqual((figures["completed"], figures["failed"]), (1, 0))
            sent = int(re.search(r"^sent (\d+) datagrams", fleet.out(), re.M).group(1))
            self.assertGreaterEqual(sent, 3)

            def messages():
                """The whole JSON messages s_server wrote one after the other."""
                text = good.out()
                start = text.find('{"cmd":')
                found, decoder = [], json.JSONDecoder()
                while 0 <= start < len(text) and text.startswith('{"cmd":', start):
                    try:
                        message, start = decoder.raw_decode(text, start)
                    except ValueError:
                        break
                    found.append(message)
                return found
            wait_until(lambda: len(messages()) >= sent, 10)
            got = messages()
            print("  s_server decrypted %d messages of %d sent" % (len(got), sent))
            self.assertEqual(len(got), sent, "s_server's stdout:\n" + good.out()[-3000:])
            self.assertEqual((got[0]["cmd"], got[0]["IMEI"]), ("push_info", str(IMEI)))
            for message in got[1:]:
                self.assertEqual((message["cmd"], message["IMEI"]), ("push_msg", str(IMEI)))
                self.assertIn("time", message)
            with open(stats, encoding="utf-8") as f:
                record = json.load(f)["dtls_handshakes"]
            self.assertEqual((record["started"], record["completed"], sum(record["failed"].values())), (1, 1, 0))
            self.assert_no_secret([KEY], {"the fleet's output": fleet.text(), "the stats file": read(stats),
                                          "the report": read(report)})

            figures = self.ended_cleanly(refused, 3)
            self.assertGreaterEqual(figures["failed"], 1)
            self.assertGreaterEqual(figures["key"], 1)
            self.assertIn("devices failing most: IMEI %d" % IMEI, refused.out())
            self.assertIn("threshold handshake_failures==0", refused.text())
            self.assert_no_secret([KEY], {"the failing fleet's output": refused.text()})

    def test_derived_keys_with_gnutls(self):
        """Keys derived from a secret (HMAC-SHA256 over the IMEI) are the ones
        gnutls-serv and a key file computed here hold: every handshake
        completes, gnutls-serv's echoes come back as replies, and neither the
        secret nor a derived key is in any output."""
        secret = ("tovrik-test-secret-" + secrets.token_hex(8)).encode()
        secret_file = self.path("secret.txt", secret.decode() + "\n")
        imeis = [IMEI + k for k in range(3)]
        keys = {imei: derived_key(secret, imei) for imei in imeis}
        gnutls_psk = self.path("gnutls-psk.txt", "".join("%d:%s\n" % (i, k) for i, k in keys.items()))
        receive_psk = self.path("receive-psk.txt", "".join("%d %s\n" % (i, k) for i, k in keys.items()))
        hidden = [secret.decode()] + list(keys.values())
        with Children(self.work) as kids:
            fleets = []
            for imei in imeis:
                # gnutls-serv binds every address of the port; only 127.0.0.1 is sent to.
                _, port = kids.server("gnutls-serv-%d" % imei, lambda p: [
                    ARGS.gnutls_serv, "--udp", "-p", str(p), "--pskpasswd", gnutls_psk, "--echo",
                    "--priority", "NORMAL:+PSK:+ECDHE-PSK:+DHE-PSK"], "listening on IPv4", err=True)
                stats = self.path("stats-%d.json" % imei)
                fleets.append((imei, stats, kids.start("fleet-%d" % imei, fleet_args(
                    port, "--imei-first", str(imei), "--psk-derive", secret_file, "--replies",
                    "--dtls-retransmit", "250ms", "--stop-after", "3", "--stats-json", stats))))
            receiver, port = kids.receiver("receive", ["--dtls", "--psk-file", receive_psk, "--stop-after", "6"])
            several = kids.start("fleet-3-devices", fleet_args(port, "--devices", "3", "--psk-derive", secret_file,
                                                               "--dtls-retransmit", "250ms", "--stop-after", "3"))
            for imei, stats, fleet in fleets:
                figures = self.ended_cleanly(fleet)
                self.assertEqual((figures["completed"], figures["failed"]), (1, 0))
                matched = re.search(r"^replies: (\d+) matched", fleet.out(), re.M)
                self.assertTrue(matched and int(matched.group(1)) > 0, fleet.out()[-3000:])
                self.assertIn('bytes: {"cmd":"push_info","IMEI":"%d"' % imei, fleet.out())
                self.assert_no_secret(hidden, {"fleet %d's output" % imei: fleet.text(), "its stats": read(stats)})
            figures = self.ended_cleanly(several)
            self.assertEqual((figures["started"], figures["completed"], figures["failed"]), (3, 3, 0))
            figures = self.ended_cleanly(receiver)
            self.assertEqual((figures["completed"], figures["failed"]), (3, 0))
            self.assertRegex(receiver.out(), r"received \d+ datagrams .* from 3 devices: 3 device info messages")
            self.assert_no_secret(hidden, {"the 3 devices' output": several.text(), "the receiver's": receiver.text()})

    def test_openssl_client_to_receive(self):
        """s_client's message is counted and echoed back in the session; a
        wrong key or an unknown identity is a failed handshake, and no side
        hangs."""
        psk = self.path("psk.txt", "dev1 %s\n" % KEY)
        stats = self.path("stats.json")
        message = b'{"cmd":"push_msg","IMEI":"860000000000001","packnum":"1"}\n'

        def s_client(port, key, identity):
            # -quiet would ignore the end of stdin; -no_ign_eof ends the session there.
            return [ARGS.openssl, "s_client", "-dtls1_2", "-connect", "127.0.0.1:%d" % port, "-psk", key,
                    "-psk_identity", identity, "-quiet", "-no_ign_eof"]
        with Children(self.work) as kids:
            echo, echo_port = kids.receiver("receive-echo", ["--dtls", "--psk-file", psk, "--answer", "echo",
                                                             "--stop-after", "4", "--stats-json", stats])
            wrong, wrong_port = kids.receiver("receive-wrong-key", ["--dtls", "--psk-file", psk, "--stop-after", "5"])
            unknown, unknown_port = kids.receiver("receive-unknown", ["--dtls", "--psk-file", psk, "--stop-after", "3"])
            clients = {}
            for name, port, key, identity in (("s_client", echo_port, KEY, "dev1"),
                                              ("s_client-wrong-key", wrong_port, WRONG_KEY, "dev1"),
                                              ("s_client-unknown", unknown_port, KEY, "nobody")):
                clients[name] = kids.start(name, s_client(port, key, identity), subprocess.PIPE)
                clients[name].proc.stdin.write(message)
                clients[name].proc.stdin.flush()

            client = clients["s_client"]
            echoed = wait_until(lambda: message.decode().strip() in client.out(), 10)
            print("  s_client got the echo: %s" % bool(echoed))
            self.assertTrue(echoed, "s_client's output:\n" + client.text()[-2000:])
            client.proc.stdin.close()
            client.wait(10)
            figures = self.ended_cleanly(echo)
            self.assertEqual((figures["completed"], figures["failed"]), (1, 0))
            self.assertRegex(echo.out(), r"received 1 datagrams")
            self.assertRegex(echo.out(), r"answers: 1 sent")
            with open(stats, encoding="utf-8") as f:
                self.assertEqual(json.load(f)["datagrams"], 1)
            self.assert_no_secret([KEY], {"the receiver's output": echo.text(), "its stats": read(stats)})

            figures = self.ended_cleanly(unknown)
            clients["s_client-unknown"].wait(10)
            self.assertGreaterEqual(figures["failed"], 1)
            self.assertRegex(unknown.out(), r"received 0 datagrams")

            # s_client does not give up on its own in that time: it is killed once the receiver is done.
            figures = self.ended_cleanly(wrong)
            clients["s_client-wrong-key"].kill()
            self.assertRegex(wrong.out(), r"received 0 datagrams")
            self.assertGreaterEqual(figures["failed"], 1, "a wrong key at the client is a failed handshake:\n"
                                    + wrong.out())

    def test_devices_to_no_dtls_server(self):
        """Nothing listening, a plain UDP receiver, an echoing one and a peer
        that answers with text: the handshakes fail by cause and the runs end
        by --stop-after with exit status 0."""
        psk = self.path("psk.txt", "%d %s\n" % (IMEI, KEY))
        answering = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        answering.bind(("127.0.0.1", 0))
        answering.settimeout(0.1)
        stop = threading.Event()

        def answer_with_text():
            while not stop.is_set():
                try:
                    _, peer = answering.recvfrom(65536)
                    answering.sendto(b"HTTP/1.1 400 Bad Request\r\n\r\n", peer)
                except socket.timeout:
                    pass
        answerer = threading.Thread(target=answer_with_text)
        answerer.start()
        try:
            with Children(self.work) as kids:
                plain, plain_port = kids.receiver("receive-plain", ["--stop-after", "4"])
                echo, echo_port = kids.receiver("receive-plain-echo", ["--answer", "echo", "--stop-after", "4"])
                runs = {}
                for name, port in (("nothing", free_udp_port()), ("plain", plain_port), ("plain-echo", echo_port),
                                   ("text", answering.getsockname()[1])):
                    runs[name] = kids.start("fleet-to-" + name, fleet_args(port, "--psk-file", psk, "--dtls-retransmit",
                                                                           "50ms", "--stop-after", "3"))
                figures = {name: self.ended_cleanly(run) for name, run in runs.items()}
                for name, f in figures.items():
                    self.assertGreaterEqual(f["failed"], 1, name)
                    self.assertEqual(f["completed"], 0, name)
                self.assertGreaterEqual(figures["nothing"]["timeout"], 1)
                self.assertGreaterEqual(figures["plain"]["timeout"], 1)
                self.assertGreaterEqual(figures["text"]["not_dtls"], 1)
                self.assertEqual(plain.wait(), 0)
                self.assertRegex(plain.out(), r"received [1-9]\d* datagrams .* [1-9]\d* malformed")
                self.assertEqual(echo.wait(), 0)
        finally:
            stop.set()
            answerer.join(timeout=10)
            answering.close()

    def test_bad_key_files_are_refused(self):
        """A key file with a bad line and a secret too short are usage errors
        (64) naming the file, without the key or the secret."""
        bad = self.path("bad-keys.txt", "%d %s\n%d 00112233445566778899aabbccddeefz\n" % (IMEI + 1, KEY, IMEI))
        short = self.path("short-secret.txt", "tovrik-short\n")
        for side, args in (("fleet", fleet_args(9, "--psk-file", bad)),
                           ("receive", [ARGS.cli, "receive", "-l", "127.0.0.1:0", "--dtls", "--psk-file", bad])):
            run = subprocess.run(args + ["--stop-after", "1"], capture_output=True, text=True, timeout=HANG)
            said = run.stdout + run.stderr
            print("  %s: %d %s" % (side, run.returncode, said.strip()))
            self.assertEqual(run.returncode, 64, said)
            self.assertIn("bad-keys.txt", said)
            self.assertRegex(said, r"line 2\b")
            self.assert_no_secret([KEY, "00112233445566778899aabbccddeefz", "aabbccddee"], {"the refusal": said})
        run = subprocess.run(fleet_args(9, "--psk-derive", short, "--stop-after", "1"), capture_output=True, text=True,
                             timeout=HANG)
        said = run.stdout + run.stderr
        print("  short secret: %d %s" % (run.returncode, said.strip()))
        self.assertEqual(run.returncode, 64, said)
        self.assertIn("short-secret.txt", said)
        self.assert_no_secret(["tovrik-short"], {"the refusal": said})

    def test_certificates_end_to_end(self):
        """Devices and receive --dtls, each with a self-signed certificate
        the other holds as its CA: the handshake completes and the messages
        arrive."""
        files = {}
        for side in ("receiver", "device"):
            files[side] = (self.path(side + ".crt"), self.path(side + ".key"))
            subprocess.run([ARGS.openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                            "-nodes", "-days", "2", "-subj", "/CN=tovrik-test", "-keyout", files[side][1], "-out",
                            files[side][0]], check=True, capture_output=True, timeout=HANG)
        with Children(self.work) as kids:
            receiver, port = kids.receiver("receive-cert", ["--dtls", "--cert", files["receiver"][0], "--key",
                                                            files["receiver"][1], "--ca", files["device"][0],
                                                            "--stop-after", "4"])
            fleet = kids.start("fleet-cert", fleet_args(port, "--cert", files["device"][0], "--key", files["device"][1],
                                                        "--ca", files["receiver"][0], "--dtls-retransmit", "250ms",
                                                        "--stop-after", "2"))
            figures = self.ended_cleanly(fleet)
            self.assertEqual((figures["completed"], figures["failed"]), (1, 0))
            figures = self.ended_cleanly(receiver)
            self.assertEqual((figures["completed"], figures["failed"]), (1, 0))
            self.assertRegex(receiver.out(), r"received [1-9]\d* datagrams .* from 1 devices: 1 device info messages")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--openssl", default=shutil.which("openssl"))
    parser.add_argument("--gnutls-serv", default=shutil.which("gnutls-serv"))
    ARGS, rest = parser.parse_known_args()
    for name, program, package in (("openssl", ARGS.openssl, "openssl"),
                                   ("gnutls-serv", ARGS.gnutls_serv, "gnutls-bin")):
        if not program or not os.access(program, os.X_OK):
            sys.exit("%s not found (%s): it comes with the Debian package %s (scripts/setup.sh installs it)"
                     % (name, program or "not on PATH", package))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
