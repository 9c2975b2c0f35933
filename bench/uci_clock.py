#!/usr/bin/env python3
"""How personas keep to the clock behind `ai-players uci`, measured as a GUI sees it.

  bench/uci_clock.py budgets AI_PLAYERS [PERSONA...]   time from go to bestmove of a
        fresh process's first `go movetime 100` (after uci and isready, as GUIs start),
        under `go movetime 1000`, `go wtime 60000 btime 60000 winc 0 binc 0` and
        `go wtime 400 btime 400`, and from stop to bestmove after `go infinite`, on fixed
        middlegame positions; counts the fallbacks said in info strings after moves
        (a set-up position without moves has its own fallback rule)
  bench/uci_clock.py game AI_PLAYERS PERSONA [SECONDS]  one whole game at SECONDS+0
        (default 60) against Stockfish at Skill Level 0, the clock kept here as a GUI
        keeps it; says whether the persona lost on time

Talks UCI over pipes the way GUIs and bots do; needs only python3 and the engines.
"""
import subprocess
import sys
import threading
import queue
import time

STOCKFISH = "/usr/games/stockfish"
POSITIONS = [  # middlegames after the opening, as `position` commands
    "startpos moves e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 g8f6 e1g1 f8e7 f1e1 b7b5 a4b3 d7d6 c2c3 e8g8",
    "startpos moves d2d4 g8f6 c2c4 e7e6 b1c3 f8b4 e2e3 e8g8 f1d3 d7d5 g1f3 c7c5 e1g1 b8c6",
    "fen r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8",
]
PERSONAS = ["Talvo", "Isis", "Iduna", "Horus", "Hera", "Gremlin", "Gnome", "Diana", "Verevovera", "HOUD20c"]


class Uci:
    def __init__(self, argv):
        self.p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.q = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            self.q.put((time.monotonic(), line.strip()))
        self.q.put((time.monotonic(), None))

    def send(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()
        return time.monotonic()

    def until(self, prefix, timeout=600):
        end = time.monotonic() + timeout
        while True:
            t, line = self.q.get(timeout=max(0.001, end - time.monotonic()))
            if line is None:
                raise RuntimeError("the engine ended")
            if line.startswith(prefix):
                return t, line

    def close(self):
        try:
            self.send("quit")
            self.p.wait(5)
        except Exception:
            self.p.kill()


def budgets(exe, personas):
    gos = {"first 100": None, "movetime 1000": 1000, "wtime 60000 btime 60000 winc 0 binc 0": 2000,
           "wtime 400 btime 400": 400 / 30}
    print(f"{'persona':<12} {'first go 100':>13} {'movetime 1000':>14} {'60 s clock':>11} {'0.4 s clock':>12} "
          f"{'stop':>6} {'fallbacks':>10}   (ms)")
    worst_over = worst_stop = 0.0
    for name in personas:
        e = Uci([exe, "uci", "--persona", name])
        e.send("uci"); e.until("uciok")
        e.send("isready"); e.until("readyok")
        e.send("position " + POSITIONS[0])
        t0 = e.send("go movetime 100")
        t1, _ = e.until("bestmove")
        rows = {go: [] for go in gos}
        rows["first 100"].append((t1 - t0) * 1000)
        rows["stop"] = []
        fallbacks = 0
        for pos in POSITIONS:
            for go in list(gos)[1:]:
                e.send("position " + pos)
                t0 = e.send("go " + go)
                while True:
                    t1, line = e.until("")
                    # A set-up position without moves has no last move to answer: that fallback is the rule.
                    fallbacks += " moves " in pos and line.startswith("info string") and ", so it plays " in line
                    if line.startswith("bestmove"):
                        break
                rows[go].append((t1 - t0) * 1000)
            e.send("position " + pos)
            e.send("go infinite")
            time.sleep(0.3)
            t0 = e.send("stop")
            t1, _ = e.until("bestmove")
            rows["stop"].append((t1 - t0) * 1000)
        e.close()
        first, mt, clock, short, stop = (max(v) for v in rows.values())
        # HOUD20c hands the GUI's clock to its engine, which keeps to it in its own way.
        clocks = [] if name.startswith("HOUD20c") else [clock - 2000, short - 400 / 30]
        worst_over = max(worst_over, first - 100, mt - 1000, *clocks)
        worst_stop = max(worst_stop, stop)
        print(f"{name:<12} {first:>13.0f} {mt:>14.0f} {clock:>11.0f} {short:>12.0f} {stop:>6.0f} {fallbacks:>10}")
    print(f"largest overrun of a budget: {worst_over:.0f} ms; slowest stop: {worst_stop:.0f} ms")


def game(exe, persona, seconds):
    me = Uci([exe, "uci", "--persona", persona])
    sf = Uci([STOCKFISH])
    for e in (me, sf):
        e.send("uci"); e.until("uciok")
    sf.send("setoption name Skill Level value 0")
    for e in (me, sf):
        e.send("ucinewgame"); e.send("isready"); e.until("readyok")
    clock = {"persona": seconds * 1000.0, "stockfish": seconds * 1000.0}
    moves = []
    side = "persona"  # the persona has White
    result = None
    while len(moves) < 300:
        e = me if side == "persona" else sf
        e.send("position startpos moves " + " ".join(moves) if moves else "position startpos")
        wtime, btime = clock["persona"], clock["stockfish"]
        t0 = e.send(f"go wtime {int(wtime)} btime {int(btime)} winc 0 binc 0")
        t1, line = e.until("bestmove")
        clock[side] -= (t1 - t0) * 1000
        if clock[side] < 0:
            result = f"{side} lost on time after {len(moves)} plies"
            break
        move = line.split()[1]
        if move in ("0000", "(none)"):
            result = f"game over after {len(moves)} plies ({side} has no move)"
            break
        moves.append(move)
        side = "stockfish" if side == "persona" else "persona"
    me.close(); sf.close()
    print(result or f"stopped after {len(moves)} plies")
    print(f"clock left: persona {clock['persona'] / 1000:.1f} s, stockfish {clock['stockfish'] / 1000:.1f} s")
    return 0 if not result or "persona lost on time" not in result else 1


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "budgets":
        budgets(sys.argv[2], sys.argv[3:] or PERSONAS)
    elif len(sys.argv) >= 4 and sys.argv[1] == "game":
        sys.exit(game(sys.argv[2], sys.argv[3], float(sys.argv[4]) if len(sys.argv) > 4 else 60))
    else:
        print(__doc__)
        sys.exit(2)
