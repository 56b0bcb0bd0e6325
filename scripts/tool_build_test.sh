#!/bin/bash
# Builds the tool alone, as an operator would (build/tool, -DBUILD_TESTING=OFF,
# with GoogleTest kept out of reach), installs it into a scratch directory
# and checks that the build made no program but the tool and that the
# installation holds the tool and its README, nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/tool
cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON > /dev/null
cmake --build "$build" -j "$(nproc)" > /dev/null
stage=$(mktemp -d /tmp/upgrd_install.XXXXXX)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr/local > /dev/null

status=0
programs=$(find "$build" -path "$build/CMakeFiles" -prune -o -type f -perm -u+x \
             -print | sort)
if [ "$programs" = "$build/upgrd_util" ]; then
  echo "passed: the tool-only build made the tool and no other program"
else
  echo "FAILED: the tool-only build made: $programs"; status=1
fi
installed=$(cd "$stage" && find . -type f | sort | tr '\n' ' ')
expected="./usr/local/bin/upgrd_util ./usr/local/share/doc/upgrd_util/README.md "
if [ "$installed" = "$expected" ]; then
  echo "passed: cmake --install put in place the tool and its README alone"
else
  echo "FAILED: cmake --install put in place: $installed"; status=1
fi
exit $status
