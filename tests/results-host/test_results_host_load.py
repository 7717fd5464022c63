"""The results host stays up and idle for everyone: when it runs out of file descriptors, and when a client dies in
the middle of an upload.

Run by ctest with /usr/bin/python3; starts tools/results-host on free loopback ports with temporary folders."""

import os
import resource
import signal
import socket
import struct
import time
import unittest

from results_host_fixture import Host


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def hold_connections(port, count):
    """count connections from ten loopback addresses, so that no per-address cap refuses them."""
    held = []
    for n in range(count):
        connection = socket.socket()
        connection.settimeout(5)
        connection.bind(("127.0.0.%d" % (2 + n % 10), 0))
        try:
            connection.connect(("127.0.0.1", port))
            held.append(connection)
        except OSError:
            connection.close()
    return held


class LoadTest(unittest.TestCase):
    def setUp(self):
        self.host = Host()

    def tearDown(self):
        self.host.close()

    def assertAnswers(self):
        """Within a few seconds, an FTP logon and a web request succeed again."""
        deadline = time.monotonic() + 10
        while True:
            try:
                self.host.connect().quit()
                self.assertEqual(self.host.get("/vantrel/COMPARE.ZIP")[0], 404)
                return
            except (OSError, EOFError):
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)

    def test_running_out_of_file_descriptors_stops_neither_server(self):
        resource.prlimit(self.host.process.pid, resource.RLIMIT_NOFILE, (64, 64))
        held = hold_connections(self.host.ftp_port, 80) + hold_connections(self.host.http_port, 80)
        time.sleep(1)
        self.assertIsNone(self.host.process.poll())
        for connection in held:
            connection.close()
        self.assertAnswers()
        self.assertIn("out of file descriptors", self.host.requests())

    def test_a_client_killed_mid_upload_leaves_the_host_idle(self):
        ftp = self.host.connect()
        ftp.voidcmd("TYPE I")
        data = ftp.transfercmd("STOR other.bin")
        data.sendall(b"x" * 1000)
        time.sleep(0.1)
        # As a killed client's sockets end: the data connection closed, the control connection reset, both
        # seen by the host at once, the data connection first.
        os.kill(self.host.process.pid, signal.SIGSTOP)
        try:
            data.close()
            ftp.file.close()
            ftp.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            ftp.sock.close()
        finally:
            os.kill(self.host.process.pid, signal.SIGCONT)
        time.sleep(0.5)
        before = cpu_seconds(self.host.process.pid)
        time.sleep(2)
        self.assertLess(cpu_seconds(self.host.process.pid) - before, 0.3)
        self.assertAnswers()


if __name__ == "__main__":
    unittest.main()
