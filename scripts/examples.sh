#!/usr/bin/env bash
# Builds examples/ against the library the two ways a host project can take
# it, and runs each build against the chess engine (AI_PLAYERS_ENGINE, else
# Debian's /usr/games/stockfish):
#   (a) the library alone, configured, built and installed into a temporary
#       prefix, then found with find_package(ai_players). It is built shared
#       with --no-undefined there, so that every layer links on its own: a
#       call into a layer above fails;
#   (b) the repository taken in with add_subdirectory (AI_PLAYERS_SOURCE_DIR).
# Between them, (c): the ai-players command itself is built against the
# installed library of (a), so it can use nothing the library does not install.
# Neither (a) nor (b) may need CLI11, fmt, GoogleTest or Google Benchmark: they are
# switched off for the search.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(mktemp -d "${TMPDIR:-/tmp}/ai_players_examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
jobs=$(nproc)
no_tools=(--no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_fmt=ON
          -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

run() {  # run <binary>: one reply to 1.d4 on standard output, nothing else
  local out
  out=$("$1" 2>"$work/stderr") || { cat "$work/stderr" >&2; echo "examples: $1 failed" >&2; exit 1; }
  echo "$out"
  if ! [[ $out =~ ^1\.\ d4\ [A-Za-z][A-Za-z0-9=+#-]*$ ]]; then
    echo "examples: unexpected output from $1" >&2
    exit 1
  fi
}

echo "== (a) the library alone, installed, then find_package"
cmake -S "$repo" -B "$work/lib" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
      -DAI_PLAYERS_BUILD_APP=OFF -DAI_PLAYERS_BUILD_TESTS=OFF -DAI_PLAYERS_BUILD_BENCH=OFF \
      -DAI_PLAYERS_INSTALL=ON -DCMAKE_INSTALL_PREFIX="$work/prefix" "${no_tools[@]}" >/dev/null
cmake --build "$work/lib" -j "$jobs" >/dev/null
cmake --install "$work/lib" >/dev/null
# Every public header of the library is installed, and only those: the
# library's own helpers stay in the source tree.
internal='^\./(host/position|engine/platform)\.h$'
if ! diff <(cd ai_players && find . -name '*.h' | grep -Ev "$internal" | sort) \
          <(cd "$work/prefix/include/ai_players" && find . -name '*.h' | sort); then
  echo "examples: the installed headers (>) differ from the public ones (<): see ai_players/CMakeLists.txt" >&2
  exit 1
fi
cmake -S examples -B "$work/installed" -DCMAKE_PREFIX_PATH="$work/prefix" "${no_tools[@]}" >/dev/null
cmake --build "$work/installed" -j "$jobs" >/dev/null
run "$work/installed/play_one_move"

echo "== (c) the ai-players command against that installed library"
# (-Wno-restrict: g++ 12 warns falsely about std::string copies inlined at -O3.)
cmake -S "$repo" -B "$work/command" -DCMAKE_BUILD_TYPE=Release -DAI_PLAYERS_USE_INSTALLED=ON -DCMAKE_CXX_FLAGS=-Wno-restrict \
      -DAI_PLAYERS_BUILD_TESTS=OFF -DAI_PLAYERS_BUILD_BENCH=OFF -DAI_PLAYERS_INSTALL=OFF \
      -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/command" -j "$jobs" --target ai-players >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib64" "$work/command/ai-players" list >/dev/null ||
  { echo "examples: the command built against the installed library does not run" >&2; exit 1; }
echo "ai-players list: runs"

echo "== (b) the repository as a subdirectory"
cmake -S examples -B "$work/subdir" -DAI_PLAYERS_SOURCE_DIR="$repo" -DCMAKE_BUILD_TYPE=Release \
      "${no_tools[@]}" >/dev/null
cmake --build "$work/subdir" -j "$jobs" >/dev/null
run "$work/subdir/play_one_move"
