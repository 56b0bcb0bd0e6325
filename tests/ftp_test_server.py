#!/usr/bin/python3
"""An FTP server for the tests: one user and one root folder, on loopback.

It writes the port it listens on to --port-file once it accepts connections,
records every command it receives (never a password) in --command-log, and
ends by itself after --lifetime seconds in case nobody stops it.
"""
import argparse
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--command-log")
    parser.add_argument("--lifetime", type=int, default=300)
    args = parser.parse_args()

    if not args.host.startswith("127."):
        sys.exit("the test server only listens on loopback")

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    command_log = args.command_log

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if command_log:
                with open(command_log, "a") as log:
                    log.write(cmd + ("" if cmd == "PASS" else " " + arg).rstrip() + "\n")
            super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.banner = "Test card ready."
    # Real servers pause after a refused login; a short pause keeps that path
    # exercised without slowing the suite.
    Handler.auth_failed_timeout = 0.2
    server = FTPServer((args.host, args.port), Handler)

    port = server.socket.getsockname()[1]
    temp = args.port_file + ".tmp"
    with open(temp, "w") as f:
        f.write("%d\n" % port)
    os.rename(temp, args.port_file)

    signal.signal(signal.SIGALRM, lambda *_: os._exit(3))
    signal.alarm(args.lifetime)
    server.serve_forever(timeout=0.2, handle_exit=True)


if __name__ == "__main__":
    main()
