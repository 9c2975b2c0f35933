#!/usr/bin/env bash
# Installs, builds and runs the main job: a short match between two personas,
# both driving Debian's stockfish.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
./build/ai-players list
echo
./build/ai-players match --white Gnome --black Horus --seed 1
