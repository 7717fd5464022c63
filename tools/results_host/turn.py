"""The submitters' turn: which FTP session holds it, and which renames of the lock folder a submitter may make."""

import os
import stat

from .names import CLAIM_PREFIXES, LOCK_ENTRY_PREFIXES, LOCK_NAME


class Turn:
    """Which FTP session holds the submitters' turn: the one whose claim (a rename of its folder onto
    compare.lock) made the current compare.lock, as long as nothing has renamed, removed or replaced it since."""

    def __init__(self, root, appends_anytime=True):
        self.lock_path = os.path.join(root, LOCK_NAME)
        # Appends are taken outside every turn too (under the shared file's own lock); else only in a turn.
        self.appends_anytime = appends_anytime
        self.holder = None
        self._key = None
        self._lost = None  # (session, why) of the last holder that lost the turn

    def claimed(self, session):
        try:
            info = os.lstat(self.lock_path)
        except OSError:
            self.moved("compare.lock vanished")
            return
        self.moved("another session claimed compare.lock")
        self.holder, self._key = session, (info.st_dev, info.st_ino)

    def moved(self, why):
        if self.holder is not None:
            self._lost = (self.holder, why)
        self.holder = None

    def session_ended(self, session):
        if self.holder is session:
            self.holder = None
        if self._lost and self._lost[0] is session:
            self._lost = None

    def append_refusal(self, session):
        """None when session may append to the shared file now, else why not."""
        return None if self.appends_anytime else self.refusal(session)

    def refusal(self, session):
        """None while session holds the turn, else the reason it does not."""
        if self.holder is session:
            try:
                info = os.lstat(self.lock_path)
                same = stat.S_ISDIR(info.st_mode) and (info.st_dev, info.st_ino) == self._key
            except OSError:
                same = False
            if same:
                return None
            self.moved("compare.lock was replaced")
        if self._lost and self._lost[0] is session:
            return "the turn has passed: %s since this session claimed it." % self._lost[1]
        return "this session does not hold the turn: an append needs its claim of %s first." % LOCK_NAME


def claim_refusal(folder):
    """Why folder cannot be a claim, or None: a claim holds one heartbeat file (hb-...) and at most its stage
    folder, so the lock it becomes is one a waiter can take over."""
    entries = []
    try:
        with os.scandir(folder) as scan:
            for entry in scan:
                entries.append(entry)
                if len(entries) > 2:
                    break
    except OSError:
        return "a claim is a folder."
    beats = [e for e in entries if e.name.startswith("hb-") and e.is_file(follow_symlinks=False)]
    others = [e for e in entries if e not in beats]
    if len(entries) > 2 or len(beats) != 1 or any(not e.is_dir(follow_symlinks=False) for e in others):
        return "a claim folder holds one heartbeat file (hb-...) and at most its stage folder."
    return None


def lock_rename_refusal(source_parts, target_parts, source):
    """Why a rename of source onto the target is not one a submitter makes of the lock, or None. The parts are
    the names below the data folder (SharedFile.parts)."""
    src, dst = source_parts, target_parts
    if dst == (LOCK_NAME,):
        if src is None or len(src) != 1 or not src[0].startswith(CLAIM_PREFIXES):
            return "only a claim folder (%s...) is renamed onto %s." % ("... or ".join(CLAIM_PREFIXES), LOCK_NAME)
        return claim_refusal(source)
    if dst and len(dst) == 2 and dst[0] == LOCK_NAME:
        if not (src and len(src) == 2 and src[0] == LOCK_NAME and dst[1].startswith(LOCK_ENTRY_PREFIXES)):
            return "inside %s, only its own entries are renamed, to hb-... or dead-...." % LOCK_NAME
    return None
