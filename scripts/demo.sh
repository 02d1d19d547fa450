#!/usr/bin/env bash
# Builds the shell's programs and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake --preset default -DQUORVEL_BUILD_TESTS=OFF
cmake --build --preset default
echo "Built: build/default/tools/quorvel-get (HTTP probe)."
echo "The shell's window arrives with a later change; this command then starts the demo."
