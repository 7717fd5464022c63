"""The host's own log: refusals and limits on standard error, and with --log one line per request as well."""

import logging
import threading
import time

host_log = logging.getLogger("results-host")


class RequestLog:
    """One line per HTTP request, per FTP command and per refusal or limit that bit, flushed at once so that a
    test can read it right away."""

    def __init__(self, path):
        self._lock = threading.Lock()
        self._file = open(path, "a", encoding="utf-8", errors="backslashreplace") if path else None
        self._last = {}

    def write(self, line):
        if self._file is None:
            return
        with self._lock:
            self._file.write(line.replace("\r", "\\r").replace("\n", "\\n") + "\n")
            self._file.flush()

    def note(self, kind, address, text, quiet_for=0):
        """Logs a refusal or a limit that bit, with the client's address, on stderr and here. With quiet_for,
        the same kind of note for the same address is logged at most once in that many seconds (an abuser's
        thousand connections make one line, not a thousand)."""
        if quiet_for:
            key = (kind, address[0], text)
            now = time.monotonic()
            with self._lock:
                if now - self._last.get(key, -quiet_for) < quiet_for:
                    return
                self._last[key] = now
                if len(self._last) > 4096:
                    self._last.clear()
        line = "%s %s:%s %s" % (kind, address[0], address[1], text)
        host_log.warning(line)
        self.write(line)
