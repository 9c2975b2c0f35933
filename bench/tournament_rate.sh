#!/bin/sh
# Games per hour of a beginner round-robin (7 personas, 1 round: 42 games
# over the shipped openings, capped at 200 plies), with one game at a time
# and with two, and where the time goes: how many engines were started, how
# much processor time they spent searching (their processor time less what
# starting an engine costs, measured here too), and what share of the wall
# time that is. The engine-bound rate is the rate if the engines searched
# all the time on every core a game can use (min(concurrency, cores)); the
# ceiling is the share left when the engines' own starts are all that is not
# search.
#
#   bench/tournament_rate.sh [PROGRAM] [CONCURRENCY...]     (default: 1 2)
set -eu
program=${1:-build/ai-players}
[ $# -gt 0 ] && shift
levels=${*:-1 2}
here=$(cd "$(dirname "$0")" && pwd)
engine=${REAL_ENGINE:-/usr/games/stockfish}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cores=$(nproc)

# The processor time of one engine start (uci, isready, quit), mean of five.
for i in 1 2 3 4 5; do
  /usr/bin/time -a -o "$tmp/start" -f "%U %S" sh -c "printf 'uci\nisready\nquit\n' | '$engine' >/dev/null"
done
start_cpu=$(awk '{ t += $1 + $2; n++ } END { printf "%.3f", t / n }' "$tmp/start")
echo "one engine start: $start_cpu s of processor time; $cores cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"

for c in $levels; do
  : >"$tmp/log"
  /usr/bin/time -o "$tmp/time" -f "%e %U %S" env AI_PLAYERS_ENGINE="$here/logging_engine.sh" \
    ENGINE_LOG="$tmp/log" REAL_ENGINE="$engine" \
    "$program" tournament Talvo Isis Iduna Horus Hera Gremlin Gnome --rounds 1 --max-plies 200 \
    --seed 1 --concurrency "$c" >/dev/null 2>"$tmp/err" || { cat "$tmp/err"; exit 1; }
  awk -v c="$c" -v cores="$cores" -v start_cpu="$start_cpu" '
    FNR == 1 { file++ }
    file == 1 { wall = $1; cpu = $2 + $3 }
    file == 2 && $1 == "start" { starts++ }
    file == 2 && $1 == "end" { ended++; engine += $3 + $4 }
    END {
      lanes = c < cores ? c : cores
      search = engine - starts * start_cpu
      printf "--concurrency %d: 42 games in %.1f s, %.0f games per hour; %d engine starts (%d ended by themselves)\n",
             c, wall, 42 * 3600 / wall, starts, ended
      printf "  engines searched %.1f s: %.2f of the wall time of %d core%s; engine-bound rate %.0f games per hour\n",
             search, search / (wall * lanes), lanes, (lanes > 1 ? "s" : ""), 42 * 3600 * lanes / search
      printf "  processor time of the whole tournament %.1f s, %.2f of it searching\n", cpu, search / cpu
      printf "  the engines starting took %.1f s: with the cores full, at most %.2f of the time could be searching\n",
             starts * start_cpu, search / (search + starts * start_cpu)
    }' "$tmp/time" "$tmp/log"
done
