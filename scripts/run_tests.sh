#!/bin/bash
# Installs what the build and the tests need (Debian 12, run as root), then
# builds the tool twice, plain and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

packages="g++ cmake make libgtest-dev libgmock-dev libcurl4-openssl-dev
          python3-pyftpdlib iproute2"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi

jobs=$(nproc)
status=0
for variant in plain sanitize; do
  dir=build/$variant
  sanitize=OFF
  [ "$variant" = sanitize ] && sanitize=ON
  cmake -S . -B "$dir" -DUPGRD_SANITIZE=$sanitize -DUPGRD_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$dir" -j "$jobs"
  echo "== tests, $variant build =="
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300) || status=1
done
exit $status
