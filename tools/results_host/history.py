"""The shared file and its history: the file only grows by whole records written at its end, and each change is
logged by the file's new length, so every earlier version can be listed and restored by cutting the file back."""

import collections
import datetime
import errno
import fcntl
import hashlib
import mmap
import os
import re
import shutil
import stat
import tempfile

from .names import SHARED_NAME
from .records import MAX_NEW_RECORDS, Refusal, check_new_records, whole_records_end

LOG_NAME = SHARED_NAME + "-lengths.log"
DIGEST_SPAN = 4096  # bytes before a logged length whose hash identifies the file at that length

KEEPS_EVERY_BYTE = "the new %s does not keep every byte of the current one." % SHARED_NAME
STAYS_A_FILE = "%s must stay a file of whole records." % SHARED_NAME


def utc_stamp():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d-%H%M%S.%f")


def end_digest(fd, length):
    """Identifies a file's first `length` bytes by the hash of the last few of them."""
    start = max(0, length - DIGEST_SPAN)
    return hashlib.sha256(os.pread(fd, length - start, start)).hexdigest()[:32]


def remove_path(path):
    try:
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.remove(path)
    except FileNotFoundError:
        pass


LogEntry = collections.namedtuple("LogEntry", "stamp address old new digest")


class LengthLog:
    """The shared file's history, one line per change: UTC time, client address, old and new length, and the
    digest of the new end. Append-only: since the file only grows by whole records, a version is its length."""

    def __init__(self, path):
        self.path = path

    def open(self):
        return os.open(self.path, os.O_RDWR | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC, 0o644)

    def append(self, address, old, new, digest, fd=None):
        """Adds one line, whole or not at all: a line cut short (a full disk) is taken back off, so the next
        line never runs into it. Raises OSError when the line could not be kept."""
        own = fd is None
        fd = self.open() if own else fd
        line = ("%s %s %d %d %s\n" % (utc_stamp(), address, old, new, digest)).encode()
        try:
            end = os.fstat(fd).st_size
            if end and os.pread(fd, 1, end - 1) != b"\n":
                line = b"\n" + line  # after a line that could not be taken back off
            try:
                if os.write(fd, line) != len(line):
                    raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
                os.fsync(fd)
            except OSError:
                try:
                    os.ftruncate(fd, end)
                except OSError:
                    pass  # entries() skips a line it cannot read; the next one starts on a line of its own
                raise
        finally:
            if own:
                os.close(fd)

    def entries(self):
        try:
            with open(self.path, encoding="ascii", errors="replace") as f:
                lines = f.read().split("\n")[:-1]  # a last line without its end was never finished
        except FileNotFoundError:
            return []
        out = []
        for line in lines:
            parts = line.split()
            if len(parts) == 5 and parts[2].isdigit() and parts[3].isdigit():
                out.append(LogEntry(parts[0], parts[1], int(parts[2]), int(parts[3]), parts[4]))
        return out


class SharedFile:
    """The shared file, kept append-only. A change only ever writes new records at the file's end, in one
    write(2), and logs the new length; uploads are received in a staging folder inside the history folder, out
    of reach of both servers. The FTP server runs on one thread, so a decision and the change it allows happen
    without any other FTP command in between."""

    def __init__(self, root, history, quota, lose_changes=False):
        self.root = os.path.realpath(root)
        self.path = os.path.join(self.root, SHARED_NAME)
        self.history = os.path.realpath(history)
        if self.history == self.root or self.history.startswith(self.root + os.sep):
            raise ValueError("the history folder %s lies inside the served folder %s" % (history, root))
        self.staging = os.path.join(self.history, ".incoming")
        os.makedirs(self.staging, exist_ok=True)
        self.quota = quota
        self.lose_changes = lose_changes  # a fault for tests: changes are acknowledged, then undone
        self.log = LengthLog(os.path.join(self.history, LOG_NAME))
        self._held = None

    def hold(self):
        """Takes the history folder for this process; False when another host or restore has it."""
        fd = os.open(os.path.join(self.history, ".lock"), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            os.close(fd)
            return False
        self._held = fd
        return True

    def clear_staging(self):
        """Removes uploads left half received by an earlier run."""
        for leftover in os.listdir(self.staging):
            remove_path(os.path.join(self.staging, leftover))

    def new_aside(self):
        fd, path = tempfile.mkstemp(prefix="upload-", dir=self.staging)
        os.close(fd)
        return path

    def size(self):
        try:
            return os.stat(self.path).st_size
        except FileNotFoundError:
            return 0

    # --- names, as the FTP server gives them: absolute and normalised

    def parts(self, path):
        """path's names below the data folder, () for the folder itself, None outside it."""
        rel = os.path.relpath(os.path.normpath(path), self.root)
        if rel == ".":
            return ()
        if rel == ".." or rel.startswith(".." + os.sep):
            return None
        return tuple(rel.split(os.sep))

    def guards(self, path):
        return self.parts(path) == (SHARED_NAME,)

    def shadows(self, path):
        """path would differ from the shared file's name only in case."""
        parts = self.parts(path)
        return (parts is not None and len(parts) == 1 and parts[0] != SHARED_NAME
                and parts[0].casefold() == SHARED_NAME.casefold())

    # --- changes

    def _check_growth(self, current, new_size):
        if new_size < current:
            raise Refusal(KEEPS_EVERY_BYTE)
        if new_size - current > MAX_NEW_RECORDS:
            raise Refusal("one change may add at most %d bytes of records to %s."
                          % (MAX_NEW_RECORDS, SHARED_NAME), 552)
        if self.quota and new_size > self.quota:
            raise Refusal("%s would exceed its quota of %d bytes." % (SHARED_NAME, self.quota), 552)

    def append(self, aside, address):
        """Adds the records received in aside. Returns (offset, bytes added)."""
        with open(aside, "rb") as f:
            body = f.read(MAX_NEW_RECORDS + 1)
        current = self.size()
        self._check_growth(current, current + len(body))
        check_new_records(body)
        return self._write_end(body, address), len(body)

    def replace(self, source, kept, address):
        """A new content for the shared file: its current first `kept` bytes, then source's. Taken only when it
        keeps every byte of the current file and adds whole records; only what it adds is written.
        Returns (offset, bytes added)."""
        try:
            info = os.lstat(source)
        except FileNotFoundError:
            raise Refusal(STAYS_A_FILE) from None
        if not stat.S_ISREG(info.st_mode):
            raise Refusal(STAYS_A_FILE)
        current = self.size()
        self._check_growth(current, kept + info.st_size)
        growth = kept + info.st_size - current
        with open(source, "rb") as new:
            if current > kept:
                with open(self.path, "rb") as old:
                    old.seek(kept)
                    left = current - kept
                    while left:
                        block = old.read(min(left, 1 << 20))
                        if not block or new.read(len(block)) != block:
                            raise Refusal(KEEPS_EVERY_BYTE)
                        left -= len(block)
            tail = new.read(growth + 1)
        if len(tail) != growth:
            raise Refusal(KEEPS_EVERY_BYTE)
        check_new_records(tail)
        return self._write_end(tail, address), len(tail)

    def _write_end(self, data, address):
        """Writes data at the end of the shared file with one write(2), then logs the new length."""
        log_fd = self.log.open()  # first: short of file descriptors, nothing changes
        try:
            fd = os.open(self.path, os.O_RDWR | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC, 0o666)
        except OSError:
            os.close(log_fd)
            raise
        try:
            info = os.fstat(fd)
            if not stat.S_ISREG(info.st_mode):
                raise Refusal(STAYS_A_FILE)
            old = info.st_size
            try:
                written = os.write(fd, data)
                if written != len(data):
                    raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
                os.fsync(fd)
            except OSError:
                os.ftruncate(fd, old)  # the file never keeps a cut record
                raise
            new = old + written
            if self.lose_changes:
                os.ftruncate(fd, old)
            else:
                try:
                    self.log.append(address, old, new, end_digest(fd, new), log_fd)
                except OSError:
                    # Kept only with its line in the log, so every length the file has had is a version.
                    os.ftruncate(fd, old)
                    os.fsync(fd)
                    raise
        finally:
            os.close(fd)
            os.close(log_fd)
        return old

    # --- history

    def versions(self):
        """Every logged version and kept copy, one line each, for people."""
        lines = ["%-22s  %12s  %10s  %s" % ("time (UTC)", "length", "change", "by")]
        for entry in self.log.entries():
            lines.append("%-22s  %12d  %+10d  %s" % (entry.stamp, entry.new, entry.new - entry.old,
                                                     entry.address))
        for name in self._kept_copies():
            lines.append("%-22s  %12d  %10s  kept copy %s" % (
                name[len(SHARED_NAME) + 1:], os.path.getsize(os.path.join(self.history, name)), "", name))
        lines.append("now %d bytes in %s" % (self.size(), self.path))
        return lines

    def _kept_copies(self):
        """Whole copies kept by earlier versions of the host: compare.zip.<UTC time>."""
        prefix = SHARED_NAME + "."
        return sorted(entry for entry in os.listdir(self.history)
                      if entry.startswith(prefix) and os.path.isfile(os.path.join(self.history, entry)))

    def restore(self, version):
        """Puts back a version: a logged length or time stamp, or a kept copy. What it removes is kept in the
        history folder. Raises ValueError when there is no such version, or it is not one of this file."""
        name = os.path.basename(version)
        if name in self._kept_copies():
            return self._restore_copy(os.path.join(self.history, name))
        entries = self.log.entries()
        if re.fullmatch(r"[0-9]+", version):
            length = int(version)
            if not any(length in (entry.old, entry.new) for entry in entries):
                raise ValueError("no logged version of %d bytes in %s" % (length, self.log.path))
        else:
            matches = [entry.new for entry in entries if entry.stamp == version]
            if not matches:
                raise ValueError("no version %s in %s, nor a kept copy of that name" % (version, self.history))
            length = matches[-1]
        digests = {entry.digest for entry in entries if entry.new == length}
        return self._cut_to(length, digests, "restore")

    def _cut_to(self, length, digests, address):
        fd = os.open(self.path, os.O_RDWR | os.O_CLOEXEC)
        try:
            size = os.fstat(fd).st_size
            if length > size:
                raise ValueError("%s holds %d bytes, fewer than %d" % (self.path, size, length))
            if digests and end_digest(fd, length) not in digests:
                raise ValueError("the first %d bytes of %s are not those logged: it is another file; "
                                 "nothing changed" % (length, self.path))
            if length == size:
                return "%s already holds %d bytes; nothing changed" % (self.path, size)
            aside = self._set_aside(fd, length, size)
            os.ftruncate(fd, length)
            os.fsync(fd)
            digest = end_digest(fd, length)
        finally:
            os.close(fd)
        self.log.append(address, size, length, digest)
        return ("cut %s back from %d to %d bytes; the %d bytes cut off are kept in %s"
                % (self.path, size, length, size - length, aside))

    def _set_aside(self, fd, start, end):
        aside = os.path.join(self.history, "%s-cut-%s" % (SHARED_NAME, utc_stamp()))
        with open(aside, "xb") as out:
            while start < end:
                block = os.pread(fd, min(end - start, 1 << 20), start)
                if not block:
                    break
                out.write(block)
                start += len(block)
            out.flush()
            os.fsync(out.fileno())
        return aside

    def _restore_copy(self, copy):
        size, wanted = self.size(), os.path.getsize(copy)
        if wanted <= size:
            with open(copy, "rb") as a, open(self.path, "rb") as b:
                same = True
                while same:
                    block = a.read(1 << 20)
                    if not block:
                        break
                    same = b.read(len(block)) == block
            if same:
                return self._cut_to(wanted, None, "restore")
        # Not a prefix of the current file: the whole current file is kept, the copy put in its place.
        kept = os.path.join(self.history, "%s.%s" % (SHARED_NAME, utc_stamp()))
        if os.path.exists(self.path):
            shutil.copyfile(self.path, kept)
        fd, temporary = tempfile.mkstemp(prefix="." + SHARED_NAME + ".restore-", dir=self.root)
        os.close(fd)
        shutil.copyfile(copy, temporary)
        os.chmod(temporary, 0o644)
        os.replace(temporary, self.path)
        with open(self.path, "rb") as f:
            self.log.append("restore", size, wanted, end_digest(f.fileno(), wanted))
        return "put %s back as %s; the file it replaced is kept as %s" % (copy, self.path, kept)

    def repair(self):
        """At start: a shared file whose end is not a whole record (cut by a crash during a write) is cut back
        to its last whole record after the last logged length it matches. Returns what was done, or None."""
        try:
            fd = os.open(self.path, os.O_RDONLY | os.O_CLOEXEC)
        except FileNotFoundError:
            return None
        try:
            size = os.fstat(fd).st_size
            base = None
            for entry in reversed(self.log.entries()):
                if entry.new <= size and end_digest(fd, entry.new) == entry.digest:
                    base = entry.new
                    break
            if base is None or base == size:
                return None  # in step with its log, or a file this host never wrote
            with mmap.mmap(fd, size, access=mmap.ACCESS_READ) as data:
                end = whole_records_end(data, base, size)
        finally:
            os.close(fd)
        if end == size:
            with open(self.path, "rb") as f:
                self.log.append("start", base, size, end_digest(f.fileno(), size))
            return None
        return "%s did not end in a whole record: %s" % (SHARED_NAME, self._cut_to(end, None, "repair"))
