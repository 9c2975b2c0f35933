#!/usr/bin/env python3
"""The calibration's scripts: where the planner puts games and what it says they cost; what the
coverage check predicts."""
import collections
import math
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, "..", "..", "scripts")
SCRIPT = os.path.join(SCRIPTS, "calibration_plan.py")
sys.path.insert(0, SCRIPTS)
import calibration_plan as plan  # noqa: E402
import coverage_check  # noqa: E402


def games(*pairings):
    return collections.Counter({frozenset((a, b)): n for a, b, n in pairings})


class CalibrationPlan(unittest.TestCase):
    def test_a_rating_against_one_anchor_has_the_textbook_half_width(self):
        p = plan.Plan({"X": 1550.0, "HOUD20c:1350": 1350.0}, ["X"], {"HOUD20c:1350"}, {},
                      games(("X", "HOUD20c:1350", 100)), 75)
        expected = 1 / (1 + 10 ** -0.5)  # X's score, 200 points above
        information = 100 * expected * (1 - expected) * (math.log(10) / 400) ** 2
        self.assertAlmostEqual(p.margins(p.games)["X"], 1.96 / math.sqrt(information), places=3)
        # 40 draws in those games: a game spreads p(1-p) - d/4, d counted over 16 more games, as `ratings` does
        p.draws = games(("X", "HOUD20c:1350", 40))
        left = 1 - 40 / 116 / (4 * expected * (1 - expected))
        self.assertAlmostEqual(p.margins(p.games)["X"], 1.96 * math.sqrt(left / information), places=3)
        # scaled to the half-width the table states, here and for more games
        wider = plan.Plan(p.rating, ["X"], p.fixed, {}, p.games, 75, measured={"X": 2 / math.sqrt(information)})
        self.assertAlmostEqual(wider.margins(games(("X", "HOUD20c:1350", 400)))["X"], 1 / math.sqrt(information), places=3)

    def test_games_go_to_the_unsettled_player_and_to_its_cheaper_link(self):
        rating = {"HOUD20c:1350": 1350.0, "X": 1300.0, "Y": 1150.0}
        played = games(("X", "HOUD20c:1350", 400), ("X", "Y", 16))
        costs = {frozenset(("X", "Y")): 5.0, frozenset(("Y", "HOUD20c:1350")): 300.0,
                 frozenset(("X", "HOUD20c:1350")): 60.0}
        p = plan.Plan(rating, ["X", "Y"], {"HOUD20c:1350"}, costs, played, 75)
        added, spent, left = p.greedy(16, 16 * 5 * 4)
        self.assertEqual(set(added), {frozenset(("X", "Y"))})
        self.assertEqual(spent, sum(added.values()) * 5.0)
        # dearer, the same link is passed over for the anchor
        costs[frozenset(("X", "Y"))] = 3000.0
        added, _, _ = p.greedy(16, 3000 * 16)
        self.assertEqual(set(added), {frozenset(("Y", "HOUD20c:1350"))})

    def test_an_unmeasured_pairing_costs_what_its_slower_players_games_cost(self):
        costs = {frozenset(("A", "B")): 10.0, frozenset(("C", "D")): 30.0, frozenset(("A", "D")): 20.0,
                 frozenset(("A", "HOUD20c:1350")): 50.0}
        p = plan.Plan({}, [], set(), costs, {}, 75)
        self.assertEqual(p.cost(frozenset(("B", "D"))), 25.0)  # D: (30 + 20) / 2, B: 10
        self.assertEqual(p.cost(frozenset(("B", "HOUD20c:1500"))), 50.0)  # searches as the other anchors do
        self.assertEqual(p.cost(frozenset(("E", "F"))), plan.UNKNOWN_COST)

    def test_only_games_between_strong_players_end_at_the_shorter_win_rule(self):
        self.assertEqual(plan.win_rule(2200, 2850), "300/8")
        self.assertEqual(plan.win_rule(2850, 2199), "")

    def test_the_command_plans_nothing_once_every_player_is_within_the_target(self):
        with tempfile.TemporaryDirectory() as tmp:
            tsv = os.path.join(tmp, "ratings.tsv")
            pgn = os.path.join(tmp, "games.pgn")
            with open(pgn, "w") as f:
                for _ in range(3):
                    f.write('[White "Y"]\n[Black "HOUD20c:1350"]\n[Result "1-0"]\n\n1. e4 1-0\n\n')

            def run(players, margin, bound="0", rating=1400, anchor="HOUD20c:1350"):
                with open(tsv, "w") as f:
                    f.write("name\trating\tmargin\tgames\tbound\n")
                    f.write(f"Y\t{rating}\t{margin}\t3\t{bound}\n")
                return subprocess.run([sys.executable, SCRIPT, "--ratings", tsv, "--costs", os.path.join(tmp, "none"),
                                       "--players", players, "--anchors", anchor, "--guess", "Z=1000",
                                       "--budget", "2000", pgn], capture_output=True, text=True, check=True)

            self.assertEqual(run("Y", 75).stdout, "")
            self.assertNotEqual(run("Y", 75, bound="1").stdout, "")  # a bound is no measurement
            wide = run("Y Z", 75)
            lines = [line.split() for line in wide.stdout.splitlines()]
            # blocks of 8 openings with both colours at the 60 s a game assumed unmeasured, until 2000 s are
            # spent: three blocks
            self.assertEqual(sum(int(line[2]) for line in lines), 3 * 8, wide.stdout)
            self.assertTrue(any("Z" in line for line in lines), wide.stdout)  # the guessed player is linked in
            self.assertIn("to ±75 everywhere: about", wide.stderr)
            # a strong pairing's games end at the shorter win rule
            self.assertEqual(run("Y", 200, rating=2400, anchor="HOUD20c:2500").stdout.split("\n")[0].split()[3:],
                             ["300/8"])


class CoverageCheck(unittest.TestCase):
    def test_the_prediction_holds_the_luck_of_the_games_and_the_tables_own_doubt(self):
        e, low, high = coverage_check.predicted(0, 0, 40)
        self.assertEqual(e, 0.5)
        self.assertAlmostEqual(high - e, 1.96 * math.sqrt(0.25 / 40))  # luck alone
        _, low2, high2 = coverage_check.predicted(0, 50 ** 2, 40)
        slope = 0.25 * math.log(10) / 400  # the score's change per point of difference, at 50 %
        self.assertAlmostEqual(high2 - e, 1.96 * math.sqrt(0.25 / 40 + (slope * 50) ** 2))
        e, low, high = coverage_check.predicted(-400, 0, 1)
        self.assertAlmostEqual(e, 1 / 11)
        self.assertEqual(low, 0.0)  # a score is never below nothing
        _, _, high = coverage_check.predicted(0, 0, 40, 0.5)
        self.assertAlmostEqual(high - 0.5, 1.96 * math.sqrt((0.25 - 0.5 / 4) / 40))  # draws spread less

    def test_a_players_score_counts_both_colours_and_draws_and_skips_unfinished_games(self):
        with tempfile.TemporaryDirectory() as tmp:
            pgn = os.path.join(tmp, "g.pgn")
            with open(pgn, "w") as f:
                for white, black, result in [("A", "B", "1-0"), ("B", "A", "1-0"), ("B", "A", "0-1"),
                                             ("A", "B", "1/2-1/2"), ("A", "B", "0-1"), ("B", "A", "0-1"),
                                             ("A", "B", "*")]:
                    f.write(f'[White "{white}"]\n[Black "{black}"]\n[Result "{result}"]\n\n{result}\n\n')
            self.assertEqual(coverage_check.score_of(pgn, "A"), (3.5, 6, 1))


FAKE_PROGRAM = """#!/bin/sh
cmd=$1; shift
while [ $# -gt 0 ]; do case $1 in --tsv) tsv=$2 ;; --pgn) pgn=$2 ;; esac; shift; done
case $cmd in
  ratings) printf 'name\\trating\\tmargin\\tgames\\tbound\\n' >"$tsv" ;;
  tournament) if [ -s "$pgn" ]; then echo "nothing left to play" >&2
              else printf '[Result "1-0"]\\n\\n1-0\\n\\n' >"$pgn"; echo "played 1" >&2; fi ;;
esac
"""


def fake_program(tmp):
    program = os.path.join(tmp, "program")
    with open(program, "w") as f:
        f.write(FAKE_PROGRAM)
    os.chmod(program, 0o755)
    return program


class Resuming(unittest.TestCase):
    def test_a_resumed_coverage_check_keeps_the_log_of_its_games(self):
        with tempfile.TemporaryDirectory() as tmp:
            pgn = os.path.join(tmp, "A-B.pgn")
            for _ in range(2):
                coverage_check.play(fake_program(tmp), "A", "B", 2, 1, pgn)
            with open(os.path.join(tmp, "A-B.log")) as f:
                self.assertEqual(f.read(), "played 1\nnothing left to play\n")

    def test_a_resumed_batch_keeps_the_log_of_a_pairing_it_finished_and_adds_no_cost(self):
        with tempfile.TemporaryDirectory() as tmp:
            program = fake_program(tmp)
            games_dir = os.path.join(tmp, "out", "games")
            os.makedirs(os.path.join(tmp, "out", "archive-60s"))
            os.makedirs(games_dir)
            with open(os.path.join(games_dir, "batch-1.pairs"), "w") as f:
                f.write("A B 1\n")
            run = dict(os.environ, BATCHES="1", OUT=os.path.join(tmp, "out"))
            for _ in range(2):  # the second time as if cut off before the batch was marked done
                subprocess.run(["sh", os.path.join(SCRIPTS, "calibrate.sh"), program], env=run, check=True,
                               capture_output=True)
                os.remove(os.path.join(games_dir, "batch-1", "done"))
            with open(os.path.join(games_dir, "batch-1", "A-B.log")) as f:
                self.assertEqual(f.read(), "played 1\nnothing left to play\n")
            with open(os.path.join(games_dir, "costs.tsv")) as f:
                self.assertEqual([line.split("\t")[:3] for line in f], [["A", "B", "1"]])


if __name__ == "__main__":
    unittest.main()
