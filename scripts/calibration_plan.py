#!/usr/bin/env python3
"""The calibration's next batch: the pairings whose games narrow the wide
intervals most for the machine time they cost.

Each game between players rated a and b adds p(1-p)(ln 10/400)^2 / phi to
the information of the fit (p the expected score; phi the pairing's
dispersion, 1 - d/4p(1-p) for its draw rate d as `ratings` counts it, 1 for a
pairing not yet played); every HOUD20c:N is fixed, so
the information matrix of the others, inverted, gives each rating's 95 %
half-width. Greedily, block after block (ROUNDS openings, both colours), the
pairing with the largest drop of the summed excess over TARGET per second of
play is added, until the batch's BUDGET of seconds is spent. Seconds per game
come from the games already played (COSTS); an unplayed pairing costs what its
slower player's games cost on average (an anchor's, what the anchors' cost).

    calibration_plan.py --ratings TSV --costs TSV --players "A B" --anchors "HOUD20c:1350 ..."
                        [--guess "A=900 ..."] [--target 75] [--rounds 8] [--budget 3600] GAMES.pgn...

Prints "A B ROUNDS [WIN]" lines, cheapest first (WIN: the --adjudicate-win
of strong pairings), and on stderr what reaching TARGET
everywhere would still take at the measured costs (a projection, not a promise).
"""
import argparse
import collections
import itertools
import math
import re
import sys

SCALE = math.log(10) / 400
REACH = 600  # farther apart than this a game says almost nothing
UNKNOWN_COST = 60.0  # seconds a game, before anything is measured
SPREAD_PRIOR = 16  # games without a draw that a pairing's draw rate is counted with, as in `ratings`
# Between players this strong a lead of 3 pawns for 8 plies ends the game: in 177
# of their games played out it would have ended 119 early, none wrongly, and 15 %
# of their plies (bench/adjudication_check.py --as-played; below 2200, 14 of 137
# wrongly).
STRONG, STRONG_WIN = 2200, "300/8"


def win_rule(a, b):
    """The tournament's --adjudicate-win for players rated a and b; empty: its default."""
    return STRONG_WIN if min(a, b) >= STRONG else ""


def read_ratings(path):
    """name -> (rating, margin); a bound counts as unsettled."""
    ratings = {}
    try:
        with open(path, encoding="utf-8") as f:
            next(f, None)
            for line in f:
                cols = line.rstrip("\n").split("\t")
                if len(cols) >= 5:
                    ratings[cols[0]] = (float(cols[1]), math.inf if cols[4] != "0" else float(cols[2]))
    except FileNotFoundError:
        pass
    return ratings


def game_results(paths):
    """(white, black, result) of every game of the PGN files, from their tags."""
    for path in paths:
        white = black = None
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = re.match(r'\[(White|Black|Result) "(.*)"\]', line)
                if not m:
                    continue
                if m.group(1) == "White":
                    white = m.group(2)
                elif m.group(1) == "Black":
                    black = m.group(2)
                elif white and black:
                    yield white, black, m.group(2)


def count_games(paths):
    return collections.Counter(frozenset((white, black)) for white, black, _ in game_results(paths))


def count_draws(paths):
    return collections.Counter(frozenset((white, black)) for white, black, result in game_results(paths)
                               if result == "1/2-1/2")


def dispersion(p, draws, games):
    """How much less a game's score spreads than p(1-p) says, for the draws seen in the pairing's games."""
    rate = min(draws / (games + SPREAD_PRIOR), 2 * min(p, 1 - p))
    return max(0.1, 1 - rate / (4 * p * (1 - p)))


def read_costs(path):
    """frozenset pairing -> seconds a game, from lines "A B games seconds"."""
    totals = collections.defaultdict(lambda: [0, 0.0])
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                cols = line.split("\t")
                if len(cols) == 4 and int(cols[2]) > 0:
                    t = totals[frozenset(cols[:2])]
                    t[0] += int(cols[2])
                    t[1] += float(cols[3])
    except FileNotFoundError:
        pass
    return {pair: s / n for pair, (n, s) in totals.items()}


class Plan:
    def __init__(self, rating, free, fixed, costs, games, target, draws=None, measured=None):
        self.rating, self.free, self.fixed = rating, free, fixed
        self.index = {p: i for i, p in enumerate(free)}
        self.costs, self.games, self.target = costs, games, target
        self.draws = draws or {}
        # The information matrix says a little less than the table's profile intervals:
        # each half-width is scaled to the one the table states for the games so far.
        self.scale = {}
        now = self.margins(games)
        self.scale = {p: m / now[p] for p, m in (measured or {}).items() if p in now and now[p] > 0 and math.isfinite(m)}

    def cost(self, pair):
        """A game takes as long as its slower player makes it: a player costs what its
        measured pairings cost on average, an anchor never measured what the anchors' do."""
        if pair in self.costs:
            return self.costs[pair]

        def average(costs):
            return sum(costs) / len(costs) if costs else None

        each = []
        for p in pair:
            mine = average([c for q, c in self.costs.items() if p in q])
            if mine is None and p.startswith("HOUD20c:"):
                mine = average([c for q, c in self.costs.items() if any(x.startswith("HOUD20c:") for x in q)])
            if mine is not None:
                each.append(mine)
        return max(each) if each else UNKNOWN_COST

    def margins(self, games):
        covariance = self.covariance(games)
        return {p: 1.96 * math.sqrt(max(covariance[i][i], 0.0)) * self.scale.get(p, 1.0) for p, i in self.index.items()}

    def covariance(self, games):
        """Of the free players' ratings (in self.index's order), as the games' information says."""
        n = len(self.free)
        info = [[1e-9 if i == j else 0.0 for j in range(n)] for i in range(n)]
        for pair, k in games.items():
            a, b = tuple(pair)
            if a not in self.rating or b not in self.rating or (a in self.fixed and b in self.fixed):
                continue
            p = 1 / (1 + 10 ** ((self.rating[b] - self.rating[a]) / 400))
            w = k * p * (1 - p) * SCALE * SCALE / dispersion(p, self.draws.get(pair, 0), self.games.get(pair, 0))
            for x in (a, b):
                if x in self.index:
                    info[self.index[x]][self.index[x]] += w
            if a in self.index and b in self.index:
                info[self.index[a]][self.index[b]] -= w
                info[self.index[b]][self.index[a]] -= w
        return invert(info)

    def excess(self, margins):
        return sum(max(0.0, m - self.target) for m in margins.values())

    def candidates(self):
        everyone = self.free + sorted(self.fixed)
        return [frozenset((a, b)) for a, b in itertools.combinations(everyone, 2)
                if not (a in self.fixed and b in self.fixed) and abs(self.rating[a] - self.rating[b]) <= REACH]

    def greedy(self, block, budget):
        """Blocks of games, best gain per second first, until the budget or the target."""
        games = collections.Counter(self.games)
        added, spent = collections.Counter(), 0.0
        current = self.excess(self.margins(games))
        candidates = self.candidates()
        while current > 0 and spent < budget:
            best = None
            for pair in candidates:
                games[pair] += block
                gain = (current - self.excess(self.margins(games))) / (block * self.cost(pair))
                games[pair] -= block
                if best is None or gain > best[0]:
                    best = (gain, pair)
            if best is None or best[0] <= 0:
                break
            games[best[1]] += block
            added[best[1]] += block
            spent += block * self.cost(best[1])
            current = self.excess(self.margins(games))
        return added, spent, current


def invert(matrix):
    n = len(matrix)
    a = [row[:] + [1.0 if i == j else 0.0 for j in range(n)] for i, row in enumerate(matrix)]
    for i in range(n):
        pivot = max(range(i, n), key=lambda r: abs(a[r][i]))
        a[i], a[pivot] = a[pivot], a[i]
        d = a[i][i]
        a[i] = [v / d for v in a[i]]
        for r in range(n):
            if r != i and a[r][i]:
                f = a[r][i]
                a[r] = [x - f * y for x, y in zip(a[r], a[i])]
    return [row[n:] for row in a]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ratings", required=True)
    parser.add_argument("--costs", required=True)
    parser.add_argument("--players", required=True)
    parser.add_argument("--anchors", required=True)
    parser.add_argument("--guess", default="")
    parser.add_argument("--target", type=float, default=75)
    parser.add_argument("--rounds", type=int, default=8)
    parser.add_argument("--budget", type=float, default=3600, help="seconds of play in the batch")
    parser.add_argument("games", nargs="*")
    a = parser.parse_args()

    measured = read_ratings(a.ratings)
    guesses = dict(g.split("=", 1) for g in a.guess.split())
    fixed = {n: float(n.split(":", 1)[1]) for n in a.anchors.split()}
    rating, margin, free = dict(fixed), {}, []
    for p in a.players.split():
        if p in measured:
            rating[p], margin[p] = measured[p]
        elif p in guesses:
            rating[p], margin[p] = float(guesses[p]), math.inf
        else:
            print(f"{p}: neither rated nor guessed; left out", file=sys.stderr)
            continue
        free.append(p)
    if all(margin[p] <= a.target for p in free):
        return
    plan = Plan(rating, free, fixed, read_costs(a.costs), count_games(a.games), a.target, count_draws(a.games), margin)
    block = 2 * a.rounds
    batch, spent, _ = plan.greedy(block, a.budget)
    for pair in sorted(batch, key=lambda q: sum(rating[p] for p in q)):
        x, y = sorted(pair, key=lambda p: rating[p])
        rule = win_rule(rating[x], rating[y])
        print(x, y, batch[pair] // 2, *([rule] if rule else []))
    rest, seconds, left = plan.greedy(block, math.inf)
    print(f"this batch: {sum(batch.values())} games, about {spent / 60:.0f} min of play; "
          f"to ±{a.target:.0f} everywhere: about {sum(rest.values())} more games, {seconds / 3600:.1f} h of play"
          + ("" if left == 0 else " (and still short)"), file=sys.stderr)


if __name__ == "__main__":
    main()
