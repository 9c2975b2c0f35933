#!/usr/bin/env python3
"""Do fresh games land where the strength table says they will?

For each pairing, GAMES new games (seeds the calibration never uses, the
calibration's conditions: paired openings, adjudication, each HOUD20c:N at
its search) are played, resumably, into OUT/A-B.pgn. The table predicts A's
score: E = 1 / (1 + 10^(-d/400)) for the rated difference d, and a 95 %
interval from the difference's own uncertainty (the information of the
calibration's games, as scripts/calibration_plan.py computes it) together with
the luck of GAMES games. The score should fall inside about 95 % of the time.

    coverage_check.py [--program build/ai-players] [--calibration data/calibration]
                      [--games 40] [--out data/calibration/coverage] A,B ...
"""
import argparse
import glob
import math
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import calibration_plan as plan  # noqa: E402

SEED_BASE = 900000  # the calibration's seeds are 1000 * batch + index


def score_of(path, player):
    points = games = draws = 0
    for white, _, result in plan.game_results([path]):
        if result in ("1-0", "0-1", "1/2-1/2"):
            games += 1
            if result == "1/2-1/2":
                points += 0.5
                draws += 1
            elif (result == "1-0") == (white == player):
                points += 1
    return points, games, draws


def predicted(difference, variance, games, draw_rate=0.0):
    """A's expected score and its 95 % interval over `games` games, for a rated
    difference with that variance; draws narrow a game's spread to p(1-p) - d/4."""
    e = 1 / (1 + 10 ** (-difference / 400))
    luck = max(e * (1 - e) - draw_rate / 4, 0.0) / games
    spread = math.sqrt((e * (1 - e) * plan.SCALE) ** 2 * variance + luck)
    return e, max(0.0, e - 1.96 * spread), min(1.0, e + 1.96 * spread)


def play(program, a, b, games, seed, pgn, win_rule=""):
    limits = subprocess.run(["sh", os.path.join(HERE, "anchor_search.sh"), a, b], capture_output=True, text=True,
                            check=True, env=dict(os.environ, ANCHOR_DEPTH=os.environ.get("ANCHOR_DEPTH", "16")))
    rule = ["--adjudicate-win", win_rule] if win_rule else []  # as the calibration ends strong games
    with open(pgn[:-4] + ".log", "a") as log:  # a resumed check keeps the log of its games
        subprocess.run([program, "tournament", a, b, "--rounds", str(games // 2), "--seed", str(seed), "--adjudicate",
                        "--max-plies", "400", "--event", "ai-players coverage check", "--resume", "--pgn", pgn]
                       + limits.stdout.split("\n")[:-1] + rule, stdout=subprocess.DEVNULL, stderr=log, check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/ai-players")
    parser.add_argument("--calibration", default="data/calibration")
    parser.add_argument("--games", type=int, default=40)
    parser.add_argument("--out", default="data/calibration/coverage")
    parser.add_argument("pairings", nargs="+", metavar="A,B")
    a = parser.parse_args()

    measured = plan.read_ratings(os.path.join(a.calibration, "ratings.tsv"))
    files = sorted(glob.glob(os.path.join(a.calibration, "games", "**", "*.pgn"), recursive=True)
                   + glob.glob(os.path.join(a.calibration, "archive-60s", "*.pgn")))
    played = plan.count_games(files)
    names = {n for pair in played for n in pair}
    fixed = {n: float(n.split(":", 1)[1]) for n in names if n.startswith("HOUD20c:")}
    free = sorted(n for n in names if n in measured and n not in fixed and math.isfinite(measured[n][1]))
    rating = {**fixed, **{n: measured[n][0] for n in free}}
    fit = plan.Plan(rating, free, set(fixed), {}, played, 75, plan.count_draws(files))
    covariance = fit.covariance(played)

    def variance(x, y):
        i, j = fit.index.get(x), fit.index.get(y)
        v = (covariance[i][i] if i is not None else 0) + (covariance[j][j] if j is not None else 0)
        return v - (2 * covariance[i][j] if i is not None and j is not None else 0)

    os.makedirs(a.out, exist_ok=True)
    inside = 0
    print(f"{'pairing':<34} {'difference':>10} {'predicted score':>17} {'games':>6} {'score':>6}")
    for k, pairing in enumerate(a.pairings):
        x, y = pairing.split(",", 1)
        if x not in rating or y not in rating:
            sys.exit(f"{pairing}: both must have a rating in the table (no bounds)")
        pgn = os.path.join(a.out, f"{x}-{y}.pgn")
        play(a.program, x, y, a.games, SEED_BASE + k, pgn, plan.win_rule(rating[x], rating[y]))
        points, n, draws = score_of(pgn, x)
        d = rating[x] - rating[y]
        _, low, high = predicted(d, variance(x, y), n, draws / n)
        score = points / n
        hit = low <= score <= high
        inside += hit
        print(f"{x + ' - ' + y:<34} {d:>+10.0f} {100 * low:>7.1f}..{100 * high:<5.1f}% {n:>6} {100 * score:>5.1f}%"
              + ("" if hit else "  outside"))
    print(f"{inside} of {len(a.pairings)} inside their 95 % interval")


if __name__ == "__main__":
    main()
