#!/bin/bash
# Installs the Debian packages that one purpose needs, when they are missing
# (as root, or through sudo).
# Usage: scripts/install_deps.sh [tool|demo|tests]   (default: tests)
#   tool   building the tool alone (cmake -DBUILD_TESTING=OFF)
#   demo   the tool, and the simulated card of scripts/demo.sh
#   tests  everything scripts/run_tests.sh builds and runs: the tests, the
#          fuzzers, the benchmarks and the Windows build under Wine
set -euo pipefail
tool="g++ cmake make libcurl4-openssl-dev libssl-dev libcli11-dev nlohmann-json3-dev"
case "${1:-tests}" in
  tool) packages=$tool ;;
  demo) packages="$tool python3-pyftpdlib iproute2 util-linux" ;;
  tests)
    packages="$tool libgtest-dev libgmock-dev python3-pyftpdlib iproute2
              util-linux time bc clang-14 libfuzzer-14-dev
              g++-mingw-w64-x86-64-posix wine64 wine libbenchmark-dev vsftpd
              iputils-ping curl valgrind chromium python3-html5lib nftables
              prometheus ansible-core ansible-lint" ;;
  *) echo "usage: $0 [tool|demo|tests]" >&2; exit 2 ;;
esac
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
