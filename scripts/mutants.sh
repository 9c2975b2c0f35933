#!/usr/bin/env bash
# Mutation sample of the test suite (see scripts/mutants.py): N seeded mutants
# over ai_players/ and apps/, each built and tested in a scratch copy, so the
# working tree is never mutated, even when interrupted. Long: not run in CI.
#   scripts/mutants.sh [N] [SEED]     a fresh sample (defaults 40 1)
#   scripts/mutants.sh --rerun SEED [ID...]   that sample's survivors (or those named) against the current tests
set -euo pipefail
exec python3 "$(dirname "$0")/mutants.py" "$@"
