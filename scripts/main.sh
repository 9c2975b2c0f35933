#!/usr/bin/env bash
# Installs, builds and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
./build/ai-players perft --depth 4
