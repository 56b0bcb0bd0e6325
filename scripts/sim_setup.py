#!/usr/bin/python3
"""Prepares a working directory for a run of the tool against simulated cards:
the two 211 module files and the interim patch, config.txt, iplist.txt, and
cards.json for sim/sim_card.py, whose cards all run the 203 modules.

Usage: sim_setup.py DIR CARDS ZEL_BYTES APP_BYTES RESTART_S [ZEL_NAME APP_NAME]
"""
import json
import os
import sys


def module(path, version, name, size):
    # The tool reads only the 256-byte header: the version text at 42 and
    # the module's name (shown in its banner) at 91.
    data = bytearray(size)
    data[42:42 + len(version)] = version.encode()
    data[91:91 + len(name)] = name.encode()
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) not in (6, 8):
        sys.exit(__doc__.strip().splitlines()[-1])
    work, count = sys.argv[1], int(sys.argv[2])
    zel_bytes, app_bytes = int(sys.argv[3]), int(sys.argv[4])
    restart_s = float(sys.argv[5])
    zel_name, app_name = sys.argv[6:8] or ("VRN OS", "VRN APP")
    os.makedirs(work, exist_ok=True)
    os.chdir(work)

    module("kvn_hw02_zel_211.bin", "211", zel_name, zel_bytes)
    module("kvn_hw02_app_211.bin", "211", app_name, app_bytes)
    # The interim patch that early cards need first.
    module("kvn_hw02_zel_202.bin", "202", "VRN PATCH", 4096)
    with open("config.txt", "w") as f:
        f.write("ZEL = kvn_hw02_zel_211.bin\nAPP = kvn_hw02_app_211.bin\n")
    cards, lines = [], []
    for i in range(count):
        # 250 cards to a /24, from .2 up.
        ip = "127.0.%d.%d" % (i // 250, 2 + i % 250)
        cards.append({"ip": ip, "user": "admin", "password": "secret",
                      "zel": "kvn_hw02_zel_203.bin",
                      "app": "kvn_hw02_app_203.bin",
                      "data": "data log of the card\n",
                      "event": "event log of the card\n",
                      "restart_s": restart_s})
        lines.append("SystemIP=%s\nSystemUserName=admin\n"
                     "SystemPassword=secret\n" % ip)
    with open("cards.json", "w") as f:
        json.dump(cards, f)
    with open("iplist.txt", "w") as f:
        f.write("".join(lines))


if __name__ == "__main__":
    main()
