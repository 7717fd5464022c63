"""The results host keeps every record: what its FTP account may and may not do to the shared file.

Run by ctest with /usr/bin/python3; starts tools/results-host on free loopback ports with temporary folders."""

import ctypes
import ftplib
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from results_host_fixture import HOST_TOOL, Host, claim, record, store, take_over

MAX_SIZE = 4096
QUOTA = 2048

TWO = record("Ann", 1234) + record("Bob", 98765)


def renamed_over(ftp, data):
    """What the program does on a plain host: upload under another name, then rename it over the shared file."""
    store(ftp, ".compare.zip.part-1-1", data)
    return ftp.rename(".compare.zip.part-1-1", "compare.zip")


class GuardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = Host("--max-size", str(MAX_SIZE), "--quota", str(QUOTA))

    @classmethod
    def tearDownClass(cls):
        cls.host.close()

    def setUp(self):
        for folder in (self.host.root, self.host.history):
            for name in os.listdir(folder):
                if name not in (".incoming", ".lock"):
                    path = os.path.join(folder, name)
                    shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        open(self.host.log, "w").close()
        self.host.put(TWO)
        self.ftp = self.host.connect()
        # Appends are then judged by what they add, not refused for want of a turn.
        claim(self.ftp, "a1")

    def tearDown(self):
        self.ftp.close()

    def assertRefused(self, attempt, code=550):
        with self.assertRaises(ftplib.error_perm) as refused:
            attempt()
        self.assertTrue(str(refused.exception).startswith("%d Refused: " % code), refused.exception)
        return str(refused.exception)

    def test_changes_that_lose_or_spoil_records_are_refused(self):
        flipped = bytearray(TWO)
        flipped[5] ^= 0x20
        # Were negative lengths taken, these 8 bytes would read as one whole record: four texts of length -4
        # that go nowhere, then a score.
        negative = struct.pack("<i", -4) + bytes(4)
        big = record("x" * 300, email="y" * 300) * 4

        def appended(data):
            return lambda: store(self.ftp, "compare.zip", data, "APPE")

        cases = {
            "a replacement that drops a record": (lambda: renamed_over(self.ftp, record("Ann", 1234)), 550),
            "one that changes an earlier byte": (lambda: renamed_over(self.ftp, bytes(flipped) + record("Cy")), 550),
            "one that appends junk": (lambda: renamed_over(self.ftp, TWO + b"junk"), 550),
            "one that adds nothing": (lambda: renamed_over(self.ftp, TWO), 550),
            "a direct upload of a shorter file": (lambda: store(self.ftp, "compare.zip", record("Ann", 1234)), 550),
            "a resumed upload that changes an earlier byte":
                (lambda: store(self.ftp, "compare.zip", bytes(flipped[5:]) + record("Cy"), rest=5), 550),
            "an append of a cut record": (appended(record("Cy")[:-1]), 550),
            "an append whose record has a negative length": (appended(negative), 550),
            "an append of a text over 300 bytes": (appended(record("x" * 301)), 550),
            "an append of a score that is no number": (appended(record("Cy", float("nan"))), 550),
            "an empty append": (appended(b""), 550),
            "an append past the quota": (appended(big), 552),
            "an append over 64 KiB": (appended(b"\0" * (65536 + 100)), 552),
            "a delete": (lambda: self.ftp.delete("compare.zip"), 550),
            "a rename away": (lambda: self.ftp.rename("compare.zip", "old.zip"), 550),
            "an upload under a name that shadows it for readers":
                (lambda: store(self.ftp, "COMPARE.ZIP", TWO + record("Cy")), 550),
            "an append under such a name": (lambda: store(self.ftp, "Compare.zip", record("Cy"), "APPE"), 550),
            "a rename onto such a name": (lambda: (store(self.ftp, "part", TWO + record("Cy")),
                                                   self.ftp.rename("part", "compare.ZIP")), 550),
            "a folder of such a name": (lambda: self.ftp.mkd("COMPARE.zip"), 550),
        }
        for case, (attempt, code) in cases.items():
            with self.subTest(case):
                self.assertRefused(attempt, code)
                self.assertEqual(self.host.content(), TWO)
                self.assertEqual(self.host.lengths(), [])
                self.assertEqual([n for n in os.listdir(self.host.root) if n.casefold() == "compare.zip"],
                                 ["compare.zip"])
        log = self.host.requests()
        self.assertEqual(log.count("REFUSED 127.0.0.1:") + log.count("LIMIT 127.0.0.1:"), len(cases))
        self.assertIn("quota of %d bytes" % QUOTA, log)

    def test_appends_are_logged_and_undone_by_cutting_back(self):
        expected = [TWO]
        steps = [
            lambda data: store(self.ftp, "compare.zip", data),  # an older client's direct upload
            lambda data: renamed_over(self.ftp, data),  # a plain host's commit
            lambda data: store(self.ftp, "compare.zip", data[len(expected[-1]):], "APPE"),
            lambda data: store(self.ftp, "compare.zip", data[5:], rest=5),
        ]
        for n, step in enumerate(steps):
            grown = expected[-1] + record("Runner %d" % n, n)
            self.assertRegex(step(grown), r"^(226|250) .* at %d\.$" % len(expected[-1]))
            self.assertEqual(self.host.content(), grown)
            expected.append(grown)
        self.assertEqual(self.host.lengths(), [len(data) for data in expected[1:]])
        with urllib.request.urlopen("http://127.0.0.1:%d/vantrel/COMPARE.ZIP" % self.host.http_port) as answer:
            self.assertEqual(answer.read(), expected[-1])
        listed = self.host.run("--versions").stdout
        for data in expected[1:]:
            self.assertIn(" %d " % len(data), listed)

        self.assertIn("stop it first", self.host.run("--restore", str(len(expected[1]))).stderr)
        self.ftp.close()
        self.host.stop()
        try:
            self.assertEqual(self.host.run("--restore", str(len(expected[1]))).returncode, 0)
            self.assertEqual(self.host.content(), expected[1])
            cut = [n for n in os.listdir(self.host.history) if n.startswith("compare.zip-cut-")]
            with open(os.path.join(self.host.history, cut[0]), "rb") as f:
                self.assertEqual(f.read(), expected[-1][len(expected[1]):])
            # A whole copy kept by an earlier version of the host.
            with open(os.path.join(self.host.history, "compare.zip.20261201-120000.000000"), "wb") as f:
                f.write(TWO)
            self.host.run("--restore", "compare.zip.20261201-120000.000000")
            self.assertEqual(self.host.content(), TWO)
            # A record cut by a crash is cut back at the next start.
            with open(self.host.shared, "ab") as f:
                f.write(record("Half")[:9])
        finally:
            self.host.start()
        self.assertIn("cut", self.host.stop())
        self.host.start()
        self.ftp = self.host.connect()
        self.assertEqual(self.host.content(), TWO)

    def test_without_a_shared_file_only_whole_records_are_taken(self):
        os.remove(self.host.shared)
        for refused in (b"<HTML><HEAD><TITLE>404", b""):
            self.assertRefused(lambda: store(self.ftp, "compare.zip", refused))
            self.assertFalse(os.path.exists(self.host.shared))
        store(self.ftp, "compare.zip", record("First"))
        self.assertEqual(self.host.content(), record("First"))

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
                self.assertEqual(sorted(os.listdir(self.host.root)), ["compare.lock", "compare.zip"])
        self.assertIn("LIMIT 127.0.0.1:", self.host.requests())

    def test_appends_land_whole_in_and_outside_every_turn(self):
        features = self.ftp.sendcmd("FEAT")
        self.assertIn("\n VANTREL-APPE-IN-TURN\n", features)
        self.assertIn("\n VANTREL-APPE-ANYTIME\n", features)
        holder, waiter, outsider = self.ftp, self.host.connect(), self.host.connect()
        self.assertRegex(store(holder, "compare.zip", record("A1"), "APPE"), r"^226 Appended \d+ bytes at %d\.$"
                         % len(TWO))
        # An append under way while the lock is taken over is applied whole when its data has arrived,
        # after one sent meanwhile by a session that never held the turn.
        holder.voidcmd("TYPE I")
        late = holder.transfercmd("APPE compare.zip")
        late.sendall(record("A2"))
        take_over(waiter, "b2", "hb-a1-0")
        claim(waiter, "b2")
        store(outsider, "compare.zip", record("Out"), "APPE")
        late.close()
        holder.voidresp()
        self.assertEqual(self.host.content(), TWO + record("A1") + record("Out") + record("A2"))
        waiter.close()
        outsider.close()

    def test_every_command_of_the_protocol_works(self):
        holder = self.ftp
        holder.rename("compare.lock/hb-a1-0", "compare.lock/hb-a1-1")
        # A plain host's path: stage, patch the staged file with what was appended meanwhile, commit.
        store(holder, "compare.lock/a1/next", TWO + record("Cy"))
        store(holder, "compare.zip", record("Dee"), "APPE")
        store(holder, "compare.lock/a1/next", record("Dee") + record("Cy"), rest=len(TWO))
        holder.voidcmd("TYPE I")
        self.assertEqual(holder.sendcmd("SIZE compare.zip"), "213 %d" % len(TWO + record("Dee")))
        holder.rename("compare.lock/a1/next", "compare.zip")
        self.assertEqual(self.host.content(), TWO + record("Dee") + record("Cy"))
        # A waiter takes the silent holder's lock over, claims, clears the leftovers and releases.
        waiter = self.host.connect()
        take_over(waiter, "b2", "hb-a1-1")
        claim(waiter, "b2")
        self.assertEqual(sorted(waiter.nlst("compare.stale-b2-1")), ["a1", "dead-b2"])
        waiter.delete("compare.stale-b2-1/dead-b2")
        waiter.rmd("compare.stale-b2-1/a1")
        waiter.rmd("compare.stale-b2-1")
        waiter.rmd("compare.lock/b2")
        waiter.delete("compare.lock/hb-b2-0")
        waiter.rmd("compare.lock")
        waiter.close()
        self.assertEqual(sorted(os.listdir(self.host.root)), ["compare.zip"])

    def test_lock_commands_no_submitter_sends_are_refused(self):
        other = self.host.connect()
        other.mkd("junk")
        other.mkd("compare.claim-x-0")
        store(other, "compare.claim-x-0/hb-x-0", b"x")
        store(other, "compare.claim-x-0/hb-y-0", b"y")
        while_held = {
            "a file stored inside the lock": lambda: store(other, "compare.lock/extra", b"x"),
            "an append inside the lock": lambda: store(other, "compare.lock/hb-a1-0", b"x", "APPE"),
            "a unique name inside the lock": lambda: store(other, "compare.lock/x", b"x", "STOU"),
            "a folder made inside the lock": lambda: other.mkd("compare.lock/extra"),
            "a folder made in its stage": lambda: other.mkd("compare.lock/a1/extra"),
            "a rename from outside into the lock": lambda: other.rename("junk", "compare.lock/hb-x-9"),
            "a rename inside the lock to another kind of name": lambda: other.rename("compare.lock/a1",
                                                                                     "compare.lock/z"),
        }
        while_free = {
            "a lock made by MKD": lambda: other.mkd("compare.lock"),
            "a file stored as the lock": lambda: store(other, "compare.lock", b"x"),
            "a folder that is no claim renamed onto the lock": lambda: other.rename("junk", "compare.lock"),
            "a claim with two heartbeats": lambda: other.rename("compare.claim-x-0", "compare.lock"),
        }
        for cases in (while_held, while_free):
            before = sorted(os.listdir(self.host.root))
            for case, attempt in cases.items():
                with self.subTest(case):
                    self.assertRefused(attempt)
                    self.assertEqual(sorted(os.listdir(self.host.root)), before)
            if cases is while_held:
                self.assertEqual(sorted(self.ftp.nlst("compare.lock")), ["a1", "hb-a1-0"])
                self.ftp.rmd("compare.lock/a1")
                self.ftp.delete("compare.lock/hb-a1-0")
                self.ftp.rmd("compare.lock")
        other.close()


class LimitsTest(unittest.TestCase):
    def test_connections_per_address_and_idle_sessions(self):
        host = Host("--max-per-address", "2", "--idle-timeout", "1")
        try:
            sessions = [host.connect(), host.connect()]
            third = ftplib.FTP(timeout=20)
            with self.assertRaises(ftplib.error_temp):
                third.connect("127.0.0.1", host.ftp_port)
            third.close()
            # Web requests alike: two held from one address, the third refused, another address served.
            stalled = [socket.create_connection(("127.0.0.1", host.http_port)) for _ in range(2)]
            deadline = time.monotonic() + 10  # until the host has taken both
            while host.get("/vantrel/COMPARE.ZIP")[0] != 503:
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.1)
            self.assertEqual(host.get("/vantrel/COMPARE.ZIP", source="127.0.0.2")[0], 404)
            host.connect(source="127.0.0.2").quit()
            for connection in stalled:
                connection.close()
            time.sleep(2.5)
            for session in sessions:
                with self.assertRaises((ftplib.error_temp, OSError, EOFError)):
                    session.voidcmd("NOOP")
                session.close()
            log = host.requests()
            self.assertIn("LIMIT 127.0.0.1:", log)
            self.assertIn("TIMEOUT 127.0.0.1:", log)
        finally:
            host.close()


class FullDiskTest(unittest.TestCase):
    """The data and history folders on a 1 MiB tmpfs, in a mount namespace of this test's own."""

    def setUp(self):
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.unshare(0x00020000) != 0:  # CLONE_NEWNS
            self.skipTest("no mount namespace of its own (not root): %s" % os.strerror(ctypes.get_errno()))
        subprocess.run(["mount", "--make-rprivate", "/"], check=True)
        self.folder = tempfile.mkdtemp(prefix="results-host-full-")
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.folder], check=True)
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        self.addCleanup(subprocess.run, ["umount", "--lazy", self.folder])
        self.filler = os.path.join(self.folder, "filler")

    def fill(self, leave_pages=0):
        """Fills the disk to the byte, then frees leave_pages whole pages."""
        fd = os.open(self.filler, os.O_WRONLY | os.O_CREAT | os.O_APPEND)
        for size in (1 << 16, 4096, 64, 1):
            try:
                while os.write(fd, b"x" * size) == size:
                    pass
            except OSError:
                pass
        pages = -(-os.fstat(fd).st_size // 4096)
        os.ftruncate(fd, max(0, (pages - leave_pages) * 4096 if leave_pages else os.fstat(fd).st_size))
        os.close(fd)

    def test_every_upload_is_answered_and_the_history_stays_whole(self):
        host = Host(folder=self.folder)
        self.addCleanup(host.stop)
        ftp = host.connect()
        self.addCleanup(ftp.close)
        claim(ftp, "a1")
        store(ftp, "compare.zip", TWO, "APPE")
        log_path = os.path.join(host.history, "compare.zip-lengths.log")

        def refused_as_full(data):
            with self.assertRaises(ftplib.error_temp) as refused:
                store(ftp, "compare.zip", data, "APPE")
            self.assertTrue(str(refused.exception).startswith("452 Refused: "), refused.exception)
            self.assertEqual(host.content(), TWO)
            self.assertEqual(host.lengths(), [len(TWO)])

        # Full to the byte: even the upload's first block cannot be written.
        self.fill()
        refused_as_full(record("Late"))
        # One page free, taken by the upload; the record fits in the file's last page, but only the start of
        # the log's line fits in the log's.
        with open(log_path, "ab") as log:
            log.write(b" " * ((-os.path.getsize(log_path) - 21) % 4096) + b"\n")
        with open(log_path, "rb") as log:
            before = log.read()
        os.remove(self.filler)
        self.fill(leave_pages=1)
        refused_as_full(record("Late"))
        with open(log_path, "rb") as log:
            self.assertEqual(log.read(), before)  # no line cut short

        os.remove(self.filler)
        self.assertRegex(store(ftp, "compare.zip", record("After"), "APPE"), r"^226 ")
        self.assertEqual(host.lengths(), [len(TWO), len(TWO + record("After"))])
        self.assertIn(" %d " % len(TWO + record("After")), host.run("--versions").stdout)


class CommandLineTest(unittest.TestCase):
    def test_the_manual_page_lists_every_option_help_shows(self):
        shown = subprocess.run([sys.executable, HOST_TOOL, "--help"], capture_output=True, text=True).stdout
        manual = os.path.join(os.path.dirname(HOST_TOOL), "..", "packaging", "vantrel3-results-host.1")
        with open(manual) as f:
            listed = re.findall(r"(?m)^\.BI? (\\-\\-[a-z\\-]+)", f.read())
        self.assertEqual({name.replace("\\-", "-") for name in listed},
                         set(re.findall(r"(?m)^  (?:-h, )?(--[a-z-]+)", shown)))

    def test_a_port_out_of_range_is_one_line_and_exit_2(self):
        for flag, value in (("--ftp-port", "99999"), ("--http-port", "-1"), ("--ftp-port", "x")):
            with self.subTest(flag=flag, value=value):
                done = subprocess.run([sys.executable, HOST_TOOL, flag, value], capture_output=True, text=True)
                self.assertEqual(done.returncode, 2)
                self.assertIn("a port is 1 to 65535", done.stderr.splitlines()[0])


if __name__ == "__main__":
    unittest.main()
