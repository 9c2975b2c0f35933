#!/bin/sh
# Does the calibration's result depend on the clock? Two pairings, one
# persona against the anchor nearest it and two anchors, each played on the
# same openings (both colours, ROUNDS of them, default 50: 100 games):
#   slow: 60+0.6 for both sides, the clock the earlier calibration used;
#   fast: no clock, each persona by its own rules and each HOUD20c:N at the
#         depth where its strength limit picks (scripts/anchor_search.sh);
#   deep: the same with each HOUD20c:N searching at least to depth 16, about
#         where 60+0.6 takes it on two cores.
# The same command resumes a cut-off run. Then both settings are rated side by
# side: the first player's score with its 95 % interval.
#   bench/clock_comparison.sh [PROGRAM]     SETTINGS ("fast deep slow"), ROUNDS, OUT, CONCURRENCY;
#   REPORT_ONLY=1 plays nothing and prints the scores so far
set -eu
program=${1:-build/ai-players}
out=${OUT:-data/calibration/clock}
rounds=${ROUNDS:-50}
mkdir -p "$out"
nl='
'
[ "${REPORT_ONLY:-}" ] && SETTINGS=" "
for setting in ${SETTINGS:-fast deep slow}; do
  for pairing in "Diana HOUD20c:1350" "HOUD20c:2200 HOUD20c:2400"; do
    # shellcheck disable=SC2086 # two names
    set -- $pairing
    file=$out/$setting-$1-$2.pgn
    case $setting in
      slow) limits="--tc${nl}60+0.6" ;;
      deep) limits=$(ANCHOR_DEPTH=16 scripts/anchor_search.sh "$@") ;;
      fast) limits=$(scripts/anchor_search.sh "$@") ;;
      *) echo "unknown setting $setting (fast, deep or slow)" >&2; exit 2 ;;
    esac
    old_ifs=$IFS; IFS=$nl
    # shellcheck disable=SC2086 # one option word per line
    "$program" tournament "$1" "$2" --rounds "$rounds" --concurrency "${CONCURRENCY:-2}" --seed 37 \
      --adjudicate --max-plies 400 --event "ai-players clock comparison ($setting)" --resume --pgn "$file" \
      $limits >/dev/null 2>"$file.log" || { IFS=$old_ifs; cat "$file.log" >&2; exit 1; }
    IFS=$old_ifs
  done
done
for pairing in "Diana HOUD20c:1350" "HOUD20c:2200 HOUD20c:2400"; do
  set -- $pairing
  for setting in fast deep slow; do
    file=$out/$setting-$1-$2.pgn
    [ -s "$file" ] || continue
    awk -v who="$1" -v setting="$setting" '
      /^\[White / { white = ($0 ~ "\"" who "\"") }
      /^\[Result / {
        r = $2; gsub(/[]"]/, "", r)
        if (r == "1-0") s = white; else if (r == "0-1") s = !white; else if (r == "1/2-1/2") s = 0.5; else next
        n++; sum += s; sq += s * s
      }
      END {
        m = sum / n; sd = sqrt((sq / n - m * m) / n)
        printf "%-4s %-28s %3d games  score %5.1f %% ± %4.1f\n", setting, FILENAME, n, 100 * m, 196 * sd
      }' FILENAME="$1 - $2" "$file"
  done
done
