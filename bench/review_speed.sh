#!/usr/bin/env bash
# Seconds per reviewed move: two personas play a game of up to 40 moves, then
# `ai-players review` judges it. Usage: bench/review_speed.sh [ai-players] [depth]
set -euo pipefail
bin=${1:-build/ai-players}
depth=${2:-7}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bin" match --white Gnome --black Horus --seed 1 --max-plies 80 --pgn "$tmp/game.pgn" >/dev/null 2>&1
start=$(date +%s.%N)
"$bin" review "$tmp/game.pgn" --depth "$depth" >/dev/null 2>"$tmp/err"
end=$(date +%s.%N)
moves=$(sed -n 's/^Reviewed \([0-9]*\) moves.*/\1/p' "$tmp/err")
awk -v m="$moves" -v s="$start" -v e="$end" -v d="$depth" \
  'BEGIN { printf "depth %d: %d moves reviewed in %.2f s (engine start included), %.3f s per move\n", d, m, e - s, (e - s) / m }'
