#!/usr/bin/python3
"""A card that misbehaves in one chosen way, for reliability tests.

A small FTP server of its own (only what the tool uses: USER, PASS, PWD,
TYPE, EPSV, PASV, SIZE, RETR, STOR, NLST, QUIT) on a loopback address, port
21, holding data.txt and event.txt and running kvn_hw02_zel_211.bin. Uploads
of ZEL modules are installed. --fault picks the misbehaviour:

  no-greeting        accepts connections and never says a word
  silent             greets, then never answers
  greeting-421       answers every connection with 421 and hangs up
  drop-after-login   hangs up right after accepting the password
  nlst-refused       refuses every listing
  listing-100k       lists 100,000 other names before its modules
  long-line          lists its module under a 10,000-character name
  retr-stall         sends half of data.txt, then stalls
  retr-trickle       sends data.txt at one byte a second, for ever
  retr-steady        sends data.txt at 40 KiB a second, for ever
  retr-endless       sends data.txt and event.txt as fast as it can, for ever
  nlst-stall         sends a part of its listing, then stalls
  nlst-endless       lists other names as fast as it can, for ever
  control-chars      lists its module under a name holding ESC and BEL
  nul-in-name        lists its module under a name holding a NUL byte
  stor-refused       refuses every upload
  stor-cut           hangs up the data connection in the middle of uploads
  stor-slow          takes uploads at 64 KiB a tenth of a second
  pasv-elsewhere     refuses EPSV and names another address in PASV replies
                     (a listener there counts who connects)
  dark-after-upload  after a ZEL upload, answers neither ICMP nor FTP

Writes "ready" to --ready-file once it listens; ends after --lifetime
seconds. With pasv-elsewhere, the decoy's connection count is written to
--decoy-file.
"""
import argparse
import os
import signal
import socket
import sys
import threading
import time

ZEL = "kvn_hw02_zel_211.bin"
# A terminal would take it as: set the window title, bell, clear the screen.
CONTROL_TAIL = "\x1b]0;owned\x07\x1b[2J\x7f"
# What each streaming fault sends for ever: (piece, pause) by file.
STREAMS = {
    "retr-trickle": {"data.txt": (b"d", 1.0)},
    "retr-steady": {"data.txt": (b"d" * 4096, 0.1)},
    "retr-endless": {"data.txt": (b"d" * 65536, 0),
                     "event.txt": (b"e" * 65536, 0)},
}
DECOY = "127.0.0.99"


class Card:
    def __init__(self, ip, fault):
        self.ip = ip
        self.fault = fault
        self.zel = ZEL
        self.files = {"data.txt": b"data log\n" * 100,
                      "event.txt": b"event log\n"}
        self.dark = False
        self.decoy_connections = 0

    def listing(self):
        names = []
        if self.fault == "listing-100k":
            names += ["record_%06d.log" % i for i in range(100000)]
        zel = self.zel
        if self.fault == "long-line":
            zel = self.zel[:-4] + "x" * (10000 - len(self.zel) + 4)
        if self.fault == "control-chars":
            zel += CONTROL_TAIL
        if self.fault == "nul-in-name":
            # Read as text up to the NUL and on into the next line, it
            # would be "kvn_hw02_zel_21data.txt": version 21, early.
            zel = zel[:15] + "\0" + zel[15:]
        names += [zel] + sorted(self.files)
        return "".join(n + "\r\n" for n in names).encode()


class Session(threading.Thread):
    def __init__(self, card, conn):
        super().__init__(daemon=True)
        self.card, self.conn = card, conn
        self.passive = None
        self.user_ok = False

    def reply(self, text):
        self.conn.sendall((text + "\r\n").encode())

    def open_passive(self, bind_ip):
        self.passive = socket.socket()
        self.passive.bind((bind_ip, 0))
        self.passive.listen(1)
        self.passive.settimeout(10)
        return self.passive.getsockname()[1]

    def data_connection(self):
        if not self.passive:
            self.reply("425 Use PASV or EPSV first.")
            return None
        try:
            data, _ = self.passive.accept()
        except OSError:
            self.reply("425 No data connection.")
            return None
        finally:
            self.passive.close()
            self.passive = None
        return data

    def run(self):
        card, fault = self.card, self.card.fault
        try:
            if fault == "no-greeting":
                time.sleep(600)
                return
            if fault == "greeting-421":
                self.reply("421 Too many connections, try later.")
                return
            self.reply("220 Bad card ready.")
            if fault == "silent":
                time.sleep(600)
                return
            reader = self.conn.makefile("rb")
            while True:
                line = reader.readline(4096)
                if not line:
                    return
                command, _, argument = line.decode("latin-1").strip().partition(" ")
                if not self.handle(command.upper(), argument):
                    return
        except OSError:
            pass
        finally:
            self.conn.close()

    def handle(self, command, argument):
        card, fault = self.card, self.card.fault
        if command == "USER":
            self.user_ok = argument == "admin"
            self.reply("331 Password required.")
        elif command == "PASS":
            if not (self.user_ok and argument == "secret"):
                self.reply("530 Login incorrect.")
                return True
            self.reply("230 Logged in.")
            if fault == "drop-after-login":
                return False
        elif command == "PWD":
            self.reply('257 "/" is the current directory.')
        elif command == "TYPE":
            self.reply("200 Type set.")
        elif command == "EPSV":
            if fault == "pasv-elsewhere":
                self.reply("502 EPSV not implemented.")
            else:
                self.reply("229 Entering Extended Passive Mode (|||%d|)"
                           % self.open_passive(card.ip))
        elif command == "PASV":
            port = self.open_passive(card.ip)
            host = DECOY if fault == "pasv-elsewhere" else card.ip
            if fault == "pasv-elsewhere":
                threading.Thread(target=decoy, args=(card, port),
                                 daemon=True).start()
            self.reply("227 Entering Passive Mode (%s,%d,%d)."
                       % (host.replace(".", ","), port >> 8, port & 255))
        elif command == "SIZE":
            # What it sends for ever has no size.
            if fault in STREAMS and argument in STREAMS[fault]:
                self.reply("502 SIZE not implemented.")
            elif argument in card.files:
                self.reply("213 %d" % len(card.files[argument]))
            else:
                self.reply("550 No such file.")
        elif command == "RETR":
            if argument not in card.files:
                self.reply("550 No such file.")
                return True
            data = self.data_connection()
            if data is None:
                return True
            self.reply("150 Sending %s." % argument)
            content = card.files[argument]
            if fault == "retr-stall" and argument == "data.txt":
                data.sendall(content[:len(content) // 2])
                time.sleep(600)
                return False
            if argument in STREAMS.get(fault, {}):
                send_for_ever(data, *STREAMS[fault][argument])
            data.sendall(content)
            data.close()
            self.reply("226 Transfer complete.")
        elif command == "NLST":
            if fault == "nlst-refused":
                self.reply("550 Listing not allowed.")
                return True
            data = self.data_connection()
            if data is None:
                return True
            self.reply("150 Here comes the listing.")
            if fault == "nlst-stall":
                data.sendall(card.listing()[:10])
                time.sleep(600)
                return False
            if fault == "nlst-endless":
                send_for_ever(data, b"".join(b"record_%06d.log\r\n" % i
                                             for i in range(4096)), 0)
            data.sendall(card.listing())
            data.close()
            self.reply("226 Listing sent.")
        elif command == "STOR":
            if fault == "stor-refused":
                self.reply("553 Cannot store files.")
                return True
            data = self.data_connection()
            if data is None:
                return True
            self.reply("150 Ready to receive.")
            received = b""
            while True:
                chunk = data.recv(65536 if fault != "stor-slow" else 8192)
                if not chunk:
                    break
                received += chunk
                if fault == "stor-slow":
                    time.sleep(0.1)
                if fault == "stor-cut" and len(received) >= 1000:
                    data.close()
                    self.reply("426 Connection closed; transfer aborted.")
                    return True
            data.close()
            self.reply("226 Transfer complete.")
            if "_zel_" in argument:
                card.zel = argument
                if fault == "dark-after-upload":
                    go_dark(card)
        elif command == "QUIT":
            self.reply("221 Goodbye.")
            return False
        else:
            self.reply("502 Command not implemented.")
        return True


def send_for_ever(data, piece, pause):
    """Sends `piece` every `pause` seconds until the client gives up, which
    ends the session."""
    while True:
        data.sendall(piece)
        time.sleep(pause)


def decoy(card, port):
    """Listens where the PASV reply points and counts who comes."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((DECOY, port))
    except OSError:
        return
    listener.listen(4)
    listener.settimeout(5)
    try:
        while True:
            conn, _ = listener.accept()
            card.decoy_connections += 1
            conn.close()
    except OSError:
        pass


def go_dark(card):
    card.dark = True
    with open("/proc/sys/net/ipv4/icmp_echo_ignore_all", "w") as f:
        f.write("1\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ip", required=True)
    parser.add_argument("--fault", required=True)
    parser.add_argument("--ready-file", required=True)
    parser.add_argument("--decoy-file")
    parser.add_argument("--lifetime", type=int, default=300)
    args = parser.parse_args()
    if not args.ip.startswith("127."):
        sys.exit("the bad card lives on loopback only")
    card = Card(args.ip, args.fault)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.ip, 21))
    listener.listen(16)
    listener.settimeout(0.2)
    with open(args.ready_file + ".tmp", "w") as f:
        f.write("ready\n")
    os.rename(args.ready_file + ".tmp", args.ready_file)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    deadline = time.monotonic() + args.lifetime
    while time.monotonic() < deadline:
        if args.decoy_file:
            with open(args.decoy_file, "w") as f:
                f.write("%d\n" % card.decoy_connections)
        if card.dark:
            listener.close()
            time.sleep(deadline - time.monotonic())
            break
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        Session(card, conn).start()
    os._exit(0)


if __name__ == "__main__":
    main()
