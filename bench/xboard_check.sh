#!/bin/sh
# Two personas play each other in xboard through polyglot, as a GUI user
# would run them, with the CPU loaded by stress-ng, and the games are checked
# for losses on time. Needs xboard, polyglot, stress-ng and xvfb-run.
#   bench/xboard_check.sh [PROGRAM]   WHITE, BLACK (HOUD20c, Verevovera),
#   GAMES (4), SECONDS_PER_MOVE (1; xboard's -st takes minutes:seconds), LOAD (stress-ng's --cpu, 2; 0: none)
set -eu
program=$(realpath "${1:-build/ai-players}")
dir=$(mktemp -d)
trap 'kill "$stress" 2>/dev/null || true; rm -rf "$dir"' EXIT
for persona in "${WHITE:=HOUD20c}" "${BLACK:=Verevovera}"; do
  printf '[PolyGlot]\nEngineCommand = %s uci --persona %s\nEngineName = %s\n[Engine]\n' \
    "$program" "$persona" "$persona" >"$dir/$persona.ini"
done
stress=
[ "${LOAD:-2}" -gt 0 ] && { stress-ng --cpu "${LOAD:-2}" --quiet & stress=$!; }
cd "$dir"
# xboard stays up after its match: the games file says when it is over.
setsid xvfb-run -a /usr/games/xboard -fcp "/usr/games/polyglot $WHITE.ini" -fd "$dir" \
  -scp "/usr/games/polyglot $BLACK.ini" -sd "$dir" -st "$(printf '0:%02d' "${SECONDS_PER_MOVE:-1}")" \
  -mg "${GAMES:-4}" -sgf "$dir/games.pgn" -autoCallFlag true -xponder -noGUI >/dev/null 2>&1 &
gui=$!
waited=0
while [ "$(cat games.pgn 2>/dev/null | grep -c '^\[Result ' || true)" -lt "${GAMES:-4}" ] && [ "$waited" -lt $((${GAMES:-4} * 600)) ]; do
  sleep 5; waited=$((waited + 5))
done
kill -- -"$gui" 2>/dev/null || true
games=$(cat games.pgn 2>/dev/null | grep -c '^\[Result ' || true)
flags=$(cat games.pgn 2>/dev/null | grep -c 'time forfeit\|on time\|out of time' || true)
echo "$WHITE vs $BLACK in xboard, ${SECONDS_PER_MOVE:-1} s a move, stress-ng --cpu ${LOAD:-2}: $games games, $flags lost on time"
grep -o '^\[Result "[^"]*"\]\|{Xboard adjudication: [^}]*}\|{[^}]*time[^}]*}' games.pgn | paste -sd' ' | fold -s -w 78
[ "$games" -eq "${GAMES:-4}" ] && [ "$flags" -eq 0 ]
