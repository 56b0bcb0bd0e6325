#!/bin/bash
# Installs the Debian packages that building, testing and the demonstration
# need, when they are missing (as root, or through sudo).
set -euo pipefail
packages="g++ cmake make libgtest-dev libgmock-dev libcurl4-openssl-dev
          python3-pyftpdlib iproute2 util-linux time bc clang-14
          libfuzzer-14-dev g++-mingw-w64-x86-64-posix wine64 wine
          libbenchmark-dev vsftpd iputils-ping curl valgrind"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends $missing
