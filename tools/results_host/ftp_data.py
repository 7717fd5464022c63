"""FTP data connections: an upload over its limit is stopped, a transfer slower than the minimum rate is cut off,
a full disk is answered at once, and a finished upload is judged by the session before its reply goes out."""

import errno
import logging
import time
import traceback

from pyftpdlib.handlers import DTPHandler, PassiveDTP, ThrottledDTPHandler, _FileReadWriteError

from .limits import OUT_OF_DESCRIPTORS, RATE_WINDOW
from .request_log import host_log

# What a full disk (or quota, or file size limit) is answered with: 452 insufficient storage, 552 exceeded
# storage allocation.
STORAGE_CODES = {errno.ENOSPC: 452, errno.EDQUOT: 552, errno.EFBIG: 552}


def storage_reply(err, what="the upload"):
    """The FTP reply for a write the host's disk did not take."""
    code = STORAGE_CODES.get(getattr(err, "errno", None), 451)
    return "%d Refused: the results host could not store %s (%s); nothing was added." % (
        code, what, getattr(err, "strerror", None) or err)


class GuardedTransfer:
    """Data connection part: stops an upload over its limit, cuts off a transfer slower than min_rate, and lets
    the command channel judge a finished upload before its reply goes out (the base class replies 226 before
    on_file_received runs)."""

    min_rate = 0
    _over_limit = False
    _start = 0
    _limit = (0, "")
    _rate_check = None
    _window = None
    _store_error = None

    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        if self.min_rate and not self._closed:
            self._rate_check = self.ioloop.call_every(RATE_WINDOW / 3, self._check_rate,
                                                      _errback=self.handle_error)

    def __repr__(self):
        # pyftpdlib's own asks the data file questions that raise once it is closed, and it runs while closing.
        return "<transfer %s:%s>" % (self.cmd_channel.remote_ip, self.cmd_channel.remote_port)

    __str__ = __repr__

    def enable_receiving(self, type, cmd):  # noqa: A002 - the base class's name
        super().enable_receiving(type, cmd)
        self._start = self.file_obj.tell()
        self._limit = self.cmd_channel.upload_limit(self.file_obj.name)

    def handle_read(self):
        try:
            super().handle_read()
        except _FileReadWriteError as err:
            self._storage_failure(err)
            return
        if self.receive and self._limit[0] and self.tot_bytes_received > self._limit[0] and not self._closed:
            self._over_limit = True
            self.cmd_channel.note("LIMIT", "upload over %d bytes stopped" % self._limit[0])
            self._resp = ("552 Refused: %s" % self._limit[1], logging.getLogger("pyftpdlib").info)
            self.close()

    handle_read_event = handle_read

    def _check_rate(self):
        if self._closed or not self._initialized:
            return
        now, moved = time.monotonic(), self.get_transmitted_bytes()
        if self._window is None:
            self._window = (now, moved)
        elif now - self._window[0] >= RATE_WINDOW:
            if moved - self._window[1] < self.min_rate * (now - self._window[0]):
                self.cmd_channel.note("TIMEOUT", "data connection under %d bytes a second for %ss"
                                      % (self.min_rate, RATE_WINDOW))
                self._resp = ("426 Transfer too slow (under %d bytes a second); transfer aborted." % self.min_rate,
                              logging.getLogger("pyftpdlib").info)
                self.close()
            else:
                self._window = (now, moved)

    def handle_timeout(self):
        if self.get_transmitted_bytes() <= self._lastdata:
            self.cmd_channel.note("TIMEOUT", "data connection idle for %ss" % self.timeout)
        super().handle_timeout()

    def _storage_failure(self, err):
        """What was received could not be written (a full disk): the client hears so at once."""
        self._store_error = err
        self.cmd_channel.note("REFUSED", "upload not stored: %s" % (getattr(err, "strerror", None) or err))
        self._resp = (storage_reply(err), logging.getLogger("pyftpdlib").info)
        self.close()

    def close(self):
        if self._rate_check is not None:
            self._rate_check.cancel()
            self._rate_check = None
        if not self._closed and self.receive and self.file_obj is not None:
            try:
                finished = (self._store_error is None and self.transfer_finished and bool(self._resp)
                            and self._resp[0].startswith("226"))
                # Written out and closed here, where a full disk can still be answered; the base class would
                # raise from its own close and leave the client without a reply.
                try:
                    self.file_obj.close()
                except OSError as err:
                    finished = False
                    self._store_error = err
                    self._resp = (storage_reply(err), logging.getLogger("pyftpdlib").info)
                reply = self.cmd_channel.upload_ended(self.file_obj.name, finished, self._over_limit, self._start,
                                                      self._store_error)
                if reply:
                    self._resp = (reply, logging.getLogger("pyftpdlib").info)
            except Exception:
                host_log.error("judging an upload failed:\n%s", traceback.format_exc())
        super().close()


class GuardedDTPHandler(GuardedTransfer, DTPHandler):
    pass


class GuardedThrottledDTPHandler(GuardedTransfer, ThrottledDTPHandler):
    pass


class GuardedPassiveDTP(PassiveDTP):
    def handle_accept(self):
        try:
            super().handle_accept()
        except OSError as err:
            if err.errno not in OUT_OF_DESCRIPTORS:
                raise
            self.cmd_channel.note("LIMIT", "out of file descriptors for a data connection")
            self.cmd_channel.respond("425 Can't open data connection: the host is busy.")
            self.close()


def transfer_class(throttle, limits):
    """The data connection class for one server: throttled to throttle bytes a second when above 0 (tests), with
    the time limit and minimum rate of limits."""
    base = GuardedThrottledDTPHandler if throttle > 0 else GuardedDTPHandler
    return type("Transfer", (base,), {"read_limit": throttle, "write_limit": throttle,
                                      "timeout": limits.data_timeout or None, "min_rate": limits.min_rate})
