#!/bin/sh
# Games per hour of a beginner round-robin (7 personas, 1 round: 42 games
# over the shipped openings, capped at 200 plies) with one game at a time and
# with two. On two free cores the second should be close to twice the first.
#
#   bench/tournament_rate.sh [PROGRAM]
set -eu
program=${1:-build/ai-players}
for c in 1 2; do
  start=$(date +%s.%N)
  "$program" tournament Talvo Isis Iduna Horus Hera Gremlin Gnome --rounds 1 --max-plies 200 \
    --seed 1 --concurrency "$c" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$start $end $c" | awk '{ t = $2 - $1; printf "--concurrency %d: 42 games in %.1f s, %.0f games per hour\n", $3, t, 42 * 3600 / t }'
done
