#!/usr/bin/env bash
# Builds the parser fuzzer with clang (address and undefined sanitizers on the
# whole program) and runs it for a while: ./scripts/fuzz.sh [SECONDS]
# Does nothing, and says so, where clang is not installed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed; skipping the fuzzer"
  exit 0
fi
flags="-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-omit-frame-pointer"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DAI_PLAYERS_FUZZ=ON -DAI_PLAYERS_BUILD_TESTS=OFF -DAI_PLAYERS_BUILD_BENCH=OFF \
  -DAI_PLAYERS_INSTALL=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target parsers_fuzz
mkdir -p build-fuzz/corpus
cp fuzz/seeds/* build-fuzz/corpus/
./build-fuzz/fuzz/parsers_fuzz -max_total_time="$seconds" -max_len=512 -timeout=10 build-fuzz/corpus
