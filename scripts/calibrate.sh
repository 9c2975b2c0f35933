#!/bin/sh
# The calibration behind the strength table, in batches, resumable.
#
# Every HOUD20c:N is an anchor at N (Stockfish's own UCI_Elo scale) and
# searches to ANCHOR_DEPTH (default 16, about where 60+0.6 takes it here; never
# less than where its strength limit picks, anchor_search.sh); the personas
# play by their own rules with no clock. Whether that matches 60+0.6 is what
# bench/clock_comparison.sh measures: see docs/strength.md. A batch pairs each
# persona whose interval is still wider than ±TARGET with the players rated
# nearest above and below it (anchors included; the nearest anchor too when it
# is within 400), so that every game is played where the expected score is
# nearest 50 %; each pairing plays ROUNDS openings with both colours. The
# batch's pairings are kept in OUT/games/batch-B.pairs, its games in
# OUT/games/batch-B/, so the same command resumes a run cut off anywhere.
# After each batch every game is rated at once into OUT/table.txt and
# OUT/ratings.tsv (what list, the web page and UCI_Elo show).
#
#   scripts/calibrate.sh [PROGRAM]
#
# BATCHES (default 6), ROUNDS (8), TARGET (75), CONCURRENCY (2), OUT
# (data/calibration), PERSONAS and ANCHORS (below). BATCHES=0 only rates.
# Before the first fit, a persona stands at its GUESS (below: the earlier
# calibration's figures refitted with every anchor at its label).
set -eu
program=${1:-build/ai-players}
out=${OUT:-data/calibration}
personas=${PERSONAS:-"Isis Iduna Horus Hera Gremlin Gnome Diana Verevovera"}
anchors=${ANCHORS:-"HOUD20c:1350 HOUD20c:1500 HOUD20c:1700 HOUD20c:1900 HOUD20c:2100 HOUD20c:2300 HOUD20c:2500 HOUD20c:2700 HOUD20c:2850"}
guess=${GUESS:-"Isis=320 Iduna=380 Horus=590 Hera=690 Gremlin=775 Gnome=920 Diana=1300 Verevovera=2680"}
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

# The pairings of a batch, cheapest (weakest) first, one "A B" a line.
pairings() {
  {
    for a in $anchors; do echo "anchor $a ${a#HOUD20c:}"; done
    for p in $personas; do
      line=$(awk -F'\t' -v n="$p" '$1 == n { print $2, $3, $5 }' "$out/ratings.tsv" 2>/dev/null || true)
      if [ -n "$line" ]; then echo "persona $p $line"; else
        for g in $guess; do [ "${g%%=*}" = "$p" ] && echo "persona $p ${g#*=} 999 0"; done
      fi
    done
  } | awk -v target="${TARGET:-75}" '
    { kind[NR] = $1; name[NR] = $2; pos[NR] = $3 + 200 * ($5 + 0); margin[NR] = ($1 == "anchor") ? 0 : $4; n = NR }
    function add(i, j) { if (i == j || j == 0) return; a = pos[i] <= pos[j] ? i : j; b = a == i ? j : i
      key = name[a] " " name[b]; if (!(key in seen)) { seen[key] = 1; out[++m] = pos[a] + pos[b] " " key } }
    END {
      for (i = 1; i <= n; i++) {
        if (kind[i] != "persona" || margin[i] <= target) continue
        up = down = up2 = down2 = anchor = 0
        for (j = 1; j <= n; j++) {
          if (j == i) continue
          d = pos[j] - pos[i]
          if (d >= 0 && (!up || d < pos[up] - pos[i])) { up2 = up; up = j } else if (d >= 0 && (!up2 || d < pos[up2] - pos[i])) up2 = j
          if (d < 0 && (!down || -d < pos[i] - pos[down])) { down2 = down; down = j } else if (d < 0 && (!down2 || -d < pos[i] - pos[down2])) down2 = j
          if (kind[j] == "anchor" && (d < 0 ? -d : d) <= 400 && (!anchor || (d < 0 ? -d : d) < (pos[anchor] > pos[i] ? pos[anchor] - pos[i] : pos[i] - pos[anchor]))) anchor = j
        }
        add(i, up); add(i, down); add(i, anchor)
        if (!up) add(i, down2)
        if (!down) add(i, up2)
      }
      for (k = 1; k <= m; k++) print out[k]
    }' | sort -n | cut -d' ' -f2-
}

batch=1
while [ "$batch" -le "${BATCHES:-6}" ]; do
  pairs=$out/games/batch-$batch.pairs
  if [ ! -e "$out/games/batch-$batch/done" ]; then
    [ -s "$pairs" ] || pairings >"$pairs"
    if [ ! -s "$pairs" ]; then echo "every persona within ±${TARGET:-75}" >&2; rm -f "$pairs"; break; fi
    mkdir -p "$out/games/batch-$batch"
    index=0
    while read -r a b; do
      index=$((index + 1))
      start=$(date +%s)
      old_ifs=$IFS; IFS=$nl
      # shellcheck disable=SC2046 # one option word per line
      "$program" tournament "$a" "$b" --rounds "${ROUNDS:-8}" --concurrency "${CONCURRENCY:-2}" \
        --seed $((1000 * batch + index)) --adjudicate --max-plies 400 --event "ai-players calibration" \
        --resume --pgn "$out/games/batch-$batch/$a-$b.pgn" $(ANCHOR_DEPTH=${ANCHOR_DEPTH:-16} "$here/anchor_search.sh" "$a" "$b") \
        </dev/null >/dev/null \
        2>"$out/games/batch-$batch/$a-$b.log" || { IFS=$old_ifs; tail -3 "$out/games/batch-$batch/$a-$b.log" >&2; exit 1; }
      IFS=$old_ifs
      echo "batch $batch: $a - $b: $(($(date +%s) - start)) s" >&2
    done <"$pairs"
    : >"$out/games/batch-$batch/done"
  fi
  rate
  head -n 1 "$out/table.txt" >&2
  batch=$((batch + 1))
done
rate
