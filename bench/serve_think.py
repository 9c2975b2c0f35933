#!/usr/bin/python3
"""How long a person waits in `ai-players serve` with no options: the slow
personas' replies under the default think limit, and the time from
"move now" to the reply. One game per persona over loopback, the same
opening moves in each; every figure is the wall time the page would see.

usage: serve_think.py [--program build/ai-players] [--personas HOUD20c Verevovera]
                      [--moves 6] [--move-now-after 2]
"""
import argparse
import queue
import subprocess
import threading
import time

from serve_api import caller

OPENING = ["d2d4", "c2c4", "b1c3", "g1f3", "e2e3", "f1d3", "e1g1", "a2a3"]


def own_move(state, i):
    """The opening's next move when it is legal, else the first legal move."""
    legal = state["legal"]
    return next((m for m in OPENING[i:] if m in legal), legal[0])


def replies(call, persona, moves, move_now_after):
    """Wall times of each reply, and of each reply cut short by move-now after the given seconds."""
    waits, hurried = [], []
    for hurry in (False, True):
        state = call("POST", "/api/games", {"persona": persona})
        game = f"/api/games/{state['id']}"
        for i in range(moves):
            if state["result"]:
                break
            started = time.perf_counter()
            if hurry:
                timer = threading.Timer(move_now_after, lambda: call("POST", game + "/move-now"))
                timer.start()
            state = call("POST", game + "/moves", {"move": own_move(state, i)})
            wall = time.perf_counter() - started
            if hurry:
                timer.cancel()
                if wall > move_now_after:
                    hurried.append(wall - move_now_after)
            elif state["reply"] and state["reply"]["think_ms"] > 50:
                waits.append(wall)
        call("DELETE", game)
    return waits, hurried


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/ai-players")
    parser.add_argument("--personas", nargs="+", default=["HOUD20c", "Verevovera"])
    parser.add_argument("--moves", type=int, default=6)
    parser.add_argument("--move-now-after", type=float, default=2.0)
    args = parser.parse_args()

    server = subprocess.Popen([args.program, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(server.stdout.readline()), daemon=True).start()
        url = next(w for w in lines.get(timeout=30).split() if w.startswith("http://"))
        call = caller(int(url.rstrip("/").rsplit(":", 1)[1]))
        limit = call("GET", "/api/defaults")["think_limit_ms"]
        print(f"serve with no options: think limit {limit} ms a move")
        print(f"{'persona':<12} {'replies':>7} {'longest wait (s)':>17} {'move-now to reply (s): most':>28}")
        for persona in args.personas:
            waits, hurried = replies(call, persona, args.moves, args.move_now_after)
            longest = f"{max(waits):.2f}" if waits else "-"
            most = f"{max(hurried):.3f}" if hurried else "-"
            print(f"{persona:<12} {len(waits):>7} {longest:>17} {most:>28}")
    finally:
        server.terminate()
        server.wait(timeout=20)


if __name__ == "__main__":
    main()
