#!/bin/sh
# The calibration behind the strength table, in batches, resumable.
#
# Every HOUD20c:N is an anchor at N (Stockfish's own UCI_Elo scale) and
# searches to ANCHOR_DEPTH (default 16, about where 60+0.6 takes it here; never
# less than where its strength limit picks, anchor_search.sh); the personas
# play by their own rules with no clock. Whether that matches 60+0.6 is what
# bench/clock_comparison.sh measures: see docs/strength.md. Each batch is
# planned by scripts/calibration_plan.py from the running fit: the pairings
# (anchors included) whose games narrow the intervals still wider than
# ±TARGET most for the time they take here, about BATCH_MINUTES of play, each
# pairing a number of openings played with both colours; games between strong
# players end at a shorter win rule, which they have never been seen to undo
# (calibration_plan.py's STRONG_WIN). The batch's pairings
# are kept in OUT/games/batch-B.pairs, its games in OUT/games/batch-B/ and what
# each pairing took in OUT/games/costs.tsv, so the same command resumes a run
# cut off anywhere. After each batch every game is rated at once into
# OUT/table.txt and OUT/ratings.tsv (what list, the web page and UCI_Elo show).
#
#   scripts/calibrate.sh [PROGRAM]
#
# BATCHES (default 6), BATCH_MINUTES (60), ROUNDS (8: the openings of a block
# of games), TARGET (75), CONCURRENCY (2), OUT (data/calibration), PERSONAS and
# ANCHORS (below). BATCHES=0 only rates. disabled.Freya and disabled.Epona play
# as disabled.Fortuna does (a beginner above 800 draws its rate afresh every
# move), so one of the three is measured.
# Before the first fit, a persona stands at its GUESS (below: the earlier
# calibration's figures refitted with every anchor at its label).
set -eu
program=${1:-build/ai-players}
out=${OUT:-data/calibration}
personas=${PERSONAS:-"Isis Iduna Horus Hera Gremlin Gnome disabled.Fortuna Diana Verevovera"}
anchors=${ANCHORS:-"HOUD20c:1350 HOUD20c:1500 HOUD20c:1700 HOUD20c:1900 HOUD20c:2100 HOUD20c:2300 HOUD20c:2500 HOUD20c:2700 HOUD20c:2850"}
guess=${GUESS:-"Isis=320 Iduna=380 Horus=590 Hera=690 Gremlin=775 Gnome=920 disabled.Fortuna=1200 Diana=1300 Verevovera=2680"}
here=$(dirname "$0")
nl='
'
mkdir -p "$out/games"

# Every game so far: this calibration's and the earlier one's at 60+0.6.
rate() {
  # shellcheck disable=SC2046 # one word per file
  "$program" ratings $(find "$out/games" "$out/archive-60s" -name '*.pgn' | sort) --tsv "$out/ratings.tsv" \
    >"$out/table.txt"
}

# The pairings of a batch, one "A B ROUNDS" a line: scripts/calibration_plan.py
# picks the games that narrow the wide intervals most for their measured cost.
pairings() {
  # shellcheck disable=SC2046 # one word per file
  python3 "$here/calibration_plan.py" --ratings "$out/ratings.tsv" --costs "$out/games/costs.tsv" \
    --players "$personas" --anchors "$anchors" --guess "$guess" --target "${TARGET:-75}" \
    --rounds "${ROUNDS:-8}" --budget $((${BATCH_MINUTES:-60} * 60 * ${CONCURRENCY:-2})) \
    $(find "$out/games" "$out/archive-60s" -name '*.pgn' | sort)
}

# `times` prints the shell's and then its finished children's user and system
# time; the difference of the children's line, before and after, in seconds.
clock=$out/games/.times
cpu_used() {
  awk 'NR % 2 == 0 { split($1, u, "m"); split($2, s, "m"); t[NR] = u[1] * 60 + u[2] + s[1] * 60 + s[2] }
       END { printf "%d", t[4] - t[2] + 0.5 }' "$1"
}

batch=1
while [ "$batch" -le "${BATCHES:-6}" ]; do
  pairs=$out/games/batch-$batch.pairs
  if [ ! -e "$out/games/batch-$batch/done" ]; then
    [ -s "$pairs" ] || pairings >"$pairs"
    if [ ! -s "$pairs" ]; then echo "every persona within ±${TARGET:-75}" >&2; rm -f "$pairs"; break; fi
    mkdir -p "$out/games/batch-$batch"
    index=0
    while read -r a b rounds win; do
      index=$((index + 1))
      start=$(date +%s)
      times >"$clock"
      pgn=$out/games/batch-$batch/$a-$b.pgn
      before=$(grep -c '^\[Result ' "$pgn" 2>/dev/null || true)
      old_ifs=$IFS; IFS=$nl
      # shellcheck disable=SC2046 # one option word per line
      "$program" tournament "$a" "$b" --rounds "${rounds:-${ROUNDS:-8}}" --concurrency "${CONCURRENCY:-2}" \
        --seed $((1000 * batch + index)) --adjudicate --max-plies 400 --event "ai-players calibration" \
        --resume --pgn "$pgn" ${win:+--adjudicate-win} ${win:+"$win"} $(ANCHOR_DEPTH=${ANCHOR_DEPTH:-16} "$here/anchor_search.sh" "$a" "$b") \
        </dev/null >/dev/null \
        2>>"$out/games/batch-$batch/$a-$b.log" || { IFS=$old_ifs; tail -3 "$out/games/batch-$batch/$a-$b.log" >&2; exit 1; }
      IFS=$old_ifs
      seconds=$(($(date +%s) - start))
      times >>"$clock"
      played=$(($(grep -c '^\[Result ' "$pgn" || true) - ${before:-0}))
      # What a game costs here, in seconds of one core for the next plans: the
      # processor time of the tournament and everything it started, so that a
      # busy machine does not make a pairing look dear.
      # A resumed batch passes over the pairings it finished: nothing to add.
      [ "$played" -gt 0 ] && printf '%s\t%s\t%s\t%s\n' "$a" "$b" "$played" "$(cpu_used "$clock")" >>"$out/games/costs.tsv"
      echo "batch $batch: $a - $b: $played games in $seconds s" >&2
    done <"$pairs"
    : >"$out/games/batch-$batch/done"
  fi
  rate
  head -n 1 "$out/table.txt" >&2
  batch=$((batch + 1))
done
rate
