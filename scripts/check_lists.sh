#!/usr/bin/env bash
# The build lists every file by name (no GLOB). Fails, naming the file, when a
# source, header, command file or test exists that its CMakeLists.txt does not list.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=0
check() {  # check <CMakeLists.txt> <name as listed> <file>
  if ! grep -Eq "(^|[[:space:]/])$2([[:space:])]|\$)" "$1"; then
    echo "check_lists: $3 is not listed in $1" >&2
    missing=1
  fi
}
for f in $(cd ai_players && find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | sort); do
  check ai_players/CMakeLists.txt "${f//./\\.}" "ai_players/$f"
done
for f in $(cd apps && find . -name '*.cpp' | sed 's|^\./||' | sort); do
  check apps/CMakeLists.txt "${f//./\\.}" "apps/$f"
done
for f in $(cd tests && ls ai_players/*_test.cpp apps/*_test.cpp support/*.cpp); do
  name=${f%.cpp}
  [[ $f == *_test.cpp ]] || name=$f
  check tests/CMakeLists.txt "${name//./\\.}" "tests/$f"
done
for f in $(cd bench && ls *_bench.cpp); do
  check bench/CMakeLists.txt "${f%.cpp}" "bench/$f"
done
exit $missing
