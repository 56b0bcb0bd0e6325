#!/usr/bin/python3
"""Simulated cards for tests and demonstrations: an FTP server per card, each
on its own loopback address on port 21 (or one server for them all, with
--one-socket), behaving as a card does when modules are uploaded to it.

The cards are described in a JSON file, a list of objects:

  ip           loopback address to listen on, e.g. "127.0.0.2" (required)
  user, password                  the card's FTP login (required)
  zel          the running ZEL module, listed as the first "kvn" entry
  app          the running APP module, listed after it (optional)
  data, event  contents of data.txt and event.txt; absent: no such file
  before       names listed before the ZEL module (e.g. another version)
  restart_s    seconds after an upload during which logins are refused
  install      false: uploaded modules are stored but never installed
  refuse_zel, refuse_app
               how many uploads of that kind are refused before one is
               accepted (a large number refuses them all)
  refuse_logins
               how many logins are refused at first, as a card still
               starting refuses them
  hold_uploads a file: uploads wait until it exists (30 s at most), so
               that a test can act while cards are in the middle of one;
               every card of the server waits meanwhile
  revert_after S seconds after the card installed an upload (the last, if
               more came), it runs its first modules again and lists them,
               as a card that came back on its old modules after a restart
  silent_after S seconds after the card installed an upload, it stops
               answering for good: echo requests to its address are dropped
               and connections to its port refused, by nftables rules of
               the network namespace the cards run in (tests/in_netns.sh);
               without nft (Debian's nftables) the server does not start

With --upload-log, each file a card received is a line there: the card's
address, the file's name and the SHA-256 of its bytes.

The server writes the word "ready" to --ready-file once every card listens,
and ends by itself after --lifetime seconds.
"""
import argparse
import subprocess
import hashlib
import json
import logging
import os
import resource
import shutil
import signal
import sys
import tempfile
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer


def module_kind(name):
    if not name.startswith("kvn"):
        return None
    if "_zel_" in name:
        return "zel"
    if "_app_" in name:
        return "app"
    return None


class Card:
    def __init__(self, entry, root):
        self.ip = entry["ip"]
        if not self.ip.startswith("127."):
            sys.exit("simulated cards live on loopback addresses only")
        self.zel = entry.get("zel", "")
        self.app = entry.get("app", "")
        self.before = list(entry.get("before", []))
        self.restart_s = float(entry.get("restart_s", 0.0))
        self.install = bool(entry.get("install", True))
        self.refusals = {"zel": int(entry.get("refuse_zel", 0)),
                         "app": int(entry.get("refuse_app", 0))}
        self.down_until = 0.0
        self.logins_refused = int(entry.get("refuse_logins", 0))
        self.hold_uploads = entry.get("hold_uploads")
        self.first_modules = (self.zel, self.app)
        self.revert_after = entry.get("revert_after")
        self.silent_after = entry.get("silent_after")
        self.timers = []
        self.root = root
        for name in ("data", "event"):
            if entry.get(name) is not None:
                with open(os.path.join(root, name + ".txt"), "w") as f:
                    f.write(entry[name])

    def installed(self):
        """An upload was installed: the faults to come count from now."""
        for timer in self.timers:
            timer.cancel()
        self.timers = []
        ioloop = IOLoop.instance()
        if self.revert_after is not None:
            self.timers.append(ioloop.call_later(float(self.revert_after),
                                                 self.revert))
        if self.silent_after is not None:
            self.timers.append(ioloop.call_later(float(self.silent_after),
                                                 self.go_silent))

    def revert(self):
        self.zel, self.app = self.first_modules

    def go_silent(self):
        # Loopback echo is the kernel's to answer, and a refused connection
        # is told apart from none only below us: both are the firewall's.
        nft("add rule inet sim_cards out ip daddr %s icmp type echo-request "
            "drop" % self.ip)
        nft("add rule inet sim_cards out ip daddr %s tcp dport %d reject "
            "with tcp reset" % (self.ip, CardHandler.port))

    def listing(self):
        """Names as the card lists them: its modules first, then its files."""
        names = self.before + [n for n in (self.zel, self.app) if n]
        for name in sorted(os.listdir(self.root)):
            if name not in names:
                names.append(name)
        return names


def nft(rule):
    """Runs one nft command, or ends the server: a card that should have
    gone silent and still answers would pass for a good one."""
    done = subprocess.run(["nft"] + rule.split(), capture_output=True,
                          text=True)
    if done.returncode != 0:
        sys.stderr.write("sim_card: nft %s: %s\n" % (rule, done.stderr.strip()))
        os._exit(3)


def prepare_silence(entries):
    """The table that silent cards' rules go in, made before any card
    listens, so that a namespace without nft fails at once."""
    if not any(e.get("silent_after") is not None for e in entries):
        return
    if shutil.which("nft") is None:
        sys.exit("sim_card: silent_after needs nft (Debian's nftables "
                 "package, scripts/install_deps.sh)")
    nft("add table inet sim_cards")
    nft("add chain inet sim_cards out { type filter hook output priority 0 ; }")


class CardHandler(FTPHandler):
    """One connection to a card; the card is the one whose address the
    connection came in on, so one listening socket can serve them all."""
    cards = {}  # address -> Card
    upload_log = None  # where each received file is noted, for tests
    contact_log = None  # where each connection is noted, for tests
    port = 21  # where the cards listen
    auth_failed_timeout = 0.1

    def __init__(self, conn, server, ioloop=None):
        FTPHandler.__init__(self, conn, server, ioloop)
        try:
            self.card = self.cards.get(conn.getsockname()[0])
        except OSError:
            self.card = None
        if self.contact_log:
            with open(self.contact_log, "a") as f:
                f.write("%s\n" % conn.getsockname()[0])
        if self.card is not None:
            self.authorizer = self.card.authorizer
            self.banner = "Card %s ready." % self.card.ip

    def handle(self):
        if self.card is None:
            self.respond("421 No card at this address.")
            self.close_when_done()
            return
        FTPHandler.handle(self)

    def ftp_USER(self, line):
        if self.card.logins_refused > 0:
            self.card.logins_refused -= 1
            self.respond("421 Card is starting.")
            self.close_when_done()
            return
        if time.monotonic() < self.card.down_until:
            self.respond("421 Card is restarting.")
            self.close_when_done()
            return
        return FTPHandler.ftp_USER(self, line)

    def ftp_NLST(self, path):
        data = "".join(name + "\r\n" for name in self.card.listing())
        self.push_dtp_data(data.encode("utf8"), cmd="NLST")
        return path

    def ftp_LIST(self, path):
        # The same names, in the same order, as an "ls -l" listing, for
        # clients that list that way.
        lines = []
        for name in self.card.listing():
            real = os.path.join(self.card.root, name)
            size = os.path.getsize(real) if os.path.isfile(real) else 0
            lines.append("-rw-r--r--   1 card     card     %8d Jan 01 "
                         "00:00 %s\r\n" % (size, name))
        self.push_dtp_data("".join(lines).encode("utf8"), cmd="LIST")
        return path

    def ftp_STOR(self, file, mode="w"):
        card = self.card
        if card.hold_uploads:
            until = time.monotonic() + 30
            while (not os.path.exists(card.hold_uploads)
                   and time.monotonic() < until):
                time.sleep(0.01)
        kind = module_kind(os.path.basename(file))
        if kind and card.refusals[kind] > 0:
            card.refusals[kind] -= 1
            self.respond("550 Cannot store the module now.")
            return None
        return FTPHandler.ftp_STOR(self, file, mode)

    def on_file_received(self, file):
        card = self.card
        name = os.path.basename(file)
        if self.upload_log:
            # What the card got, to the byte, beside its name.
            with open(file, "rb") as received:
                digest = hashlib.sha256(received.read()).hexdigest()
            with open(self.upload_log, "a") as f:
                f.write("%s %s %s\n" % (card.ip, name, digest))
        kind = module_kind(name)
        if kind is None:
            return
        if card.install:
            if kind == "zel":
                card.zel = name
            else:
                card.app = name
            # Installed modules are no longer plain files on the card.
            os.remove(file)
            card.installed()
        card.down_until = time.monotonic() + card.restart_s


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cards", required=True)
    parser.add_argument("--ready-file", required=True)
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--lifetime", type=int, default=600)
    # Inside a network namespace of its own, where nothing else takes the
    # port: one listening socket for every card, however many.
    parser.add_argument("--one-socket", action="store_true")
    parser.add_argument("--upload-log")
    parser.add_argument("--contact-log")
    args = parser.parse_args()
    CardHandler.upload_log = args.upload_log
    CardHandler.contact_log = args.contact_log
    CardHandler.port = args.port
    logging.basicConfig(level=logging.WARNING)

    # A few sockets for each of possibly a thousand cards.
    _, most = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (most, most))
    with open(args.cards) as f:
        entries = json.load(f)
    prepare_silence(entries)
    scratch = tempfile.mkdtemp(prefix="sim_cards.")
    ioloop = IOLoop.instance()
    for entry in entries:
        root = tempfile.mkdtemp(prefix=entry["ip"] + ".", dir=scratch)
        card = Card(entry, root)
        card.authorizer = DummyAuthorizer()
        card.authorizer.add_user(entry["user"], entry["password"], root,
                                 perm="elradfmwMT")
        CardHandler.cards[card.ip] = card
        if not args.one_socket:
            FTPServer((card.ip, args.port), CardHandler, ioloop=ioloop)
    if args.one_socket:
        # Room for a thousand cards connecting at once.
        server = FTPServer(("0.0.0.0", args.port), CardHandler, ioloop=ioloop,
                           backlog=4096)
        server.max_cons = 0  # no limit: a campaign connects to every card

    temp = args.ready_file + ".tmp"
    with open(temp, "w") as f:
        f.write("ready\n")
    os.rename(temp, args.ready_file)

    def stop(*_):
        shutil.rmtree(scratch, ignore_errors=True)
        if any(e.get("silent_after") is not None for e in entries):
            subprocess.run(["nft", "delete", "table", "inet", "sim_cards"],
                           capture_output=True)
        os._exit(0)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGALRM, stop)
    signal.alarm(args.lifetime)
    ioloop.loop(timeout=0.2, blocking=True)


if __name__ == "__main__":
    main()
