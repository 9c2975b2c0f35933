#!/usr/bin/env bash
# How fast `ai-players review` is at a search, and how far its marks agree
# with Stockfish at depth 18, side by side:
#   bench/review_speed.sh [ai-players] [review flags, e.g. --depth 12 --jobs 1]
# Times the review of a 60-move persona game (120 plies, made with a fixed
# seed), then runs bench/review_agreement.py over bench/games/*.pgn with the
# same flags (its depth-18 reference is computed once and cached).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-build/ai-players}
shift || true
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bin" match --white Gremlin --black Gnome --seed 2 --max-plies 120 --pgn "$tmp/game.pgn" >/dev/null 2>&1
start=$(date +%s.%N)
"$bin" review "$tmp/game.pgn" "$@" >/dev/null 2>"$tmp/err"
end=$(date +%s.%N)
plies=$(sed -n 's/^Reviewed \([0-9]*\) moves.*/\1/p' "$tmp/err")

python3 "$here/review_agreement.py" --program "$bin" "$here"/games/*.pgn -- "$@" >"$tmp/agreement"
awk -v p="$plies" -v s="$start" -v e="$end" -v flags="${*:-default}" -v f="$tmp/agreement" 'BEGIN {
  while ((getline line < f) > 0) {
    if (line ~ /^all /) { split(line, w, " +"); same = w[3]; fb = w[4]; missed = w[5] }
    if (line ~ /^review time:/) { split(line, t, " "); per = t[length(t) - 3] }
  }
  printf "%-18s %12s %18s %10s %9s %10s\n", "search", "s per move", "60-move game (s)", "same mark", "false ??", "missed ??"
  printf "%-18s %12.2f %18.1f %10s %9s %10s\n", flags, (e - s) / p, e - s, same, fb, missed
  printf "(%d plies timed, engine start included; s per move of the agreement set: %s)\n", p, per
}'
cat "$tmp/agreement" >&2
