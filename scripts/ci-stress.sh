#!/usr/bin/env bash
# Proof under stress: the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the transport and connect-worker tests under
# ThreadSanitizer, then every fuzz target for a short fixed time. Fails on any
# failing test, sanitizer report, crash, leak or hang.
# Build folders: build/asan, build/tsan, build/fuzz; QUORVEL_BUILD_PREFIX
# puts a prefix before each (QUORVEL_BUILD_PREFIX=my- gives build/my-asan).
# QUORVEL_FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${QUORVEL_FUZZ_SECONDS:-20}
started=$SECONDS

echo "== ASan+UBSan: the whole test suite"
cmake --preset asan
cmake --build --preset asan -j2
ctest --preset asan -j2

echo "== TSan: transport and connect-worker tests"
cmake --preset tsan
cmake --build --preset tsan -j2
ctest --preset tsan -j2

echo "== Fuzz targets, ${fuzz_seconds} s each"
bash scripts/fuzz.sh "$fuzz_seconds"

echo "== Stress runs passed in $((SECONDS - started)) s"
