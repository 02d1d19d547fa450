#!/usr/bin/env bash
# Runs the libFuzzer targets. Usage: fuzz.sh [seconds per target] [target...]
# (default 20 s, every target). New inputs go to build/fuzz/corpus/<target>,
# findings to build/fuzz/findings/; the seeds in fuzz/corpus/ are only read.
# Fails when a target crashes, leaks, times out or trips a sanitizer.
# The build folder is build/fuzz (QUORVEL_BUILD_PREFIX goes before "fuzz");
# extra libFuzzer flags go in QUORVEL_FUZZ_FLAGS (for example "-runs=10000000").
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
build=build/${QUORVEL_BUILD_PREFIX:-}fuzz
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(uri_fuzz cookie_fuzz source_tag_fuzz readln_fuzz http_response_fuzz)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings"
  log="$build/findings/$t.log"
  echo "fuzz: $t for ${seconds}s"
  # -timeout: one input taking 10 s is a hang; -rss_limit_mb: runaway memory.
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$findings/" ${QUORVEL_FUZZ_FLAGS:-} \
      "$corpus" "fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E '^(#[0-9]+[[:space:]]+DONE|Done [0-9]+ runs)' "$log" | tail -1 || true
  else
    echo "fuzz: $t FAILED; input and report in $findings/ and $log" >&2
    grep -E 'ERROR|SUMMARY|_fuzz: ' "$log" | head -5 >&2 || true
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi
