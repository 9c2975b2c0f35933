#!/usr/bin/env python3
"""Builds data/openings.pgn: well-known openings after 6 to 8 plies, each kept
only when Stockfish at depth 16 scores it within 0.5 pawns.

Usage: python3 scripts/make_openings.py build/ai-players > data/openings.pgn
The SAN comes from the program itself (its hidden game command plays the
moves as a book and stops at their end)."""
import json
import subprocess
import sys

OPENINGS = [
    ("Ruy Lopez", "e2e4 e7e5 g1f3 b8c6 f1b5 a7a6"),
    ("Italian Game", "e2e4 e7e5 g1f3 b8c6 f1c4 f8c5"),
    ("Two Knights Defence", "e2e4 e7e5 g1f3 b8c6 f1c4 g8f6"),
    ("Scotch Game", "e2e4 e7e5 g1f3 b8c6 d2d4 e5d4 f3d4"),
    ("Petrov Defence", "e2e4 e7e5 g1f3 g8f6 f3e5 d7d6"),
    ("Four Knights Game", "e2e4 e7e5 g1f3 b8c6 b1c3 g8f6"),
    ("Vienna Game", "e2e4 e7e5 b1c3 g8f6 f2f4 d7d5"),
    ("Philidor Defence", "e2e4 e7e5 g1f3 d7d6 d2d4 g8f6"),
    ("King's Gambit Declined", "e2e4 e7e5 f2f4 f8c5 g1f3 d7d6"),
    ("Sicilian, Najdorf", "e2e4 c7c5 g1f3 d7d6 d2d4 c5d4 f3d4 g8f6"),
    ("Sicilian, Open with Nc6", "e2e4 c7c5 g1f3 b8c6 d2d4 c5d4 f3d4"),
    ("Sicilian, Kan", "e2e4 c7c5 g1f3 e7e6 d2d4 c5d4 f3d4 a7a6"),
    ("Sicilian, Alapin", "e2e4 c7c5 c2c3 g8f6 e4e5 f6d5"),
    ("Sicilian, Closed", "e2e4 c7c5 b1c3 b8c6 g2g3 g7g6"),
    ("French, Winawer", "e2e4 e7e6 d2d4 d7d5 b1c3 f8b4"),
    ("French, Tarrasch", "e2e4 e7e6 d2d4 d7d5 b1d2 c7c5"),
    ("French, Advance", "e2e4 e7e6 d2d4 d7d5 e4e5 c7c5"),
    ("Caro-Kann, Classical", "e2e4 c7c6 d2d4 d7d5 b1c3 d5e4 c3e4 c8f5"),
    ("Caro-Kann, Advance", "e2e4 c7c6 d2d4 d7d5 e4e5 c8f5"),
    ("Scandinavian Defence", "e2e4 d7d5 e4d5 d8d5 b1c3 d5a5"),
    ("Pirc Defence", "e2e4 d7d6 d2d4 g8f6 b1c3 g7g6"),
    ("Modern Defence", "e2e4 g7g6 d2d4 f8g7 b1c3 d7d6"),
    ("Alekhine Defence", "e2e4 g8f6 e4e5 f6d5 d2d4 d7d6"),
    ("Queen's Gambit Declined", "d2d4 d7d5 c2c4 e7e6 b1c3 g8f6"),
    ("Queen's Gambit Accepted", "d2d4 d7d5 c2c4 d5c4 g1f3 g8f6"),
    ("Slav Defence", "d2d4 d7d5 c2c4 c7c6 g1f3 g8f6"),
    ("Nimzo-Indian Defence", "d2d4 g8f6 c2c4 e7e6 b1c3 f8b4"),
    ("Queen's Indian Defence", "d2d4 g8f6 c2c4 e7e6 g1f3 b7b6"),
    ("Bogo-Indian Defence", "d2d4 g8f6 c2c4 e7e6 g1f3 f8b4 c1d2"),
    ("King's Indian Defence", "d2d4 g8f6 c2c4 g7g6 b1c3 f8g7 e2e4 d7d6"),
    ("Gruenfeld Defence", "d2d4 g8f6 c2c4 g7g6 b1c3 d7d5"),
    ("Benoni Defence", "d2d4 g8f6 c2c4 c7c5 d4d5 e7e6"),
    ("Dutch Defence", "d2d4 f7f5 g2g3 g8f6 f1g2 g7g6"),
    ("London System", "d2d4 d7d5 c1f4 g8f6 e2e3 c7c5"),
    ("Catalan Opening", "d2d4 g8f6 c2c4 e7e6 g2g3 d7d5"),
    ("Colle System", "d2d4 d7d5 g1f3 g8f6 e2e3 e7e6"),
    ("Trompowsky Attack", "d2d4 g8f6 c1g5 e7e6 e2e4 h7h6"),
    ("English, Four Knights", "c2c4 e7e5 b1c3 g8f6 g1f3 b8c6"),
    ("English, Symmetrical", "c2c4 c7c5 b1c3 b8c6 g2g3 g7g6"),
    ("Reti Opening", "g1f3 d7d5 c2c4 e7e6 g2g3 g8f6"),
    ("King's Indian Attack", "g1f3 g8f6 g2g3 g7g6 f1g2 f8g7"),
    ("Bird Opening", "f2f4 d7d5 g1f3 g8f6 e2e3 g7g6"),
]


def score(engine, moves, depth=16):
    """Centipawns for the side to move after the moves."""
    engine.stdin.write(f"position startpos moves {moves}\ngo depth {depth}\n")
    engine.stdin.flush()
    cp = None
    for line in engine.stdout:
        words = line.split()
        if "score" in words:
            i = words.index("score")
            cp = int(words[i + 2]) if words[i + 1] == "cp" else 10000
        if line.startswith("bestmove"):
            return cp


def main():
    program = sys.argv[1]
    engine = subprocess.Popen(["/usr/games/stockfish"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    engine.stdin.write("uci\nsetoption name Threads value 1\nucinewgame\n")
    kept = 0
    print("% Balanced openings for ai-players tournaments: each kept only when Stockfish 15.1")
    print("% at depth 16 scores it within 0.5 pawns (the comment: White's side, in pawns).")
    print("% Made by scripts/make_openings.py.")
    print()
    for name, moves in OPENINGS:
        cp = score(engine, moves)
        white_cp = cp if len(moves.split()) % 2 == 0 else -cp
        if abs(cp) > 50:
            print(f"dropped {name}: {white_cp / 100:+.2f}", file=sys.stderr)
            continue
        plies = len(moves.split())
        terms = json.dumps({"white": "Talvo", "black": "Talvo", "seed": 1, "moves": moves.split(), "max_plies": plies})
        pgn = subprocess.run([program, "game-worker"], input=terms + "\n", capture_output=True, text=True,
                             check=True).stdout
        movetext = " ".join(l for l in pgn.splitlines() if l and not l.startswith("["))
        movetext = movetext[:movetext.index("{")].strip()
        print(f'[Opening "{name}"]')
        print()
        print(f"{movetext} {{{white_cp / 100:+.2f}}} *")
        print()
        kept += 1
    print(f"kept {kept} of {len(OPENINGS)}", file=sys.stderr)
    engine.stdin.write("quit\n")
    engine.stdin.flush()


if __name__ == "__main__":
    main()
