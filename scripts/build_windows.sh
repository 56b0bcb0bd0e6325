#!/bin/bash
# Cross-builds the static upgrd_util.exe (and its Windows tests, in
# testing/) with MinGW-w64 into build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh tests
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DUPGRD_WERROR=ON
cmake --build build/windows -j "$(nproc)"
echo "built: build/windows/upgrd_util.exe"
