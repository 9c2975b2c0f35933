#!/usr/bin/env bash
# Installs, builds and runs every test, then builds and runs the example host
# against an installed copy of the library and as a subdirectory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/check_lists.sh
bash scripts/setup.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
bash scripts/examples.sh
