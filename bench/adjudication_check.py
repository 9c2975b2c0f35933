#!/usr/bin/env python3
"""How often engine adjudication gives another result than the game played out.

1. Replay: every game of a tournament PGN that was won by adjudication is
   played on from its last position to its end without adjudication, by the
   same players at the same clock (fresh clocks), through the program's own
   tournament worker (`ai-players game-worker`), up to the tournament's ply
   limit (a game still going there is a draw, as in the tournament).
2. Scores: every position of each played-out game is scored by the engine
   at the judge's depth (the scores are kept in a cache file).
3. Rules: each adjudication rule (margin, plies in a row, whose lead it
   honours) is tried on those scores; for each, the games it ends and how
   many of those it ends with another result than the game played out.
   Every rule tried is at least as strict as the one the tournament used, so
   every game it would end is among the adjudicated ones replayed here.

  bench/adjudication_check.py --program build/ai-players data/calibration/calibration.pgn \
      --replays data/adjudication/adjudication-replays.pgn [--jobs 2] [--sample N] [--max-plies 400] [--no-play]

The replays go to --replays (default adjudication-replays.pgn) as they end;
a second run keeps those already there and plays only the others.

With --as-played, rules looser than the tournament's are tried instead, on
whole games as they were played (every position scored, the scores kept in
PGN.scores.json): a game such a rule ends earlier went on to the result it
has, so a verdict that differs from it is wrong. Strong games (both players
at 2200 or more by their Elo tags) and the others are counted apart.

  bench/adjudication_check.py --as-played data/adjudication/as-played.pgn

(that file: the calibration's HOUD20c:2200-HOUD20c:2400 games at depth and
Verevovera's first 19 against anchors, then Diana's and Fortuna's against
HOUD20c:1350 and some beginners' games)
"""
import argparse
import json
import os
import queue
import random
import re
import subprocess
import sys
import threading

PGN_EXTRACT = "/usr/games/pgn-extract"
ENGINE = os.environ.get("AI_PLAYERS_ENGINE", "/usr/games/stockfish")
DEPTH = 8  # the judge's depth
MATE = 100000
BEGINNERS = {"Talvo", "Isis", "Iduna", "Horus", "Hera", "Gremlin", "Gnome"}


def read_games(path):
    """Tags and coordinate moves of every game, through pgn-extract."""
    out = subprocess.run([PGN_EXTRACT, "-Wuci", "-s", path], capture_output=True, text=True, check=True).stdout
    games, tags, moves = [], {}, []
    for line in out.splitlines():
        m = re.match(r'\[(\w+) "(.*)"\]$', line)
        if m:
            if moves:
                games.append((tags, moves))
                tags, moves = {}, []
            tags[m.group(1)] = m.group(2)
        elif line.strip():
            moves += line.split()
    if tags:
        games.append((tags, moves))
    result = []
    for tags, moves in games:
        if moves and moves[-1] in ("1-0", "0-1", "1/2-1/2", "*"):
            moves = moves[:-1]
        result.append((tags, [m.lower() for m in moves]))
    return result


def replay_terms(index, tags, moves, max_plies):
    return {"event": "adjudication replay", "site": f"game {index + 1}", "round": tags.get("Round", "?"),
            "white": tags["White"], "black": tags["Black"], "opening": "replay", "moves": moves,
            "max_plies": max_plies, "clock": tags.get("TimeControl", ""), "seed": index + 1, "adjudicate": False}


def worker(program, todo, done):
    proc = subprocess.Popen([program, "game-worker"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        while True:
            try:
                index, terms = todo.get_nowait()
            except queue.Empty:
                return
            proc.stdin.write(json.dumps(terms) + "\n")
            proc.stdin.flush()
            pgn, error = [], None
            for line in proc.stdout:
                if line.startswith("%end-of-game"):
                    break
                if line.startswith("%error"):
                    error = line[7:].strip()
                elif not line.startswith("%"):
                    pgn.append(line)
            done(index, "".join(pgn), error)
    finally:
        proc.stdin.close()
        proc.wait()


def replay(program, games, chosen, path, jobs, max_plies):
    kept = {}
    if os.path.exists(path):
        for tags, _ in read_games(path):
            kept[int(tags["Site"].split()[1]) - 1] = True
    todo = queue.Queue()
    for i in chosen:
        if i not in kept:
            tags, moves = games[i]
            todo.put((i, replay_terms(i, tags, moves, max_plies)))
    total, lock = todo.qsize(), threading.Lock()
    count = [0]

    def done(index, pgn, error):
        with lock:
            count[0] += 1
            if error:
                print(f"game {index + 1}: {error}", file=sys.stderr)
                return
            with open(path, "a") as f:
                f.write(pgn)
            print(f"replayed {count[0]}/{total}: game {index + 1}", file=sys.stderr)

    threads = [threading.Thread(target=worker, args=(program, todo, done)) for _ in range(jobs)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


class Engine:
    def __init__(self):
        self.p = subprocess.Popen([ENGINE], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def send(self, text):
        self.p.stdin.write(text + "\n")
        self.p.stdin.flush()

    def white_scores(self, moves):
        """White's score after each ply, at the judge's depth."""
        self.send("ucinewgame")
        scores = []
        for k in range(1, len(moves) + 1):
            self.send("position startpos moves " + " ".join(moves[:k]))
            self.send(f"go depth {DEPTH}")
            score = None
            for line in self.p.stdout:
                m = re.search(r"score (cp|mate) (-?\d+)", line)
                if m:
                    v = int(m.group(2))
                    score = v if m.group(1) == "cp" else (MATE if v > 0 else -MATE)
                if line.startswith("bestmove"):
                    break
            score = score if score is not None else 0
            scores.append(score if k % 2 == 0 else -score)  # the side to move is White after an even ply
        return scores


def scores_of(replays, cache_path):
    cache = json.load(open(cache_path)) if os.path.exists(cache_path) else {}
    engine = Engine()
    for i, (tags, moves) in enumerate(replays):
        key = tags["Site"] + " " + " ".join(moves)
        if key not in cache:
            cache[key] = engine.white_scores(moves)
            print(f"scored {i + 1}/{len(replays)}", file=sys.stderr)
            json.dump(cache, open(cache_path, "w"))
    engine.send("quit")
    return [cache[tags["Site"] + " " + " ".join(moves)] for tags, moves in replays]


def verdict(scores, margin, plies, honoured):
    """The first win the rule gives: (ply, "1-0"/"0-1"), or None."""
    ahead = {1: 0, -1: 0}
    for ply, s in enumerate(scores, 1):
        for side in (1, -1):
            ahead[side] = ahead[side] + 1 if side * s >= margin else 0
            if ahead[side] >= plies and honoured(side):
                return ply, "1-0" if side == 1 else "0-1"
    return None


def as_played(path):
    games = read_games(path)
    scores = scores_of(games, path + ".scores.json")
    strong = [min(int(t.get("WhiteElo") or 0), int(t.get("BlackElo") or 0)) >= 2200 for t, _ in games]
    print(f"{len(games)} games of {path}, {sum(strong)} of them strong")
    print(f"{'rule':28} {'games':>6} {'ends':>5} {'wrong':>6} {'plies saved':>12}")
    for group in (True, False):
        rows = [(t["Result"], s, len(m)) for (t, m), s, g in zip(games, scores, strong) if g == group]
        for margin, plies in ((600, 12), (400, 8), (300, 8), (200, 8)):
            ended = wrong = saved = 0
            for result, s, length in rows:
                v = verdict(s, margin, plies, lambda side: True)
                if v and v[0] < length:
                    ended += 1
                    wrong += v[1] != result
                    saved += length - v[0]
            total = max(sum(r[2] for r in rows), 1)
            rule = f"{margin / 100:g} pawns for {plies} plies, {'strong' if group else 'others'}"
            print(f"{rule:28} {len(rows):6d} {ended:5d} {wrong:6d} {100 * saved / total:11.1f}%")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("pgn")
    ap.add_argument("--program", default="build/ai-players")
    ap.add_argument("--replays", default="adjudication-replays.pgn")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--sample", type=int, default=0, help="replay this many adjudicated games at random (0: all)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--max-plies", type=int, default=400)
    ap.add_argument("--no-play", action="store_true", help="only score the replays already in --replays")
    ap.add_argument("--as-played", action="store_true", help="try looser win rules on the games as they were played")
    args = ap.parse_args()
    if args.as_played:
        return as_played(args.pgn)

    games = read_games(args.pgn)
    adjudicated = [i for i, (t, _) in enumerate(games) if t.get("Termination") == "adjudication"
                   and t.get("Result") in ("1-0", "0-1")]
    chosen = adjudicated
    if args.sample:
        chosen = sorted(random.Random(args.seed).sample(adjudicated, min(args.sample, len(adjudicated))))
    if args.no_play:
        chosen = sorted(int(t["Site"].split()[1]) - 1 for t, _ in read_games(args.replays))
    else:
        replay(args.program, games, chosen, args.replays, args.jobs, args.max_plies)

    replays = [(t, m) for t, m in read_games(args.replays) if int(t["Site"].split()[1]) - 1 in set(chosen)]
    scores = scores_of(replays, args.replays + ".scores.json")
    rows = []
    for (tags, moves), s in zip(replays, scores):
        original = games[int(tags["Site"].split()[1]) - 1][0]
        rows.append((original["White"], original["Black"], tags["Result"], s, len(moves)))
    print(f"{len(rows)} adjudicated games of {args.pgn} played out (of {len(adjudicated)}); "
          f"{sum(1 for r in rows if r[2] == '1/2-1/2')} ended drawn, "
          f"{sum(1 for r in rows if r[4] >= args.max_plies)} at the {args.max_plies}-ply limit")
    whose = {
        "any lead": lambda w, b: lambda side: True,
        "not a beginner's lead over a beginner": lambda w, b: lambda side: not (
            w in BEGINNERS and b in BEGINNERS),
    }
    print(f"{'rule':44} {'ends':>5} {'wrong':>6} {'error':>7} {'plies saved':>12}")
    for name, make in whose.items():
        for margin in (600, 800, 1000, 1500):
            for plies in (8, 12, 16, 24):
                ended = wrong = saved = 0
                for w, b, result, s, length in rows:
                    v = verdict(s, margin, plies, make(w, b))
                    if v:
                        ended += 1
                        wrong += v[1] != result
                        saved += length - v[0]
                total = sum(r[4] for r in rows)
                rule = f"{margin / 100:g} pawns for {plies} plies, {name}"
                print(f"{rule:44} {ended:5d} {wrong:6d} {100 * wrong / max(ended, 1):6.1f}% {100 * saved / total:11.1f}%")


if __name__ == "__main__":
    main()
