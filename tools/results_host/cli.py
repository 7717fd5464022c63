"""The command line: flags, the one-off actions on the history (--versions, --restore), and running both servers.

Prints one line containing "ready" (with the chosen ports) once both servers accept connections; stops cleanly on
SIGTERM or Ctrl-C. Hidden flags exist so that tests can provoke faults."""

import argparse
import logging
import os
import signal
import sys
import threading
import time

from .ftp_server import make_ftp_server, serve_until
from .history import SharedFile
from .limits import RATE_WINDOW, Limits, fit_descriptor_limit
from .names import DEFAULT_PASSWORD, SHARED_NAME
from .request_log import RequestLog
from .turn import Turn
from .web import WebConfig, WebServer

VERSION = "3.0.0"  # the CMake project version; test_console_flags keeps the two in step


def default_root():
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local", "share")
    return os.path.join(base, "vantrel3-results-host")


def default_page():
    """The repository's web/ beside tools/ in a source tree, else the page installed beside this package
    (share/vantrel3-results-host/web)."""
    here = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
    repository = os.path.dirname(here)
    if os.path.basename(here) == "tools" and os.path.isdir(os.path.join(repository, "web")):
        return os.path.join(repository, "web")
    return os.path.join(here, "web")


def parse_size(text):
    """Bytes, with an optional K, M or G (binary multiples); 0 means no limit."""
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper().removesuffix("B")
    factor = units.get(text[-1:], 1)
    if factor != 1:
        text = text[:-1]
    try:
        value = int(text) * factor
    except ValueError:
        raise argparse.ArgumentTypeError("not a size: %r" % text) from None
    if value < 0:
        raise argparse.ArgumentTypeError("a size cannot be negative")
    return value


def watch_parent(stop):
    """Ends the host when the process that started it has gone (a test killed half way)."""
    parent = os.getppid()
    while not stop.is_set():
        if os.getppid() != parent:
            stop.set()
            return
        time.sleep(0.5)


def port(text):
    """A port number from the command line: 1 to 65535, or 0 for a free one."""
    try:
        value = int(text)
    except ValueError:
        value = -1
    if not 0 <= value <= 65535:
        raise argparse.ArgumentTypeError("%r is no port: a port is 1 to 65535 (0 picks a free one)" % text)
    return value


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Local FTP and web results host for Vantrel 3.")
    parser.add_argument("--version", action="version", version="%(prog)s " + VERSION)
    parser.error = lambda message: parser.exit(2, "{0}: {1}\nTry '{0} --help' for more information.\n".format(
        parser.prog, message))  # one line naming the fault and a hint, not the whole usage
    parser.add_argument("--ftp-port", type=port, default=28021, help="FTP port (default 28021; 0 picks a free one)")
    parser.add_argument("--http-port", type=port, default=28080,
                        help="HTTP port (default 28080; 0 picks a free one)")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--root", default=None, help="data folder (default: %s)" % default_root())
    parser.add_argument("--page", default=None, metavar="DIR",
                        help="the results page's folder, served read-only at /vantrel/ (default: %s)"
                             % default_page())
    parser.add_argument("--password", default=DEFAULT_PASSWORD, help="password of the account 'vantrel'")
    parser.add_argument("--read-only", action="store_true", help="the FTP account may read but not write")
    parser.add_argument("--history", default=None, metavar="DIR",
                        help="where the log of %s's lengths and what restores cut off are kept (default: the "
                             "data folder's name followed by '-history', beside it)" % SHARED_NAME)
    parser.add_argument("--versions", action="store_true",
                        help="list every logged version of %s and every kept copy, and exit" % SHARED_NAME)
    parser.add_argument("--restore", default=None, metavar="VERSION",
                        help="cut %s back to a version --versions lists (its length or time, or a kept copy's "
                             "name), keeping what is cut off, and exit; stop the host first" % SHARED_NAME)
    parser.add_argument("--quota", type=parse_size, default=256 << 20, metavar="BYTES",
                        help="largest size of %s, with K, M or G; 0: no limit (default 256M)" % SHARED_NAME)
    parser.add_argument("--max-size", type=parse_size, default=64 << 20, metavar="BYTES",
                        help="largest upload, with K, M or G for binary multiples; 0: no limit (default 64M)")
    parser.add_argument("--max-per-address", type=int, default=32, metavar="N",
                        help="FTP sessions, and web requests, one client address may hold at once; 0: no limit "
                             "(default 32)")
    parser.add_argument("--max-sessions", type=int, default=1000, metavar="N",
                        help="FTP sessions at once, counted from connecting; 0: no limit (default 1000)")
    parser.add_argument("--max-requests", type=int, default=250, metavar="N",
                        help="web requests at once; 0: no limit (default 250)")
    parser.add_argument("--idle-timeout", type=int, default=300, metavar="SECONDS",
                        help="close an FTP session that sends no command for this long; 0: never (default 300)")
    parser.add_argument("--data-timeout", type=int, default=60, metavar="SECONDS",
                        help="close an FTP data connection or HTTP request that makes no progress for this "
                             "long; 0: never (default 60)")
    parser.add_argument("--min-rate", type=parse_size, default=1 << 10, metavar="BYTES",
                        help="close a transfer that moves fewer bytes a second than this over %d seconds; "
                             "0: never (default 1K)" % RATE_WINDOW)
    parser.add_argument("--log", default=None, metavar="FILE",
                        help="log every HTTP request and FTP command, and every refusal and limit that bit")
    parser.add_argument("--verbose", action="store_true", help="let the FTP server log its sessions")
    parser.add_argument("--appends-in-turn-only", action="store_true",
                        help="take an append only in its sender's turn and list only VANTREL-APPE-IN-TURN, as earlier versions of this host did")
    # For tests only.
    parser.add_argument("--fault", default="none", help=argparse.SUPPRESS,
                        choices=("none", "http-500", "http-300", "http-cut", "ignore-range", "lose-upload"))
    parser.add_argument("--throttle", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--exit-with-parent", action="store_true", help=argparse.SUPPRESS)
    # Kept so that settings written for earlier versions still start the host; the history no longer holds
    # whole copies to prune.
    parser.add_argument("--keep", type=int, default=None, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if min(args.max_per_address, args.max_sessions, args.max_requests, args.idle_timeout, args.data_timeout) < 0:
        parser.error("the limits and time-outs cannot be negative")
    return args


def main(argv):
    args = parse_args(argv)
    root = os.path.abspath(args.root or default_root())
    os.makedirs(root, exist_ok=True)
    history = os.path.abspath(args.history or os.path.normpath(root) + "-history")
    logging.basicConfig(level=logging.INFO if args.verbose else logging.WARNING, stream=sys.stderr)
    log = RequestLog(args.log)
    try:
        shared = SharedFile(root, history, args.quota, lose_changes=args.fault == "lose-upload")
        if args.versions:
            print("\n".join(shared.versions()))
            return 0
        if not shared.hold():
            raise ValueError("a results host is running on %s; stop it first" % shared.history)
        if args.restore:
            print(shared.restore(args.restore))
            return 0
        shared.clear_staging()
        repaired = shared.repair()
        if repaired:
            print("results-host: " + repaired, file=sys.stderr)
            log.write("REPAIRED " + repaired)
    except (OSError, ValueError) as err:
        print("results-host: %s" % err, file=sys.stderr)
        return 2
    serve(args, root, shared, log)
    return 0


def serve(args, root, shared, log):
    """Runs both servers on shared until SIGTERM or SIGINT (or, with --exit-with-parent, the parent's end)."""
    # A throttled host (tests) must not cut off its own slow transfers.
    min_rate = args.min_rate if args.throttle <= 0 else min(args.min_rate, args.throttle // 2)
    limits = fit_descriptor_limit(Limits(args.max_size, args.max_per_address, args.max_sessions,
                                         args.max_requests, args.idle_timeout, args.data_timeout, min_rate))
    stop = threading.Event()

    def request_stop(signum, frame):
        stop.set()

    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)

    ftp = make_ftp_server((args.bind, args.ftp_port), shared, Turn(shared.root, not args.appends_in_turn_only), log, limits, args.password,
                          args.read_only, args.throttle)
    page = args.page if args.page is not None else default_page()
    config = WebConfig(shared.path, os.path.realpath(page) if page else None, args.fault, args.throttle, log,
                       limits.data_timeout, min_rate)
    web = WebServer((args.bind, args.http_port), config, limits.per_address, limits.requests)
    web_thread = threading.Thread(target=web.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    web_thread.start()
    if args.exit_with_parent:
        threading.Thread(target=watch_parent, args=(stop,), daemon=True).start()

    # Both sockets listen from here on: connections queue until the loops pick them up.
    ftp_address = ftp.socket.getsockname()
    web_address = web.socket.getsockname()
    print("ready ftp=%s:%d http=%s:%d root=%s" % (ftp_address[0], ftp_address[1], web_address[0],
                                                  web_address[1], root), flush=True)
    try:
        serve_until(ftp, stop)
    finally:
        web.shutdown()
        web.server_close()
