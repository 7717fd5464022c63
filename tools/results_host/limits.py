"""What keeps one client, or a crowd of them, from holding the host: the caps on sessions and requests, the
time limits and minimum rate of transfers, and the open-file limit those caps need."""

import collections
import errno
import resource
import sys

RATE_WINDOW = 15  # seconds over which a transfer must keep up the minimum rate
HEAD_DEADLINE = 15  # seconds for a web request's head to arrive
LOGON_DEADLINE = 30  # seconds from connecting to a successful logon
ACCEPT_PAUSE = 0.25  # seconds a server stops accepting when it runs out of file descriptors
OUT_OF_DESCRIPTORS = {errno.EMFILE, errno.ENFILE, errno.ENOBUFS, errno.ENOMEM}

Limits = collections.namedtuple(
    "Limits", "max_size per_address sessions requests idle_timeout data_timeout min_rate")


def fit_descriptor_limit(limits):
    """Raises the soft limit on open files as far as the caps need (3 per FTP session: control, passive
    listener, data; 2 per web request: socket, file), or lowers the caps to what it allows."""
    need = limits.sessions * 3 + limits.requests * 2 + 64
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft == resource.RLIM_INFINITY or soft >= need:
        return limits
    try:
        soft = need if hard == resource.RLIM_INFINITY else min(need, hard)
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    except (ValueError, OSError):
        soft = resource.getrlimit(resource.RLIMIT_NOFILE)[0]
    if soft >= need:
        return limits
    room = max(0, soft - 64)
    fitted = limits._replace(sessions=max(2, min(limits.sessions, room * 6 // 10 // 3)),
                             requests=max(2, min(limits.requests, room * 4 // 10 // 2)))
    print("results-host: the limit on open files (%d) allows %d FTP sessions and %d web requests at once"
          % (soft, fitted.sessions, fitted.requests), file=sys.stderr)
    return fitted
