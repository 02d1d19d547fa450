#!/usr/bin/env bash
# Builds everything, the shell included, and runs every test: the unit tests,
# the shell's end-to-end tests under Xvfb and the .deb's checks, in one CTest
# run. Our code builds with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
# Explicit, so that a build folder configured earlier without them gets them.
cmake --preset default -DQUORVEL_BUILD_SHELL=ON -DQUORVEL_BUILD_TESTS=ON
cmake --build --preset default
# The 32-bit Windows program and its tests under Wine, before the Linux run so
# that CTest's summary stays the last line.
bash scripts/windows.sh
# The suite under sanitizers and every fuzz target for a short time.
bash scripts/ci-stress.sh
ctest --preset default -j2
