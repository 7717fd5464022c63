"""The FTP server: its listening socket, the caps on sessions counted from connecting, and the loop that runs it."""

import time
import traceback

from pyftpdlib.servers import FTPServer

from .ftp_control import GuardedFTPHandler
from .limits import ACCEPT_PAUSE, OUT_OF_DESCRIPTORS
from .request_log import host_log


class GuardedFTPServer(FTPServer):
    """Counts sessions from the moment they connect, before logon, and outlives running out of file
    descriptors: it stops accepting for a moment instead of failing or spinning."""

    max_sessions = 0

    def __init__(self, address, handler, log):
        self._log = log
        super().__init__(address, handler)

    def _accept_new_cons(self):
        return not self.max_sessions or len(self.ip_map) <= self.max_sessions

    def handle_accept(self):
        try:
            super().handle_accept()
        except OSError as err:
            if err.errno not in OUT_OF_DESCRIPTORS:
                raise
            self._log.note("LIMIT", ("-", 0), "FTP server out of file descriptors", quiet_for=5)
            self.del_channel()
            self.ioloop.call_later(ACCEPT_PAUSE, self._resume, _errback=self.handle_error)

    def _resume(self):
        if not self._closed:
            self.add_channel()

    def handle_error(self):
        # The base class closes the listening socket, ending the service for everyone.
        host_log.error("FTP server: %s", traceback.format_exc())


def make_ftp_server(address, shared, turn, log, limits, password, read_only=False, throttle=0):
    """An FTP server listening on address (port 0: a free one) for the account on shared's data folder."""
    handler = GuardedFTPHandler.configured(shared, turn, log, limits, password, read_only, throttle)
    server = GuardedFTPServer(address, handler, log)
    server.max_cons = 0
    server.max_sessions = limits.sessions
    server.max_cons_per_ip = limits.per_address
    return server


def serve_until(server, stop):
    """Runs the server's loop until the event stop is set, then closes every session."""
    ioloop = server.ioloop
    wait = 0.2
    try:
        while not stop.is_set():
            if ioloop.socket_map:
                ioloop.poll(wait)
            else:
                time.sleep(wait)  # the listening socket rests after running out of file descriptors
            soonest = ioloop.sched.poll()
            # Never 0: the poller takes that for "wait for ever".
            wait = 0.2 if soonest is None else max(0.01, min(0.2, soonest))
    finally:
        server.close_all()
