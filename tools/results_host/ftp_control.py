"""The FTP session: what the account may do to the shared file and the submitters' lock. Uploads of the shared
file are received aside and judged once complete; an append only in the session's turn, a replacement only when it
keeps every byte. Refusals are answered "550 Refused: <reason>" and logged with the client's address."""

import collections
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler

from .ftp_data import GuardedPassiveDTP, storage_reply, transfer_class
from .history import STAYS_A_FILE, remove_path
from .limits import LOGON_DEADLINE, OUT_OF_DESCRIPTORS
from .names import APPEND_ANYTIME_FEATURE, APPEND_FEATURE, LOCK_NAME, SHARED_NAME, USER_NAME
from .records import MAX_NEW_RECORDS, Refusal
from .request_log import host_log
from .turn import lock_rename_refusal


class GuardedFTPHandler(FTPHandler):
    """One FTP session. What it guards comes in class attributes, set by configured()."""

    shared = None  # the SharedFile
    turn = None  # the Turn, one for all sessions of a server
    request_log = None  # the RequestLog
    limits = None  # the Limits
    # The upload now being received for the shared file: (aside path, bytes of the current file it follows,
    # None for an append).
    _pending = None

    @classmethod
    def configured(cls, shared, turn, request_log, limits, password, read_only=False, throttle=0):
        """A handler class of its own for one server, so that two servers in one process keep their settings."""
        authorizer = DummyAuthorizer()
        # e=CWD l=LIST r=RETR; a=APPE d=DELE f=RNFR/RNTO m=MKD w=STOR M=SITE CHMOD T=MFMT
        authorizer.add_user(USER_NAME, password, shared.root, perm="elr" if read_only else "elradfmwMT")
        return type(cls.__name__, (cls,), {
            "shared": shared, "turn": turn, "request_log": request_log, "limits": limits,
            "authorizer": authorizer, "banner": "Vantrel results host ready.", "permit_foreign_addresses": False,
            "timeout": limits.idle_timeout or None, "passive_dtp": GuardedPassiveDTP,
            "dtp_handler": transfer_class(throttle, limits)})

    def __init__(self, conn, server, ioloop=None):
        super().__init__(conn, server, ioloop=ioloop)
        self._extra_feats = [APPEND_FEATURE] + ([APPEND_ANYTIME_FEATURE] if self.turn.appends_anytime else [])

    def get_repr_info(self, as_str=False, extra_info=None):
        # Only what cannot fail: the base class's touches a data file that may be closed already.
        fields = collections.OrderedDict(id=id(self), addr="%s:%s" % (self.remote_ip, self.remote_port))
        if self.username:
            fields["user"] = self.username
        return ", ".join("%s=%r" % item for item in fields.items()) if as_str else fields

    def handle(self):
        super().handle()
        if not self._closed:
            self.call_later(LOGON_DEADLINE, self._logon_overdue)

    def _logon_overdue(self):
        if not self.authenticated and not self._closed:
            self.note("TIMEOUT", "no logon within %ss" % LOGON_DEADLINE)
            self.respond("421 Log on within %d seconds of connecting." % LOGON_DEADLINE)
            self.close_when_done()

    def pre_process_command(self, line, cmd, arg):
        shown = "PASS ****" if cmd == "PASS" else line
        self.request_log.write("FTP " + shown)
        return super().pre_process_command(line, cmd, arg)

    def note(self, kind, text, quiet_for=0):
        self.request_log.note(kind, (self.remote_ip, self.remote_port), text, quiet_for)

    def refuse(self, cmd, path, reason, code=550):
        self.note("REFUSED", "%s %s: %s" % (cmd, self.fs.fs2ftp(path), reason))
        self.respond("%d Refused: %s" % (code, reason))

    def _upload_refusal(self, path):
        if self.shared.shadows(path):
            return "a name that differs from %s only in case." % SHARED_NAME
        parts = self.shared.parts(path)
        if parts and parts[0] == LOCK_NAME and len(parts) <= 2:
            return "nothing is stored as %s or directly inside it." % LOCK_NAME
        return None

    # --- uploads: the shared file's are received aside and judged once complete

    def ftp_STOR(self, file, mode="w"):
        cmd = "APPE" if "a" in mode else "STOR"
        kept = self._restart_position
        self._restart_position = 0
        reason = self._upload_refusal(file)
        if reason:
            return self.refuse(cmd, file, reason)
        if not self.shared.guards(file):
            self._restart_position = kept
            return super().ftp_STOR(file, mode)
        if cmd == "APPE":
            reason = self.turn.append_refusal(self)
            if reason:
                return self.refuse(cmd, file, reason)
            kept = None
        elif kept > self.shared.size():
            self.respond("554 REST position (%d) > file size (%d)" % (kept, self.shared.size()))
            return None
        self.discard_pending()
        try:
            aside = self.shared.new_aside()
        except OSError as err:
            self.respond(storage_reply(err))
            return None
        self._pending = (aside, kept)
        if super().ftp_STOR(aside, "w") is None:
            self.discard_pending()
            return None
        return file

    def ftp_STOU(self, line):
        folder = os.path.dirname(self.fs.ftp2fs(line)) if line else self.fs.ftp2fs(self.fs.cwd)
        if self.shared.parts(folder) == (LOCK_NAME,):
            return self.refuse("STOU", folder, "nothing is stored directly inside %s." % LOCK_NAME)
        return super().ftp_STOU(line)

    def upload_limit(self, name):
        if self._pending and self._pending[0] == name and self._pending[1] is None:
            return MAX_NEW_RECORDS, "an append to %s may add at most %d bytes." % (SHARED_NAME, MAX_NEW_RECORDS)
        return self.limits.max_size, "an upload may not exceed %d bytes." % self.limits.max_size

    def upload_ended(self, name, finished, over_limit, start, store_error=None):
        """Called as an upload's data connection closes, before its reply; returns the reply for the shared
        file, or None. start: where in the file the upload began writing. store_error: why what arrived
        could not all be written."""
        if self._pending is None or self._pending[0] != name:
            if over_limit or store_error is not None:
                # Keep nothing of an over-size upload, but what the file held before an append.
                try:
                    if start:
                        os.truncate(name, start)
                    else:
                        os.remove(name)
                except OSError:
                    pass
            return None
        aside, kept = self._pending
        self._pending = None
        try:
            if not finished:
                return None
            cmd = "APPE" if kept is None else "STOR"
            try:
                if kept is None:
                    # Judged now that all of it has arrived, against the lock as it is now.
                    reason = self.turn.append_refusal(self)
                    if reason:
                        raise Refusal(reason)
                    offset, added = self.shared.append(aside, self.remote_ip)
                else:
                    offset, added = self.shared.replace(aside, kept, self.remote_ip)
            except Refusal as refusal:
                self.note("REFUSED", "%s /%s: %s" % (cmd, SHARED_NAME, refusal))
                return "%d Refused: %s" % (refusal.code, refusal)
            except OSError as err:
                host_log.error("cannot change %s: %s", self.shared.path, err)
                return storage_reply(err, "the new records")
            return "226 Appended %d bytes at %d." % (added, offset)
        finally:
            remove_path(aside)

    def discard_pending(self):
        if self._pending is not None:
            remove_path(self._pending[0])
            self._pending = None

    def close(self):
        try:
            super().close()
        finally:
            self.discard_pending()
            self.turn.session_ended(self)

    # --- the shared file is never removed, renamed away or shadowed; the lock is only claimed, beaten,
    # taken over and released as the submitters do

    def ftp_DELE(self, path):
        if self.shared.guards(path):
            return self.refuse("DELE", path, "%s cannot be deleted." % SHARED_NAME)
        return super().ftp_DELE(path)

    def ftp_RNFR(self, path):
        if self.shared.guards(path):
            return self.refuse("RNFR", path, "%s cannot be renamed." % SHARED_NAME)
        super().ftp_RNFR(path)
        if self._rnfr is not None and self.shared.parts(path) == (LOCK_NAME,):
            self.turn.moved("compare.lock was renamed")

    def ftp_RNTO(self, path):
        source = self._rnfr
        if source is None:
            return super().ftp_RNTO(path)
        if self.shared.shadows(path):
            self._rnfr = None
            return self.refuse("RNTO", path, "a name that differs from %s only in case." % SHARED_NAME)
        if self.shared.guards(path):
            self._rnfr = None
            return self._adopt(source, path)
        reason = lock_rename_refusal(self.shared.parts(source), self.shared.parts(path), source)
        if reason:
            self._rnfr = None
            return self.refuse("RNTO", path, reason)
        done = super().ftp_RNTO(path)
        if done and self.shared.parts(path) == (LOCK_NAME,):
            self.turn.claimed(self)
        elif done and self.shared.parts(source) == (LOCK_NAME,):
            self.turn.moved("compare.lock was renamed")
        return done

    def _adopt(self, source, path):
        """A rename onto the shared file: what source adds is appended, and source is gone afterwards as
        after any rename. Its bytes are read now: a session may still be writing into it."""
        try:
            offset, added = self.shared.replace(source, 0, self.remote_ip)
        except Refusal as refusal:
            return self.refuse("RNTO", path, str(refusal), refusal.code)
        except OSError as err:
            self.respond(storage_reply(err, "the new records"))
            return None
        remove_path(source)
        self.respond("250 Renaming ok: %d bytes appended at %d." % (added, offset))
        return (source, path)

    def ftp_MKD(self, path):
        parts = self.shared.parts(path)
        if self.shared.guards(path):
            return self.refuse("MKD", path, STAYS_A_FILE)
        if self.shared.shadows(path):
            return self.refuse("MKD", path, "a name that differs from %s only in case." % SHARED_NAME)
        if parts == (LOCK_NAME,):
            return self.refuse("MKD", path, "%s is made only by renaming a claim folder onto it." % LOCK_NAME)
        if parts and parts[0] == LOCK_NAME:
            return self.refuse("MKD", path, "nothing is made inside %s." % LOCK_NAME)
        return super().ftp_MKD(path)

    def ftp_RMD(self, path):
        super().ftp_RMD(path)
        if self.shared.parts(path) == (LOCK_NAME,) and self._last_response.startswith("250"):
            self.turn.moved("compare.lock was removed")

    def ftp_SITE_CHMOD(self, path, mode):
        # Either change could hide the shared file from its readers.
        if self.shared.guards(path):
            return self.refuse("SITE CHMOD", path, "the mode of %s cannot be changed." % SHARED_NAME)
        if os.path.realpath(path) == self.shared.root:
            return self.refuse("SITE CHMOD", path, "the mode of the starting folder cannot be changed.")
        return super().ftp_SITE_CHMOD(path, mode)

    def _make_epasv(self, extmode=False):
        try:
            return super()._make_epasv(extmode)
        except OSError as err:
            if err.errno not in OUT_OF_DESCRIPTORS:
                raise
            self.note("LIMIT", "out of file descriptors for a data connection")
            self.respond("425 Can't open data connection: the host is busy.")
            return None

    # --- limits

    def handle_timeout(self):
        if self._closed:
            return
        self.note("TIMEOUT", "FTP session idle for %ss" % self.timeout)
        super().handle_timeout()

    def handle_max_cons(self):
        self.note("LIMIT", "more than %d FTP sessions at once" % self.server.max_sessions, quiet_for=5)
        super().handle_max_cons()

    def handle_max_cons_per_ip(self):
        self.note("LIMIT", "more than %d connections from one address" % self.limits.per_address, quiet_for=5)
        super().handle_max_cons_per_ip()
