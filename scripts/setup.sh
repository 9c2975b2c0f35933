#!/usr/bin/env bash
# Installs what is missing (Debian packages), then configures and builds.
# Idempotent: fast when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libfmt-dev stockfish pgn-extract)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
