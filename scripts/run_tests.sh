#!/bin/bash
# Installs what the build and the tests need (Debian 12, run as root), then
# runs the fuzz targets (scripts/fuzz.sh), builds the tool alone and installs
# it (scripts/tool_build_test.sh), runs the campaign tests on a
# ThreadSanitizer build, builds the tool with its tests twice, plain and
# with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test
# in both builds; between them, the Windows build and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh tests

jobs=$(nproc)
status=0
# The fuzz targets, 20 s each; first, so that CTest's summary ends the output.
echo "== fuzzing =="
bash scripts/fuzz.sh 20 || status=1
echo "== benchmarks, smoke run =="
bash scripts/bench.sh --smoke || status=1
echo "== the tool alone: build and install =="
bash scripts/tool_build_test.sh || status=1
# Campaigns run cards on threads: their end-to-end tests and the unit
# tests of the pool and its rules, of a campaign on the test doubles, of
# its records' syncs and of the event hook's thread again, built for
# ThreadSanitizer, which ends a program with 66 on a data race.
echo "== campaign tests, ThreadSanitizer build =="
cmake -S . -B build/tsan -DUPGRD_TSAN=ON -DUPGRD_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
cmake --build build/tsan -j "$jobs" --target upgrd_e2e_tests upgrd_tests \
  upgrd_util_fast_clock
(cd build/tsan && TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
  ctest --output-on-failure -j "$jobs" --timeout 300 \
  -R "^(CampaignTest|CampaignPageTest|UnattendedTest|RolloutTest|CardPoolTest|NightSchedulerTest|NightPlanTest|RolloutRulesTest|StatusPrinterTest|CampaignOnDoublesTest|ReportWriterTest|CardEndingsTest|EventHookTest|GroupedSyncTest)\.") || status=1
for variant in plain sanitize; do
  dir=build/$variant
  sanitize=OFF
  [ "$variant" = sanitize ] && sanitize=ON
  cmake -S . -B "$dir" -DUPGRD_SANITIZE=$sanitize -DUPGRD_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
  cmake --build "$dir" -j "$jobs"
  echo "== tests, $variant build =="
  # Most tests wait on the fast clock, the simulated cards or the network
  # rather than compute: twice as many as there are cores keep them busy.
  (cd "$dir" && ctest --output-on-failure -j $((2 * jobs)) --timeout 300) ||
    status=1
  if [ "$variant" = plain ]; then
    echo "== the Windows build, under Wine =="
    bash scripts/windows_tests.sh || status=1
  fi
done
exit $status
