"""The results host keeps every record: what its FTP account may and may not do to the shared file.

Run by ctest with /usr/bin/python3; starts tools/results-host on free loopback ports with temporary folders."""

import ftplib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

HOST_TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "results-host")
PASSWORD = "Pl4nkton"
KEEP = 3
MAX_SIZE = 4096


def record(name, score=1.0):
    out = b""
    for text in (name.encode(), b"", b"Win 98", b"K6-2 350"):
        out += struct.pack("<i", len(text)) + text
    return out + struct.pack("<d", score)


TWO = record("Ann", 1234) + record("Bob", 98765)


class Host:
    def __init__(self, *flags):
        self.dir = tempfile.mkdtemp(prefix="results-host-guard-")
        self.root = os.path.join(self.dir, "data")
        self.history = os.path.join(self.dir, "history")
        self.log = os.path.join(self.dir, "requests.log")
        self.args = [HOST_TOOL, "--root", self.root, "--history", self.history, "--log", self.log]
        self.process = subprocess.Popen(
            [sys.executable] + self.args + ["--ftp-port", "0", "--http-port", "0", "--exit-with-parent"]
            + list(flags), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        if "ready" not in line:
            self.stop()
            raise RuntimeError("the results host did not start: %r" % line)
        self.ftp_port = int(line.split("ftp=")[1].split()[0].rsplit(":", 1)[1])
        self.http_port = int(line.split("http=")[1].split()[0].rsplit(":", 1)[1])

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def connect(self):
        ftp = ftplib.FTP(timeout=20)
        ftp.connect("127.0.0.1", self.ftp_port)
        ftp.login("vantrel", PASSWORD)
        return ftp

    @property
    def shared(self):
        return os.path.join(self.root, "compare.zip")

    def content(self):
        with open(self.shared, "rb") as f:
            return f.read()

    def put(self, data):
        with open(self.shared, "wb") as f:
            f.write(data)

    def versions(self):
        """The kept versions' contents, oldest first."""
        names = sorted(n for n in os.listdir(self.history) if n.startswith("compare.zip."))
        out = []
        for name in names:
            with open(os.path.join(self.history, name), "rb") as f:
                out.append(f.read())
        return out

    def requests(self):
        with open(self.log, encoding="utf-8") as f:
            return f.read()


def store(ftp, name, data, verb="STOR"):
    return ftp.storbinary("%s %s" % (verb, name), io.BytesIO(data))


def renamed_over(ftp, data):
    """What the program does: upload under a temporary name, then rename it over the shared file."""
    store(ftp, ".compare.zip.part-1-1", data)
    return ftp.rename(".compare.zip.part-1-1", "compare.zip")


class GuardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = Host("--keep", str(KEEP), "--max-size", str(MAX_SIZE))

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()

    def setUp(self):
        for folder in (self.host.root, self.host.history):
            for name in os.listdir(folder):
                if name != ".incoming":
                    path = os.path.join(folder, name)
                    shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        self.host.put(TWO)
        self.ftp = self.host.connect()

    def tearDown(self):
        self.ftp.close()

    def test_changes_that_lose_or_spoil_records_are_refused(self):
        flipped = bytearray(TWO)
        flipped[5] ^= 0x20
        cases = {
            "a replacement that drops a record": lambda: renamed_over(self.ftp, record("Ann", 1234)),
            "one that changes an earlier byte": lambda: renamed_over(self.ftp, bytes(flipped) + record("Cy")),
            "one that appends junk": lambda: renamed_over(self.ftp, TWO + b"junk"),
            "a direct upload of a shorter file": lambda: store(self.ftp, "compare.zip", record("Ann", 1234)),
            "an append of a cut record": lambda: store(self.ftp, "compare.zip", record("Cy")[:-1], "APPE"),
            "a delete": lambda: self.ftp.delete("compare.zip"),
            "a rename away": lambda: self.ftp.rename("compare.zip", "old.zip"),
            "a name that shadows it for readers": lambda: store(self.ftp, "COMPARE.ZIP", TWO + record("Cy")),
        }
        for case, attempt in cases.items():
            with self.subTest(case):
                with self.assertRaises(ftplib.error_perm) as refused:
                    attempt()
                self.assertTrue(str(refused.exception).startswith("550 Refused: "), refused.exception)
                self.assertEqual(self.host.content(), TWO)
                self.assertEqual(self.host.versions(), [])
                self.assertNotIn("COMPARE.ZIP", os.listdir(self.host.root))
        self.assertEqual(self.host.requests().count("REFUSED 127.0.0.1:"), len(cases))

    def test_appends_are_accepted_and_previous_versions_kept(self):
        # An older client's direct upload, the program's rename, and APPE; more than KEEP of them.
        expected = [TWO]
        steps = [
            lambda data: store(self.ftp, "compare.zip", data),
            lambda data: renamed_over(self.ftp, data),
            lambda data: store(self.ftp, "compare.zip", data[len(expected[-1]):], "APPE"),
            lambda data: renamed_over(self.ftp, data),
            lambda data: store(self.ftp, "compare.zip", data),
        ]
        for n, step in enumerate(steps):
            grown = expected[-1] + record("Runner %d" % n, n)
            reply = step(grown)
            self.assertTrue(reply.startswith(("226", "250")), reply)
            self.assertEqual(self.host.content(), grown)
            expected.append(grown)
        self.assertEqual(self.host.versions(), expected[-1 - KEEP:-1])
        with urllib.request.urlopen("http://127.0.0.1:%d/vantrel/COMPARE.ZIP" % self.host.http_port) as answer:
            self.assertEqual(answer.read(), expected[-1])

        oldest = sorted(n for n in os.listdir(self.host.history) if n.startswith("compare.zip."))[0]
        subprocess.run([sys.executable] + self.host.args + ["--keep", str(KEEP), "--restore", oldest],
                       check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(self.host.content(), expected[-1 - KEEP])
        self.assertEqual(self.host.versions()[-1], expected[-1])

    def test_without_a_shared_file_only_whole_records_are_taken(self):
        os.remove(self.host.shared)
        with self.assertRaises(ftplib.error_perm):
            store(self.ftp, "compare.zip", b"<HTML><HEAD><TITLE>404")
        self.assertFalse(os.path.exists(self.host.shared))
        store(self.ftp, "compare.zip", b"")
        self.assertEqual(self.host.content(), b"")
        self.assertEqual(self.host.versions(), [])

    def test_an_upload_above_the_size_limit_is_stopped(self):
        for name in ("compare.zip", "other.bin"):
            with self.subTest(name):
                data = TWO + record("x" * (2 * MAX_SIZE))
                connection = self.ftp.transfercmd("STOR " + name)
                # Received aside: the shared file is whole while the upload runs.
                self.assertEqual(self.host.content(), TWO)
                try:
                    connection.sendall(data)
                except OSError:
                    pass  # the host may close the connection before all of it is sent
                connection.close()
                with self.assertRaises(ftplib.error_perm) as refused:
                    self.ftp.voidresp()
                self.assertTrue(str(refused.exception).startswith("552 "), refused.exception)
                self.assertEqual(self.host.content(), TWO)
                self.assertEqual(sorted(os.listdir(self.host.root)), ["compare.zip"])
        self.assertIn("LIMIT 127.0.0.1:", self.host.requests())

    def test_the_folders_of_the_submitters_exclusion_still_work(self):
        self.ftp.mkd("compare.claim-1")
        store(self.ftp, "compare.claim-1/owner", b"me")
        self.ftp.mkd("compare.lock.new")
        self.ftp.rename("compare.lock.new", "compare.lock")
        self.ftp.rename("compare.claim-1", "compare.stale-1")
        self.ftp.delete("compare.stale-1/owner")
        self.ftp.rmd("compare.stale-1")
        self.ftp.rmd("compare.lock")
        self.assertEqual(sorted(os.listdir(self.host.root)), ["compare.zip"])


class LimitsTest(unittest.TestCase):
    def test_connections_per_address_and_idle_sessions(self):
        host = Host("--max-per-address", "2", "--idle-timeout", "1")
        try:
            sessions = [host.connect(), host.connect()]
            third = ftplib.FTP(timeout=20)
            with self.assertRaises(ftplib.error_temp):
                third.connect("127.0.0.1", host.ftp_port)
            third.close()
            time.sleep(2.5)
            for session in sessions:
                with self.assertRaises((ftplib.error_temp, OSError, EOFError)):
                    session.voidcmd("NOOP")
                session.close()
            log = host.requests()
            self.assertIn("LIMIT 127.0.0.1:", log)
            self.assertIn("TIMEOUT 127.0.0.1:", log)
        finally:
            host.stop()


if __name__ == "__main__":
    unittest.main()
