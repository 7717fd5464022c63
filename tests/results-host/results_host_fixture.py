"""The real tools/results-host for the host's Python tests, on free loopback ports with temporary folders."""

import ftplib
import http.client
import io
import os
import shutil
import subprocess
import sys
import tempfile

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
HOST_TOOL = os.path.join(TOOLS, "results-host")
PASSWORD = "Pl4nkton"

sys.path.insert(0, TOOLS)
from results_host.records import encode_record  # noqa: E402 - found through the path above


def record(name, score=1.0, email=""):
    return encode_record(name, email, "Win 98", "K6-2 350", score)


class Host:
    def __init__(self, *flags, folder=None):
        """folder: where the data and history folders go (a fresh temporary one by default)."""
        self.dir = folder or tempfile.mkdtemp(prefix="results-host-test-")
        self.root = os.path.join(self.dir, "data")
        self.history = os.path.join(self.dir, "history")
        self.log = os.path.join(self.dir, "requests.log")
        self.args = [HOST_TOOL, "--root", self.root, "--history", self.history, "--log", self.log]
        self.flags = list(flags)
        self.start()

    def start(self):
        """Starts the host on ports the system picks, also after stop(): a restart keeps the folders and takes new
        ports, so read ftp_port and http_port again."""
        # Standard error goes to a file: a full pipe would stop a host that logs too much instead of showing it.
        with open(os.path.join(self.dir, "host.err"), "w") as err:
            self.process = subprocess.Popen(
                [sys.executable] + self.args + ["--ftp-port", "0", "--http-port", "0", "--exit-with-parent"]
                + self.flags, stdout=subprocess.PIPE, stderr=err, text=True)
        line = self.process.stdout.readline()
        if "ready" not in line:
            self.process.kill()
            raise RuntimeError("the results host did not start: %r %s" % (line, self.errors()))
        self.ftp_port = int(line.split("ftp=")[1].split()[0].rsplit(":", 1)[1])
        self.http_port = int(line.split("http=")[1].split()[0].rsplit(":", 1)[1])

    def stop(self):
        """Stops the host and returns what it wrote on standard error."""
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()
        return self.errors()

    def errors(self):
        with open(os.path.join(self.dir, "host.err")) as f:
            return f.read()

    def close(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def run(self, *flags):
        """The host's command line for a one-off action on the same folders (--versions, --restore)."""
        return subprocess.run([sys.executable] + self.args + list(flags), capture_output=True, text=True)

    def connect(self, source="127.0.0.1"):
        ftp = ftplib.FTP(timeout=20, source_address=(source, 0))
        ftp.connect("127.0.0.1", self.ftp_port)
        ftp.login("vantrel", PASSWORD)
        return ftp

    def get(self, path, headers=None, method="GET", source="127.0.0.1"):
        """(status, headers, body) of one web request."""
        connection = http.client.HTTPConnection("127.0.0.1", self.http_port, timeout=20,
                                                source_address=(source, 0))
        try:
            connection.request(method, path, headers=headers or {})
            answer = connection.getresponse()
            return answer.status, answer.headers, answer.read()
        finally:
            connection.close()

    @property
    def shared(self):
        return os.path.join(self.root, "compare.zip")

    def content(self):
        with open(self.shared, "rb") as f:
            return f.read()

    def put(self, data):
        with open(self.shared, "wb") as f:
            f.write(data)

    def lengths(self):
        """The logged lengths of the shared file, oldest first."""
        try:
            with open(os.path.join(self.history, "compare.zip-lengths.log")) as f:
                return [int(fields[3]) for fields in map(str.split, f) if len(fields) == 5]
        except FileNotFoundError:
            return []

    def requests(self):
        with open(self.log, encoding="utf-8") as f:
            return f.read()


def store(ftp, name, data, verb="STOR", rest=None):
    return ftp.storbinary("%s %s" % (verb, name), io.BytesIO(data), rest=rest)


def claim(ftp, token):
    """A submitter's preparation and claim, as the protocol page lists them; the session then holds the turn."""
    ftp.mkd("compare.claim-%s-0" % token)
    ftp.mkd("compare.claim-%s-0/%s" % (token, token))
    store(ftp, "compare.claim-%s-0/hb-%s-0" % (token, token), token.encode())
    ftp.rename("compare.claim-%s-0" % token, "compare.q-1-%s-0" % token)
    ftp.rename("compare.q-1-%s-0" % token, "compare.lock")


def take_over(ftp, waiter, heartbeat):
    """The two renames that move a silent holder's lock aside."""
    ftp.rename("compare.lock/" + heartbeat, "compare.lock/dead-" + waiter)
    ftp.rename("compare.lock", "compare.stale-%s-1" % waiter)
