#!/bin/sh
# The calibration behind the README's strength table, built over several runs.
#
# A run plays a neighbour schedule: the players listed in the order of the
# running fit (OUT/ratings.tsv; a player not rated yet by the N of HOUD20c:N,
# else last), each against the next SPAN of them, so that the games go where
# the expected score is nearest 50 %. Its games go to OUT/games-SEED.pgn (with
# SHARD=K/N, OUT/games-SEED-K.pgn). Then every PGN file in OUT is rated at
# once, anchored at HOUD20c:1350 (Stockfish's own strength limit at its
# minimum), into OUT/table.txt and OUT/ratings.tsv (what list, the web page
# and UCI_Elo show), and the README's table is written from them.
#
#   scripts/calibrate.sh [PROGRAM] [extra tournament options]
#
# NAMES (default below), SPAN (2), ROUNDS (4), TC (60+0.6), CONCURRENCY (2),
# SEED (each run needs its own; default 1), SHARD, OUT (data/calibration),
# README (README.md). The same command again resumes a run that was cut off:
# its order of names is kept in OUT/games-SEED.names. ROUNDS=0 only rates.
set -eu
program=${1:-build/ai-players}
[ $# -gt 0 ] && shift
out=${OUT:-data/calibration}
readme=${README:-README.md}
seed=${SEED:-1}
names=${NAMES:-"Isis Iduna Horus Hera Gremlin Gnome Diana Verevovera HOUD20c:1350 HOUD20c:1500 HOUD20c:2000 HOUD20c:2400 HOUD20c:2800"}
anchor=HOUD20c:1350=1350
mkdir -p "$out"
run=$out/games-$seed${SHARD:+-${SHARD%%/*}}

if [ "${ROUNDS:-4}" -gt 0 ]; then
  if [ ! -s "$run.names" ]; then
    for n in $names; do
      rating=$(awk -F'\t' -v n="$n" '$1 == n { print $2 }' "$out/ratings.tsv" 2>/dev/null || true)
      case $n in HOUD20c:*) : "${rating:=${n#HOUD20c:}}" ;; esac
      echo "${rating:-99999} $n"
    done | sort -n | cut -d' ' -f2 | tr '\n' ' ' >"$run.names"
  fi
  echo "$(cat "$run.names")" >&2
  start=$(date +%s)
  # shellcheck disable=SC2046 # one word per name
  "$program" tournament $(cat "$run.names") --format neighbours --span "${SPAN:-2}" \
    --rounds "${ROUNDS:-4}" --tc "${TC:-60+0.6}" --adjudicate --max-plies 400 \
    --concurrency "${CONCURRENCY:-2}" --seed "$seed" ${SHARD:+--shard "$SHARD"} \
    --anchor "$anchor" --event "ai-players calibration" --resume --pgn "$run.pgn" "$@" >/dev/null
  echo "run $run: $(($(date +%s) - start)) s" >&2
fi

"$program" ratings "$out"/*.pgn --anchor "$anchor" --tsv "$out/ratings.tsv" >"$out/table.txt"
head -n 1 "$out/table.txt" >&2

# The README's table, between its markers, from the printed table.
awk -v table="$out/table.txt" '
  function row(   name, margin, rating) {
    margin = $5; gsub(/[^0-9]/, "", margin)
    name = $2; rating = $4 " ± " margin
    split($8, wdl, "-")
    if ($5 == "anchor") { name = name " (anchor)"; rating = $4 }
    else if (wdl[2] + wdl[3] == 0) rating = "≥ " rating " (won every game)"
    else if (wdl[1] + wdl[2] == 0) rating = "≤ " rating " (lost every game)"
    return "| " name " | " $3 " | " rating " | " $6 " | " $8 " |"
  }
  /<!-- calibration table -->/ {
    print; print ""
    print "| Persona | Roster strength | Measured rating (95 %) | Games | W-D-L |"
    print "|---|---:|---:|---:|---:|"
    while ((getline < table) > 0) if ($1 ~ /^[0-9]+$/ && $3 ~ /^[0-9]+$/ && $4 ~ /^-?[0-9]+$/) print row()
    print ""; skip = 1; next
  }
  /<!-- end of calibration table -->/ { skip = 0 }
  !skip' "$readme" >"$readme.new" && mv "$readme.new" "$readme"
