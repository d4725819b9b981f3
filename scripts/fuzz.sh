#!/usr/bin/env bash
# Coverage-guided fuzzing of every fuzz target (or the one named).
#
#   scripts/fuzz.sh [TARGET] [SECONDS]     fuzz each target SECONDS (default 60)
#   scripts/fuzz.sh --merge [TARGET]       minimise fuzz/corpus/TARGET with what
#                                          the last runs found (-merge=1)
#   scripts/fuzz.sh --list                 the targets
#
# Builds build-fuzz/ with clang and -DQN_FUZZ=ON (every library compiled with
# coverage feedback, AddressSanitizer and UndefinedBehaviorSanitizer), builds only
# the fuzz targets, and runs them one at a time under nice on a copy of their
# corpus in build-fuzz/fuzz-work/TARGET/. Targets are those declared with
# qn_add_fuzzer anywhere in the tree. Prints per target the executions, cov, ft
# and any finding with its reproducer; a finding makes the script exit 1.
# Extra libFuzzer options can be given in QN_FUZZ_OPTIONS. QN_FUZZ_NO_BUILD=1 runs
# the targets as last built (so a second run can go beside one that builds).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz
work=$build/fuzz-work

merge=0 list=0
case "${1:-}" in
  --merge) merge=1; shift ;;
  --list) list=1; shift ;;
  -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
target=${1:-}
seconds=${2:-60}
if [[ -n "$target" && "$target" =~ ^[0-9]+$ && -z "${2:-}" ]]; then
  seconds=$target target=""  # "fuzz.sh 300" fuzzes every target 300 s
fi

export CCACHE_BASEDIR=/work CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [[ "${QN_FUZZ_NO_BUILD:-0}" == 1 ]]; then
  [[ -f $build/fuzz_targets.txt ]] || { echo "build-fuzz/ is not built yet" >&2; exit 2; }
elif [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQN_WERROR=ON -DQN_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
else
  cmake "$build" >/dev/null  # picks up targets added since the last run
fi

# name, binary, corpus per line, as qn_add_fuzzer declared them.
mapfile -t entries < "$build/fuzz_targets.txt"
names=()
declare -A binary corpus
for e in "${entries[@]}"; do
  [[ -z "$e" ]] && continue
  IFS=$'\t' read -r n b c <<< "$e"
  names+=("$n"); binary[$n]=$b; corpus[$n]=$c
done
if (( list )); then printf '%s\n' "${names[@]}"; exit 0; fi
if [[ -n "$target" ]]; then
  [[ -n "${binary[$target]:-}" ]] || { echo "no fuzz target '$target' (have: ${names[*]})" >&2; exit 2; }
  names=("$target")
fi

build_targets=()
for n in "${names[@]}"; do build_targets+=("fuzz-$n"); done
[[ "${QN_FUZZ_NO_BUILD:-0}" == 1 ]] || nice -n 10 cmake --build "$build" -j2 --target "${build_targets[@]}"

if (( merge )); then
  # The minimal set of inputs that keeps the coverage of the corpus and of what the
  # runs found; inputs kept in a sub-folder (regressions) stay as they are.
  for n in "${names[@]}"; do
    c=${corpus[$n]} merged=$work/$n/merged
    rm -rf "$merged"; mkdir -p "$merged" "$c"
    inputs=("$c")
    [[ -d $work/$n/corpus ]] && inputs+=("$work/$n/corpus")
    nice -n 10 "${binary[$n]}" -merge=1 "$merged" "${inputs[@]}" > "$work/$n/merge.log" 2>&1 ||
      { echo "$n: merge failed, see $work/$n/merge.log" >&2; exit 1; }
    # libFuzzer names merged inputs by their SHA-1: drop copies of the kept ones.
    find "$c" -mindepth 2 -type f -exec sha1sum {} + | while read -r sum _; do rm -f "$merged/$sum"; done
    find "$c" -maxdepth 1 -type f -delete
    cp "$merged"/* "$c"/ 2>/dev/null || true
    echo "$n: $(find "$c" -maxdepth 1 -type f | wc -l) inputs after merge"
  done
  exit 0
fi

failed=0
# Caches of third-party libraries that live until exit are not our leaks.
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# Targets whose reader takes a path write their files under TMPDIR.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
printf '%-16s %12s %8s %8s  %s\n' target executions cov ft finding
for n in "${names[@]}"; do
  dir=$work/$n
  rm -rf "$dir/corpus"; mkdir -p "$dir/corpus" "$dir/findings"
  [[ -d ${corpus[$n]} ]] && cp -r "${corpus[$n]}/." "$dir/corpus/"
  log=$dir/fuzz.log
  rc=0
  # shellcheck disable=SC2086
  nice -n 10 "${binary[$n]}" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/findings/" ${QN_FUZZ_OPTIONS:-} "$dir/corpus" > "$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  status=$(grep -E '^#[0-9]+' "$log" | grep -E ' cov: ' | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$status")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$status")
  [[ -z "$execs" ]] && execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<< "$status")
  finding=none
  reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  if (( rc != 0 )) || [[ -n "$reproducer" ]]; then
    failed=1
    what=$(grep -m1 -E '^==[0-9]+==ERROR|^SUMMARY|runtime error|deadly signal|ERROR: libFuzzer' "$log" || echo "exit $rc")
    finding="$what; reproducer ${reproducer:-none}; log $log"
  fi
  printf '%-16s %12s %8s %8s  %s\n' "$n" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$finding"
done
exit $failed
