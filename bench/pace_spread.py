#!/usr/bin/python3
"""How long the page waits for each reply at a person's pace (serve's
default): REPLIES replies of each persona over loopback, the same opening
moves each time, with the wall time the page sees and the kind of move.

usage: pace_spread.py [--program build/ai-players] [--personas Gnome Verevovera] [--replies 20]
"""
import argparse
import queue
import statistics
import subprocess
import threading
import time

from serve_api import caller

OPENING = ["e2e4", "g1f3", "f1c4", "b1c3", "d2d3", "e1g1", "c1e3", "a2a3", "h2h3", "d1d2"]


def own_move(state, i):
    """Takes back on the square just taken on when it can (so that recaptures come up), else the opening."""
    legal = state["legal"]
    last = state["moves_coord"][-1] if state["moves_coord"] else ""
    retake = [m for m in legal if last and m[2:4] == last[2:4]]
    return retake[0] if retake else next((m for m in OPENING[i:] if m in legal), legal[0])


def waits(call, persona, replies):
    times = []
    while len(times) < replies:
        state = call("POST", "/api/games", {"persona": persona})
        game = f"/api/games/{state['id']}"
        for i in range(40):
            if state["result"] or len(times) >= replies:
                break
            started = time.perf_counter()
            state = call("POST", game + "/moves", {"move": own_move(state, i)})
            if state["reply"]:
                times.append(time.perf_counter() - started - state.get("preview_ms", 0) / 1000)
        call("DELETE", game)
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/ai-players")
    parser.add_argument("--personas", nargs="+", default=["Gnome", "Verevovera"])
    parser.add_argument("--replies", type=int, default=20)
    args = parser.parse_args()
    server = subprocess.Popen([args.program, "serve", "--port", "0", "--no-db"], stdout=subprocess.PIPE, text=True)
    try:
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(server.stdout.readline()), daemon=True).start()
        url = next(w for w in lines.get(timeout=30).split() if w.startswith("http://"))
        call = caller(int(url.rstrip("/").rsplit(":", 1)[1]))
        print(f"{'persona':<12} {'replies':>7} {'least (s)':>10} {'median':>7} {'most':>6} {'spread':>7}")
        for persona in args.personas:
            t = waits(call, persona, args.replies)
            print(f"{persona:<12} {len(t):>7} {min(t):>10.2f} {statistics.median(t):>7.2f} {max(t):>6.2f} "
                  f"{max(t) - min(t):>7.2f}")
    finally:
        server.terminate()
        server.wait(timeout=20)


if __name__ == "__main__":
    main()
