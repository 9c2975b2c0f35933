#!/usr/bin/env python3
"""How far `ai-players review` agrees with a deep search.

For every move of the games given, a reference judgement is computed here,
straight from Stockfish over UCI (no code of the program's): the best move at
--ref-depth, then the move played alone at the same depth; the loss is the
best score minus the played score, scores capped at +-1000 cp, mates as
1000; marks at 50/100/300 cp, none for a move that leaves its player 5 pawns
ahead. Then the program reviews the same files (its default search unless
flags are passed after --) and its marks, read back from its annotated PGN,
are compared move by move.

    bench/review_agreement.py --program build/ai-players GAMES.pgn... [-- --depth 12]

References are kept in --cache (default ~/.cache/ai-players/review-reference) so that a
second run only times the program. Needs pgn-extract and stockfish.
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import time

MARKS = ["good", "inaccuracy", "mistake", "blunder"]
NAG_MARK = {"$6": 1, "$2": 2, "$4": 3}
CAP = 1000


def capped(kind, value):
    if kind == "mate":
        return CAP if value > 0 else -CAP
    return max(-CAP, min(CAP, value))


def mark_of(loss, played):
    if played >= 500:
        return 0
    return 3 if loss >= 300 else 2 if loss >= 100 else 1 if loss >= 50 else 0


def games_in(path):
    """[(tags, start FEN or None, [uci moves])] through pgn-extract."""
    out = subprocess.run(["pgn-extract", "-Wuci", "-s", "--nochecks", path], capture_output=True, text=True,
                         check=True, env=dict(os.environ, PATH=os.environ["PATH"] + ":/usr/games")).stdout
    games, tags, moves = [], {}, []
    for line in out.splitlines() + ["[End"]:
        m = re.match(r'\[(\w+) "(.*)"\]', line)
        if (m or line.startswith("[End")) and moves:
            games.append((tags, tags.get("FEN"), moves))
            tags, moves = {}, []
        if m:
            tags[m.group(1)] = m.group(2)
        elif line.strip() and not line.startswith("["):
            moves += [t.lower() for t in line.split() if re.fullmatch(r"[a-h][1-8][a-h][1-8][qrbnQRBN]?", t)]
    return games


class Engine:
    def __init__(self, path="/usr/games/stockfish"):
        self.p = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.send("uci")
        self.wait("uciok")
        self.send("setoption name Hash value 64")

    def send(self, line):
        self.p.stdin.write(line + "\n")

    def wait(self, word):
        for line in self.p.stdout:
            if line.startswith(word):
                return line
        raise RuntimeError("the engine ended")

    def new_game(self):
        self.send("ucinewgame")
        self.send("isready")
        self.wait("readyok")

    def search(self, position, depth, moves=None):
        """(kind, value, best move) of the position, mover's view."""
        self.send(position)
        self.send(f"go depth {depth}" + (" searchmoves " + " ".join(moves) if moves else ""))
        last = None
        for line in self.p.stdout:
            if line.startswith("info") and " score " in line and " pv " in line:
                last = line
            elif line.startswith("bestmove"):
                words = last.split()
                at = words.index("score")
                return words[at + 1], int(words[at + 2]), line.split()[1]
        raise RuntimeError("the engine ended")


def reference(game, depth):
    """Per move: loss and mark at `depth`, the way the program defines them."""
    _, fen, moves = game
    engine = Engine()
    engine.new_game()
    base = f"position fen {fen}" if fen else "position startpos"
    out = []
    for i, played in enumerate(moves):
        position = base + (" moves " + " ".join(moves[:i]) if i else "")
        kind, value, best = engine.search(position, depth)
        best_score = played_score = capped(kind, value)
        if best != played:
            kind, value, _ = engine.search(position, depth, [played])
            played_score = capped(kind, value)
        loss = max(0, best_score - played_score)
        out.append({"loss": loss, "mark": mark_of(loss, played_score), "best": best})
    engine.p.kill()
    return out


def cached_references(games, depth, cache, jobs):
    os.makedirs(cache, exist_ok=True)

    def path_of(game):
        key = hashlib.sha1(json.dumps([game[1], game[2], depth, 1]).encode()).hexdigest()[:16]
        return os.path.join(cache, f"ref-d{depth}-{key}.json")

    todo = [g for g in games if not os.path.exists(path_of(g))]
    if todo:
        print(f"computing the depth-{depth} reference of {len(todo)} game(s)...", file=sys.stderr)
        with concurrent.futures.ProcessPoolExecutor(jobs) as pool:
            for game, ref in zip(todo, pool.map(reference, todo, [depth] * len(todo))):
                with open(path_of(game), "w") as f:
                    json.dump(ref, f)
    return [json.load(open(path_of(g))) for g in games]


def marks_of_annotated(path):
    """Per game, the mark of every move, from the NAGs of review's --out."""
    games, text = [], ""
    for line in open(path).read().splitlines() + ["[Event"]:
        if line.startswith("[Event") and text.strip():
            games.append(text)
            text = ""
        elif not line.startswith("["):
            text += " " + line
    out = []
    for t in games:
        t = re.sub(r"\{[^}]*\}", " ", t)
        while re.search(r"\([^()]*\)", t):
            t = re.sub(r"\([^()]*\)", " ", t)
        marks = []
        for tok in t.split():
            if tok in NAG_MARK:
                marks[-1] = NAG_MARK[tok]
            elif not re.fullmatch(r"\d+\.+|1-0|0-1|1/2-1/2|\*|\$\d+", tok):
                marks.append(0)
        out.append(marks)
    return out


def compare(ref, marks):
    same = sum(1 for r, m in zip(ref, marks) if r["mark"] == m)
    false_blunders = sum(1 for r, m in zip(ref, marks) if m == 3 and r["loss"] < 100)
    missed = sum(1 for r, m in zip(ref, marks) if r["mark"] == 3 and m < 2)
    return same, false_blunders, missed


def main():
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--program", default="build/ai-players")
    ap.add_argument("--ref-depth", type=int, default=18)
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2, help="engines for the reference")
    ap.add_argument("--cache", default=os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                                                    "ai-players", "review-reference"))
    ap.add_argument("--label", default="", help="a name for the program's search in the table")
    ap.add_argument("pgn", nargs="+")
    args = ap.parse_args(argv)

    rows, totals = [], [0, 0, 0, 0, 0.0]
    for path in args.pgn:
        games = games_in(path)
        refs = cached_references(games, args.ref_depth, args.cache, args.jobs)
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "annotated.pgn")
            started = time.monotonic()
            subprocess.run([args.program, "review", path, "--out", out] + extra, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            seconds = time.monotonic() - started
            marks = marks_of_annotated(out)
        if len(marks) != len(games) or any(len(m) != len(g[2]) for m, g in zip(marks, games)):
            sys.exit(f"{path}: the annotated games do not match the games read")
        for (tags, _, moves), ref, mk in zip(games, refs, marks):
            same, fb, missed = compare(ref, mk)
            name = f"{tags.get('White', '?')} - {tags.get('Black', '?')}"
            rows.append((name[:40], len(moves), same, fb, missed))
            for i, v in enumerate((len(moves), same, fb, missed)):
                totals[i] += v
        totals[4] += seconds
        rows.append((f"  ({os.path.basename(path)} reviewed in {seconds:.1f} s)", None, None, None, None))

    print(f"Program: {args.label or ' '.join(extra) or 'default search'}; reference: Stockfish depth {args.ref_depth}")
    print(f"{'game':<40} {'moves':>5} {'same mark':>9} {'false ??':>8} {'missed ??':>9}")
    for name, n, same, fb, missed in rows:
        if n is None:
            print(name)
        else:
            print(f"{name:<40} {n:>5} {100 * same / n:>8.1f}% {fb:>8} {missed:>9}")
    n, same, fb, missed, seconds = totals
    print(f"{'all':<40} {n:>5} {100 * same / n:>8.1f}% {fb:>8} {missed:>9}")
    print(f"review time: {seconds:.1f} s for {n} moves, {seconds / n:.2f} s per move")


if __name__ == "__main__":
    main()
