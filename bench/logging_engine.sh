#!/bin/bash
# A UCI engine that notes its start and, when it ends, its processor time in
# $ENGINE_LOG: an engine that waits for a command uses none, so its
# processor time is the time it spent searching.
#   AI_PLAYERS_ENGINE=bench/logging_engine.sh ENGINE_LOG=log REAL_ENGINE=/usr/games/stockfish ...
echo start >>"$ENGINE_LOG"
TIMEFORMAT="end %R %U %S"
{ time "${REAL_ENGINE:-/usr/games/stockfish}" "$@" 2>&3; } 3>&2 2>>"$ENGINE_LOG"
