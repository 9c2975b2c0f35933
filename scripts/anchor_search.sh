#!/bin/sh
# Prints a --search option for each HOUD20c:N among its arguments: the depth at
# which Stockfish 15.1's strength limit picks its move. Its limit sets a level
# ((N - 1346.6) / 143.4) ^ (1 / 0.806), at most 20, and picks among its best
# lines once the search reaches depth 1 + the level's whole part; searching on
# does not change that pick. What the search leaves in the hash for the next
# move does, though (a clocked search goes far deeper): ANCHOR_DEPTH sets a
# least depth (default 0: the pick's own). Other names print nothing.
for n in "$@"; do
  case $n in
    HOUD20c:*)
      awk -v name="$n" -v elo="${n#HOUD20c:}" -v least="${ANCHOR_DEPTH:-0}" 'BEGIN {
        level = elo > 1346.6 ? ((elo - 1346.6) / 143.4) ^ (1 / 0.806) : 0
        if (level > 20) level = 20
        depth = 1 + int(level)
        printf "--search\n%s=depth %d\n", name, (depth > least ? depth : least)
      }' ;;
  esac
done
