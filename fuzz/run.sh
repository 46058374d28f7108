#!/usr/bin/env bash
# Runs fuzz targets for a given time each and prints executions and findings.
#
#   fuzz/run.sh TARGET|all SECONDS [BUILD_DIR]
#
# The targets come from the clang sanitizer build (build/linux-asan, made by
# `cmake --preset linux-asan`); they are built here when missing. Each run
# starts from the seed corpus in the tree, works in a copy of it under the
# build folder (new inputs do not touch the tree; the copy goes afterwards,
# the log stays), and leaves any finding in
# BUILD_DIR/fuzz-findings/TARGET. The random seed is printed; set
# QLN_FUZZ_SEED to repeat a run. Exit status: 0 when nothing was found.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
what=${1:?usage: fuzz/run.sh TARGET|all SECONDS [BUILD_DIR]}
seconds=${2:?usage: fuzz/run.sh TARGET|all SECONDS [BUILD_DIR]}
build=${3:-$top/build/linux-asan}
seed=${QLN_FUZZ_SEED:-20261207}

if [ "$what" = all ]; then
  targets=$(ls "$top"/fuzz/*_fuzz.cpp | sed 's|.*/||; s|_fuzz\.cpp$||')
else
  targets=$what
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset linux-asan -S "$top" >/dev/null || exit 1
fi
# "all" means every target this build has (the frame walk comes with the relay).
if [ "$what" = all ]; then
  known=$(cmake --build "$build" --target help 2>/dev/null | sed -n 's/^\(fuzz_[a-z_]*\):.*/\1/p')
  kept=
  for t in $targets; do
    if printf '%s\n' "$known" | grep -qx "fuzz_$t"; then kept="$kept $t"; else echo "fuzz: $t is not in this build"; fi
  done
  targets=$kept
fi
names=()
for t in $targets; do names+=("fuzz_$t"); done
cmake --build "$build" --target "${names[@]}" >/dev/null || { echo "fuzz: build failed" >&2; exit 1; }

total_findings=0
printf '%-18s %12s %10s %9s\n' target executions exec/s findings
for t in $targets; do
  work=$build/fuzz-work/$t.$$
  findings=$build/fuzz-findings/$t
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  cp "$top/fuzz/corpus/$t"/* "$work"/ 2>/dev/null
  log=$build/fuzz-work/$t.$$.log
  before=$(ls "$findings" | wc -l)
  "$build/bin/fuzz_$t" "$work" "$top/fuzz/corpus/$t" -seed="$seed" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=1024 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1
  rc=$?
  after=$(ls "$findings" | wc -l)
  found=$((after - before))
  [ $rc -ne 0 ] && [ $found -eq 0 ] && found=1
  execs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  rate=$(grep -ao 'exec/s: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  printf '%-18s %12s %10s %9s\n' "$t" "${execs:-?}" "${rate:-?}" "$found"
  if [ $found -ne 0 ]; then
    echo "  finding in $findings (log $log, seed $seed):" >&2
    grep -aE 'ERROR|runtime error|fuzz finding|Test unit written' "$log" | head -5 | sed 's/^/    /' >&2
  fi
  rm -rf "$work"
  total_findings=$((total_findings + found))
done
echo "fuzz: seed $seed, $seconds s per target, findings: $total_findings"
[ $total_findings -eq 0 ]
