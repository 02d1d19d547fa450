#!/usr/bin/env bash
# Proof under stress: the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the transport and connect-worker tests under
# ThreadSanitizer, then every fuzz target for a short fixed time. Fails on any
# failing test, sanitizer report, crash, leak or hang.
# QUORVEL_STRESS_BUILD_ROOT moves the build folders (default build/),
# QUORVEL_FUZZ_SECONDS the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
root=${QUORVEL_STRESS_BUILD_ROOT:-build}
fuzz_seconds=${QUORVEL_FUZZ_SECONDS:-20}
started=$SECONDS

echo "== ASan+UBSan: the whole test suite"
cmake --preset asan -B "$root/asan"
cmake --build "$root/asan" -j2
ctest --preset asan --test-dir "$root/asan" -j2

echo "== TSan: transport and connect-worker tests"
cmake --preset tsan -B "$root/tsan"
cmake --build "$root/tsan" -j2 --target net_tests
ctest --preset tsan --test-dir "$root/tsan" -j2

echo "== Fuzz targets, ${fuzz_seconds} s each"
QUORVEL_FUZZ_BUILD="$root/fuzz" bash scripts/fuzz.sh "$fuzz_seconds"

echo "== Stress runs passed in $((SECONDS - started)) s"
