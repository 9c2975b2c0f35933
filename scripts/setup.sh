#!/usr/bin/env bash
# Installs what is missing (Debian packages), then configures and builds.
# Idempotent: fast when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libfmt-dev stockfish pgn-extract
          pkg-config libsqlite3-dev libcpp-httplib-dev nlohmann-json3-dev chromium chromium-driver python3-selenium)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# npm fetches the serve page's chessboard; any npm will do.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# The page's chessboard component at the versions of web/package-lock.json.
if [ ! -f web/node_modules/cm-chessboard/package.json ]; then
  (cd web && npm ci --no-audit --no-fund --loglevel=error)
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
