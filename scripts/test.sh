#!/usr/bin/env bash
# Builds everything, the shell included, and runs every test: the unit tests
# and the shell's end-to-end tests under Xvfb, in one CTest run. Our code
# builds with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
# Explicit, so that a build folder configured earlier without them gets them.
cmake --preset default -DQUORVEL_BUILD_SHELL=ON -DQUORVEL_BUILD_TESTS=ON
cmake --build --preset default
ctest --preset default -j2
