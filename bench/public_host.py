"""A public results host for the benchmarks: Debian's vsftpd and Apache run from the shipped configuration files
(docs/host), with only ports, folders and the account's home changed, as tests/core/remote/test_public_host.cpp
sets them up. Needs root: vsftpd logs the account on through PAM and locks it into a chroot. The account lives only
in a private mount namespace that sees copies of passwd, shadow, group and shells; nothing under /etc changes."""

import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

PASSWORD = "Pl4nkton"
PASSIVE_PORTS = 50  # as many as docs/host/vsftpd.conf opens


def free_ports(count):
    """The first of count free loopback ports in a row, below the range the system hands out meanwhile."""
    for base in range(10000 + os.getpid() % 200 * 100, 32768 - count, count):
        taken = []
        try:
            for port in range(base, base + count):
                probe = socket.socket()
                taken.append(probe)
                probe.bind(("127.0.0.1", port))
            return base
        except OSError:
            continue
        finally:
            for probe in taken:
                probe.close()
    raise RuntimeError("no %d free loopback ports in a row" % count)


def set_option(conf, key, value):
    line = "%s=%s" % (key, value)
    changed, n = re.subn(r"(?m)^%s=.*$" % re.escape(key), line, conf)
    return changed if n else conf + line + "\n"


def password_hash():
    return subprocess.run(["openssl", "passwd", "-6", "-salt", "vantrelbench", PASSWORD],
                          check=True, capture_output=True, text=True).stdout.strip()


class PublicHost:
    """vsftpd and Apache on free loopback ports, serving results/ of a temporary folder; a context manager."""

    def __init__(self, source_dir, content):
        self.dir = tempfile.mkdtemp(prefix="vantrel-public-host-")
        os.chmod(self.dir, 0o755)
        self.source_dir = source_dir
        self.processes = []
        self.uid = 64000
        while self._uid_taken(self.uid):
            self.uid += 1
        self.jail = os.path.join(self.dir, "jail")
        self.results = os.path.join(self.jail, "results")
        os.makedirs(self.results)
        os.chmod(self.jail, 0o755)
        os.chmod(self.results, 0o755)
        os.chown(self.results, self.uid, self.uid)
        self.shared_file = os.path.join(self.results, "compare.zip")
        with open(self.shared_file, "wb") as f:
            f.write(content)
        os.chown(self.shared_file, self.uid, self.uid)
        self.ftp_port = free_ports(2 + PASSIVE_PORTS)
        self.web_port = self.ftp_port + 1
        try:
            self._start_vsftpd(self.ftp_port + 2)
            self._start_apache()
            self._wait_until_listening()
        except BaseException:
            self.stop()
            raise
        self.ftp, self.web = "127.0.0.1:%d" % self.ftp_port, "127.0.0.1:%d" % self.web_port

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    @staticmethod
    def _uid_taken(uid):
        try:
            pwd.getpwuid(uid)
            return True
        except KeyError:
            return False

    def _path(self, *names):
        return os.path.join(self.dir, *names)

    def _spawn(self, args, env, output):
        with open(self._path(output), "w") as out:
            self.processes.append(subprocess.Popen(args, env=dict(env, PATH="/usr/sbin:/usr/bin:/sbin:/bin"),
                                                   stdout=out, stderr=subprocess.STDOUT, start_new_session=True))

    def _start_vsftpd(self, passive):
        os.makedirs(self._path("etc"))
        with open(os.path.join(self.source_dir, "docs/host/vsftpd.conf")) as f:
            conf = f.read()
        for key, value in (("listen_address", "127.0.0.1"), ("listen_port", self.ftp_port),
                           ("pasv_min_port", passive), ("pasv_max_port", passive + PASSIVE_PORTS - 1),
                           ("userlist_file", self._path("etc/vsftpd.user_list")),
                           ("xferlog_file", self._path("xferlog"))):
            conf = set_option(conf, key, value)
        if not os.path.isdir("/var/run/vsftpd/empty"):  # made at boot on a Debian host; a container may lack it
            os.makedirs(self._path("empty"))
            conf = set_option(conf, "secure_chroot_dir", self._path("empty"))
        files = {"vsftpd.conf": conf, "vsftpd.user_list": "vantrel\n"}
        # The recipe's account, as useradd and chpasswd would write it.
        for name, line in (("passwd", "vantrel:x:{0}:{0}::%s/./results:/usr/sbin/nologin\n" % self.jail),
                           ("shadow", "vantrel:%s:20000:0:99999:7:::\n" % password_hash()),
                           ("group", "vantrel:x:{0}:\n")):
            with open("/etc/" + name) as f:
                files[name] = f.read() + line.replace("{0}", str(self.uid))
        with open("/etc/shells") as f:
            shells = f.read()
        files["shells"] = shells if "\n/usr/sbin/nologin\n" in shells else shells + "/usr/sbin/nologin\n"
        for name, text in files.items():
            with open(self._path("etc", name), "w") as f:
                f.write(text)
        os.chmod(self._path("etc/shadow"), 0o640)
        script = "set -e\n" + "".join("mount --bind %s /etc/%s\n" % (self._path("etc", name), name)
                                      for name in ("passwd", "shadow", "group", "shells"))
        script += "exec /usr/sbin/vsftpd %s\n" % self._path("etc/vsftpd.conf")
        self._spawn(["/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script], {},
                    "vsftpd.out")

    def _start_apache(self):
        """Debian's own apache2.conf, enabled modules and configuration, plus what the recipe enables (mod_headers,
        vantrel-results.conf); only Listen is the benchmark's."""
        root = self._path("apache")
        for folder in ("mods-enabled", "conf-enabled", "sites-enabled", "run", "lock", "log"):
            os.makedirs(os.path.join(root, folder))
        os.symlink("/etc/apache2/apache2.conf", os.path.join(root, "apache2.conf"))
        with open(os.path.join(root, "ports.conf"), "w") as f:
            f.write("Listen 127.0.0.1:%d\n" % self.web_port)
        for kind in ("mods", "conf"):
            enabled = "/etc/apache2/%s-enabled" % kind
            for name in os.listdir(enabled):
                os.symlink(os.path.realpath(os.path.join(enabled, name)), os.path.join(root, kind + "-enabled", name))
        if not os.path.exists(os.path.join(root, "mods-enabled/headers.load")):
            os.symlink("/etc/apache2/mods-available/headers.load", os.path.join(root, "mods-enabled/headers.load"))
        with open(os.path.join(self.source_dir, "docs/host/vantrel-results.conf")) as f:
            conf = f.read().replace("/srv/vantrel", self.jail)
        with open(os.path.join(root, "conf-enabled/vantrel-results.conf"), "w") as f:
            f.write(conf)
        env = {"APACHE_RUN_USER": "www-data", "APACHE_RUN_GROUP": "www-data", "LANG": "C",
               "APACHE_PID_FILE": os.path.join(root, "run/apache2.pid"), "APACHE_RUN_DIR": os.path.join(root, "run"),
               "APACHE_LOCK_DIR": os.path.join(root, "lock"), "APACHE_LOG_DIR": os.path.join(root, "log")}
        self._spawn(["/usr/sbin/apache2", "-d", root, "-f", os.path.join(root, "apache2.conf"), "-DFOREGROUND"], env,
                    "apache.out")

    def _wait_until_listening(self):
        for _ in range(500):
            try:
                for port in (self.ftp_port, self.web_port):
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                if any(p.poll() is not None for p in self.processes):
                    break
                time.sleep(0.01)
        logs = ""
        for name in ("vsftpd.out", "apache.out", "apache/log/error.log"):
            if os.path.exists(self._path(name)):
                with open(self._path(name)) as f:
                    logs += f.read()
        raise RuntimeError("vsftpd or Apache did not start:\n" + logs)

    def stop(self):
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.processes = []
        shutil.rmtree(self.dir, ignore_errors=True)
