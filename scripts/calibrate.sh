#!/bin/sh
# The tournament behind the README's strength table: every persona that can
# be built, and Stockfish at its own strength limit (UCI_Elo 1350, its
# minimum, and 1500) as anchors. The ratings are anchored at HOUD20c:1350.
#
#   scripts/calibrate.sh [PROGRAM] [extra tournament options]
#
# Defaults: 4 rounds over the shipped openings (each pairing plays an
# opening with both colours per round; 55 pairings, 440 games), a 60+0.6
# clock (the one Stockfish's strength limit was calibrated at), engine
# adjudication, two games at a time: about an hour on two cores. ROUNDS, TC,
# CONCURRENCY and SEED override them. On a cluster, add --shard K/N to
# each job and merge the PGN files with `ai-players ratings`.
set -eu
program=${1:-build/ai-players}
[ $# -gt 0 ] && shift
out=${CALIBRATION_OUT:-calibration}
mkdir -p "$out"
"$program" tournament \
  Talvo Isis Iduna Horus Hera Gremlin Gnome Diana Verevovera HOUD20c:1350 HOUD20c:1500 \
  --rounds "${ROUNDS:-4}" --tc "${TC:-60+0.6}" --adjudicate --max-plies 400 \
  --concurrency "${CONCURRENCY:-2}" --seed "${SEED:-2024}" \
  --anchor HOUD20c:1350=1350 --event "ai-players calibration" \
  --pgn "$out/calibration.pgn" "$@" | tee "$out/table.txt"
# The measured strengths the program shows (list, the page, UCI_Elo) come
# from this file; copy it to data/calibration/ to publish a new calibration.
"$program" ratings "$out/calibration.pgn" --anchor HOUD20c:1350=1350 --tsv "$out/ratings.tsv" >/dev/null
