"""The web side: the shared file at /vantrel/COMPARE.ZIP, whole or a byte range of it, and the results page beside
it at /vantrel/; nothing else of the data folder. Every answer carries its length and the page's security headers."""

import collections
import http.server
import io
import os
import re
import select
import socket
import stat
import threading
import time
import urllib.parse

from .limits import ACCEPT_PAUSE, HEAD_DEADLINE, OUT_OF_DESCRIPTORS, RATE_WINDOW
from .names import SHARED_NAME, WEB_FOLDER

CONTENT_SECURITY_POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                           "img-src 'self'; worker-src 'self'; base-uri 'none'; form-action 'none'; "
                           "frame-ancestors 'none'")
PAGE_TYPES = {
    "html": "text/html; charset=utf-8",
    "js": "text/javascript; charset=utf-8",
    "mjs": "text/javascript; charset=utf-8",
    "css": "text/css; charset=utf-8",
    "svg": "image/svg+xml",
    "png": "image/png",
    "ico": "image/x-icon",
    "json": "application/json",
    "txt": "text/plain; charset=utf-8",
    "woff2": "font/woff2",
}
ERROR_PAGE = ("<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD>"
              "<BODY><H1>Not Found</H1>The requested file was not found on this server.</BODY></HTML>\r\n")
SERVER_ERROR_PAGE = ("<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD>"
                     "<BODY><H1>Internal Server Error</H1></BODY></HTML>\r\n")
BUSY_PAGE = ("<HTML><HEAD><TITLE>503 Service Unavailable</TITLE></HEAD>"
             "<BODY><H1>Service Unavailable</H1>Too many requests; try again shortly.</BODY></HTML>\r\n")


# What one web server serves and how: shared_path the shared file, page_root the page folder (None: no page),
# fault one of the test faults ("none", "http-500", "http-300", "http-cut", "ignore-range": the whole file for a
# Range request, as servers may), throttle bytes a second (0: full speed), log a RequestLog, data_timeout and
# min_rate as the flags give them.
WebConfig = collections.namedtuple("WebConfig", "shared_path page_root fault throttle log data_timeout min_rate")

UNSATISFIABLE = "unsatisfiable"


def parse_range(header, size):
    """(first, last) byte of one "bytes=" range, UNSATISFIABLE, or None to answer with the whole file."""
    if not header:
        return None
    unit, _, spec = header.partition("=")
    if unit.strip().lower() != "bytes" or "," in spec:
        return None
    first, dash, last = (part.strip() for part in spec.partition("-"))
    digits = re.compile(r"[0-9]{1,18}")
    if not dash or (first and not digits.fullmatch(first)) or (last and not digits.fullmatch(last)):
        return None
    if not first:
        if not last:
            return None
        suffix = int(last)
        if suffix == 0 or size == 0:
            return UNSATISFIABLE
        return max(0, size - suffix), size - 1
    start = int(first)
    if last and int(last) < start:
        return None
    if start >= size:
        return UNSATISFIABLE
    return start, (min(int(last), size - 1) if last else size - 1)


def page_file(page_root, name):
    """The page folder's file for a request path below /vantrel/, and its type, or None."""
    if page_root is None:
        return None
    if name == "" or name.endswith("/"):
        name += "index.html"
    parts = name.split("/")
    if any(not part or part.startswith(".") or "\\" in part or "\0" in part for part in parts):
        return None
    kind = PAGE_TYPES.get(os.path.splitext(parts[-1])[1].lower().lstrip("."))
    path = os.path.realpath(os.path.join(page_root, *parts))
    if kind is None or not path.startswith(page_root + os.sep) or not os.path.isfile(path):
        return None
    return path, kind


# A client may send its next request on the same connection within this many seconds (the program's
# read-back follows its update by a few round trips); an idle connection holds its thread no longer.
KEEP_ALIVE_IDLE = 2
MAX_REQUESTS_PER_CONNECTION = 16


class WebHandler(http.server.BaseHTTPRequestHandler):
    """One web request. The server's settings come in the class attribute config (a WebConfig)."""

    server_version = "VantrelResultsHost/1.0"
    protocol_version = "HTTP/1.1"
    config = None

    @classmethod
    def configured(cls, config):
        """A handler class of its own for one server, so that two servers in one process keep their settings."""
        return type(cls.__name__, (cls,), {"config": config})

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def handle(self):
        for served in range(MAX_REQUESTS_PER_CONNECTION):
            self.close_connection = True
            self._last = served + 1 == MAX_REQUESTS_PER_CONNECTION
            head = self._read_head(KEEP_ALIVE_IDLE if served else None)
            if not head:
                return
            # The head is read whole first, against a deadline, so a trickling client cannot hold a thread.
            self.rfile = io.BytesIO(head)
            data_timeout = self.config.data_timeout
            self.connection.settimeout(min(data_timeout, RATE_WINDOW) if data_timeout else RATE_WINDOW)
            self.handle_one_request()
            if self.close_connection:
                return

    def _read_head(self, idle=None):
        """The next request's head; None when none came in time (idle: a kept connection's next request,
        whose absence is no fault)."""
        data_timeout = self.config.data_timeout
        limit = min(HEAD_DEADLINE, data_timeout) if data_timeout else HEAD_DEADLINE
        if idle is not None:
            limit = min(limit, idle)
        deadline = time.monotonic() + limit
        data = b""
        while b"\r\n\r\n" not in data and b"\n\n" not in data:
            left = deadline - time.monotonic()
            if left <= 0 or len(data) > 16 << 10:
                if data or idle is None:
                    self.config.log.note("TIMEOUT", self.client_address,
                                         "HTTP request head not complete within %ss" % limit)
                return None
            self.connection.settimeout(left)
            try:
                chunk = self.connection.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                return None
            if not chunk:
                return data or None
            data += chunk
        return data

    def do_GET(self):
        self._answer(send_body=True)

    def do_HEAD(self):
        self._answer(send_body=False)

    def send_error(self, code, message=None, explain=None):
        # The base class's page would lack the headers every answer carries.
        title = "%d %s" % (code, self.responses.get(code, ("Error",))[0])
        page = "<HTML><HEAD><TITLE>%s</TITLE></HEAD><BODY><H1>%s</H1></BODY></HTML>\r\n" % (title, title)
        self._send_page(code, page, self.command != "HEAD")

    def _answer(self, send_body):
        fault = self.config.fault
        if fault == "http-500":
            return self._send_page(500, SERVER_ERROR_PAGE, send_body)
        if fault == "http-300":
            return self._send_page(300, "<html><body>Multiple Choices</body></html>\r\n", send_body)
        path = urllib.parse.urlsplit(self.path).path
        if path == "/" or path.lower() == WEB_FOLDER.rstrip("/"):
            return self._send_page(301, "", send_body, [("Location", WEB_FOLDER)])
        if not path.lower().startswith(WEB_FOLDER):
            return self._send_page(404, ERROR_PAGE, send_body)
        name = urllib.parse.unquote(path[len(WEB_FOLDER):])
        if name.casefold() == SHARED_NAME:
            return self._send_file(self.config.shared_path, "application/octet-stream", send_body, ranges=True)
        found = page_file(self.config.page_root, name)
        if found is None:
            return self._send_page(404, ERROR_PAGE, send_body)
        return self._send_file(found[0], found[1], send_body, ranges=False)

    def _start(self, status, content_type, length, extra=()):
        headers = getattr(self, "headers", None)
        self.config.log.write("HTTP %s %s %d %s" % (self.command, self.path, status,
                                                     headers.get("User-Agent", "-") if headers else "-"))
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(length))
        for key, value in extra:
            self.send_header(key, value)
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Content-Security-Policy", CONTENT_SECURITY_POLICY)
        self.send_header("X-Content-Type-Options", "nosniff")
        if self.close_connection or getattr(self, "_last", True) or self.config.fault == "http-cut":
            self.close_connection = True
            self.send_header("Connection", "close")
        self.end_headers()

    def _send_page(self, status, text, send_body, extra=()):
        body = text.encode("ascii")
        try:
            self._start(status, "text/html", len(body), extra)
            if send_body:
                self.wfile.write(body)
        except OSError:
            pass

    def _send_file(self, path, content_type, send_body, ranges):
        try:
            f = open(path, "rb")
        except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
            return self._send_page(404, ERROR_PAGE, send_body)
        except OSError:
            return self._send_page(503, BUSY_PAGE, send_body, [("Retry-After", "5")])
        with f:
            # The size at opening is what this answer serves, whatever is appended meanwhile.
            info = os.fstat(f.fileno())
            if not stat.S_ISREG(info.st_mode):
                return self._send_page(404, ERROR_PAGE, send_body)
            size = info.st_size
            status, start, length, extra = 200, 0, size, []
            if ranges and self.config.fault != "ignore-range":
                extra.append(("Accept-Ranges", "bytes"))
                wanted = parse_range(self.headers.get("Range"), size)
                if wanted == UNSATISFIABLE:
                    extra.append(("Content-Range", "bytes */%d" % size))
                    return self._send_page(416, "", send_body, extra)
                if wanted:
                    status, start, length = 206, wanted[0], wanted[1] - wanted[0] + 1
                    extra.append(("Content-Range", "bytes %d-%d/%d" % (wanted[0], wanted[1], size)))
            try:
                self._start(status, content_type, length, extra)
                if send_body and length and not self._send_body(
                        f, start, length // 2 if self.config.fault == "http-cut" else length):
                    self.close_connection = True
            except OSError:
                self.close_connection = True
                return
        if self.config.fault == "http-cut":
            # Announce everything, deliver about half, then drop the connection.
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _send_body(self, f, offset, length):
        """Streams length bytes of f from offset; cut off when the client takes less than min_rate bytes a
        second over RATE_WINDOW seconds, or nothing for data_timeout seconds. True when all of it went."""
        throttle, min_rate, data_timeout, log = (self.config.throttle, self.config.min_rate,
                                                 self.config.data_timeout, self.config.log)
        out = self.connection
        out.setblocking(False)
        waiter = select.poll()
        waiter.register(out, select.POLLOUT)
        chunk = max(1, throttle // 10) if throttle > 0 else 256 << 10
        least = min_rate * RATE_WINDOW
        window_start = last_progress = time.monotonic()
        window_sent = 0
        end = offset + length
        while offset < end:
            now = time.monotonic()
            if now - window_start >= RATE_WINDOW:
                if window_sent < least:
                    log.note("TIMEOUT", self.client_address,
                             "HTTP transfer under %d bytes a second for %ss" % (min_rate, RATE_WINDOW))
                    return False
                window_start, window_sent = now, 0
            if data_timeout and now - last_progress >= data_timeout:
                log.note("TIMEOUT", self.client_address, "HTTP request idle for %ss" % data_timeout)
                return False
            wait = window_start + RATE_WINDOW - now
            if data_timeout:
                wait = min(wait, last_progress + data_timeout - now)
            if not waiter.poll(max(0.0, wait) * 1000):
                continue
            try:
                sent = os.sendfile(out.fileno(), f.fileno(), offset, min(chunk, end - offset))
            except BlockingIOError:
                continue
            if sent == 0:
                return False  # the file was cut short meanwhile
            offset += sent
            window_sent += sent
            last_progress = time.monotonic()
            if throttle > 0:
                time.sleep(0.1)
        return True


class WebServer(http.server.ThreadingHTTPServer):
    """One thread per request, at most `most` at once and per_address of them for one client address; config (a
    WebConfig) says what the requests are answered with."""

    daemon_threads = True
    block_on_close = False  # a stalled client must not hold up the host's exit
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, address, config, per_address, most):
        super().__init__(address, WebHandler.configured(config))
        self._per_address = per_address
        self._most = most
        self._log = config.log
        self._open = collections.Counter()
        self._total = 0
        self._lock = threading.Lock()

    def get_request(self):
        try:
            return super().get_request()
        except OSError as err:
            if err.errno in OUT_OF_DESCRIPTORS:
                # The waiting connections stay queued; accepting in a tight loop would only burn the CPU.
                self._log.note("LIMIT", ("-", 0), "web server out of file descriptors", quiet_for=5)
                time.sleep(ACCEPT_PAUSE)
            raise

    def process_request(self, request, client_address):
        ip = client_address[0]
        with self._lock:
            if self._per_address and self._open[ip] >= self._per_address:
                busy = "more than %d web requests from one address" % self._per_address
            elif self._most and self._total >= self._most:
                busy = "more than %d web requests at once" % self._most
            else:
                busy = None
                self._open[ip] += 1
                self._total += 1
        if busy:
            self._log.note("LIMIT", client_address, busy, quiet_for=5)
            self._refuse(request)
            return
        try:
            super().process_request(request, client_address)
        except Exception:
            self._done(ip)
            self.shutdown_request(request)

    def _refuse(self, request):
        body = BUSY_PAGE.encode("ascii")
        head = ("HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                "Retry-After: 5\r\nCache-Control: no-cache\r\nContent-Security-Policy: %s\r\n"
                "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" % (len(body), CONTENT_SECURITY_POLICY))
        try:
            request.setblocking(False)
            request.send(head.encode("ascii") + body)
        except OSError:
            pass
        self.shutdown_request(request)

    def _done(self, ip):
        with self._lock:
            self._total -= 1
            self._open[ip] -= 1
            if self._open[ip] <= 0:
                del self._open[ip]

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._done(client_address[0])

    def handle_error(self, request, client_address):
        pass  # a client that went away is no news
