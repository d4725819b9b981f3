#!/usr/bin/env bash
# Installs what is needed, builds Quillon and runs every test.
#   build/       Release build (-O3, as a packager builds it) with warnings as errors,
#                so the warnings only optimisation shows stop the run: the whole suite
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer build (RelWithDebInfo):
#                the suite again, except the real-time modem sessions (label
#                "realtime"), which only wait on the clock and gain nothing from a
#                second run.
# QN_TEST_JOBS and QN_REALTIME_JOBS set how many tests run at once (4 and 8).
# QN_SKIP_ASAN=1 skips the sanitizer pass (for a quick local run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
jobs=${QN_TEST_JOBS:-4}
# The real-time sessions mostly wait on the simulated line's clock, so more of
# them run side by side than tests that keep the processors busy; they run after
# those, on a quiet machine.
realtime_jobs=${QN_REALTIME_JOBS:-8}
status=0
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 900 -LE realtime || status=1
ctest --test-dir build -j "$realtime_jobs" --output-on-failure --timeout 900 -L realtime || status=1
if [ "${QN_SKIP_ASAN:-0}" != "1" ]; then
  bash scripts/build.sh build-asan -DQN_SANITIZE=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900 -LE realtime || status=1
fi
exit $status
