#!/usr/bin/env bash
# Installs what is needed, builds Quillon and runs every test.
#   build/       Release build (-O3, as a packager builds it) with warnings as errors,
#                so the warnings only optimisation shows stop the run: the whole suite;
#                precompiled Qt headers (QN_PCH) make it quicker to build
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer build (RelWithDebInfo,
#                libraries, programs and tests only): the suite again, except the
#                real-time modem sessions (label "realtime"), which only wait on the
#                clock and gain nothing from a second run. Built without precompiled
#                headers, so a file that forgets an include of its own fails here.
# scripts/test.sh --quick runs only the first pass's tests that need no real-time
# session (the inner loop after a change: a few minutes).
# QN_TEST_JOBS and QN_REALTIME_JOBS set how many tests run at once (4 and 8).
# QN_SKIP_ASAN=1 skips the sanitizer pass (for a quick local run).
# The time of each phase is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
if [ "${1:-}" = "--quick" ]; then quick=1; fi

phases=()
phase_start=$SECONDS
phase() {  # phase NAME: records the time since the last mark under NAME
  phases+=("$(printf '%-34s %5d s' "$1" $((SECONDS - phase_start)))")
  phase_start=$SECONDS
}
report() {
  echo "== phase times =="
  printf '%s\n' "${phases[@]}"
  printf '%-34s %5d s\n' "total" "$SECONDS"
}
trap report EXIT

bash scripts/setup.sh
phase "setup"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DQN_PCH=ON
phase "build (Release)"
jobs=${QN_TEST_JOBS:-4}
# The real-time sessions mostly wait on the simulated line's clock, so more of
# them run side by side than tests that keep the processors busy; they run after
# those, on a quiet machine.
realtime_jobs=${QN_REALTIME_JOBS:-8}
status=0
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 900 -LE realtime || status=1
phase "tests (Release)"
if [ $quick = 1 ]; then exit $status; fi
# A real-time session that fails is run once more before the pass fails: with
# eight sessions on two processors a late tick can cost one call (the log of
# the first try stays in the output, and a fault that repeats still fails).
ctest --test-dir build -j "$realtime_jobs" --output-on-failure --timeout 900 -L realtime --repeat until-pass:2 ||
  status=1
phase "real-time sessions (Release)"
if [ "${QN_SKIP_ASAN:-0}" != "1" ]; then
  bash scripts/build.sh build-asan -DQN_SANITIZE=ON
  phase "build (sanitizers)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900 -LE realtime || status=1
  phase "tests (sanitizers)"
fi
exit $status
