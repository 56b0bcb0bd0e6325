#!/bin/bash
# Installs what the build and the tests need (Debian 12, run as root), then
# builds the tool twice, plain and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh

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
