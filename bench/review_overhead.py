#!/usr/bin/env python3
"""What `ai-players review` costs over the bare searches it asks for.

A 60-move persona game (the one bench/review_speed.sh reviews) is reviewed by
the program, then the same searches are run straight against Stockfish from
here: per move the best line at the depth, then the move played alone when it
is not the best, JOBS engines taking every JOBS-th move, each with the
review's hash. Both are timed from the start of the engines to the last
answer; the ratio is the review's overhead (the marks as they arrive, the
progress, the PGN and the graph).

    bench/review_overhead.py [--program build/ai-players] [--depth 16] [--jobs 2] [--runs 3]

Prints the median of RUNS of each and their ratio. Needs pgn-extract and stockfish.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from review_agreement import Engine, games_in  # noqa: E402

REVIEW_HASH_MB = 64  # apps/review/review_engine.h


def bare(moves, fen, depth, jobs):
    """The review's searches with nothing around them; seconds."""
    base = f"position fen {fen}" if fen else "position startpos"

    def worker(first):
        engine = Engine()
        engine.send(f"setoption name Hash value {REVIEW_HASH_MB}")
        engine.new_game()
        for i in range(first, len(moves), jobs):
            position = base + (" moves " + " ".join(moves[:i]) if i else "")
            _, _, best = engine.search(position, depth)
            if best != moves[i]:
                engine.search(position, depth, [moves[i]])
        engine.p.kill()

    start = time.monotonic()
    threads = [threading.Thread(target=worker, args=(k,)) for k in range(jobs)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.monotonic() - start


def reviewed(program, path, depth, jobs):
    start = time.monotonic()
    subprocess.run([program, "review", path, "--depth", str(depth), "--jobs", str(jobs)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/ai-players")
    parser.add_argument("--depth", type=int, default=16)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--runs", type=int, default=3)
    a = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "game.pgn")
        subprocess.run([a.program, "match", "--white", "Gremlin", "--black", "Gnome", "--seed", "2", "--max-plies", "120",
                        "--pgn", path], check=True, capture_output=True)
        _, fen, moves = games_in(path)[0]
        review = [reviewed(a.program, path, a.depth, a.jobs) for _ in range(a.runs)]
        searches = [bare(moves, fen, a.depth, a.jobs) for _ in range(a.runs)]
    r, s = statistics.median(review), statistics.median(searches)
    print(f"{len(moves)} plies at depth {a.depth}, {a.jobs} engines, median of {a.runs}:")
    print(f"  ai-players review  {r:7.1f} s")
    print(f"  bare searches      {s:7.1f} s")
    print(f"  ratio              {r / s:7.3f}")


if __name__ == "__main__":
    main()
