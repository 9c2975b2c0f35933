#!/usr/bin/python3
"""Load on `ai-players serve` over loopback: concurrent games of one persona,
each playing a bounded number of moves. Reports moves per second and the time
of POST /moves beyond the engines' own work (the persona's reply and the
preview, as the server reports them), i.e. the server's own share.

usage: serve_load.py [--program build/ai-players] [--games 16] [--moves 20]
                     [--persona Gnome] [--no-preview] [--time-limit 300]
"""
import argparse
import http.client
import queue
import subprocess
import threading
import time

from serve_api import caller


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def play(port, persona, moves, deadline, samples, errors):
    call = caller(port, conn=http.client.HTTPConnection("127.0.0.1", port, timeout=120))

    try:
        state = call("POST", "/api/games", {"persona": persona})
        game = f"/api/games/{state['id']}"
        for i in range(moves):
            if state["result"] or time.monotonic() > deadline:
                break
            move = state["legal"][i % len(state["legal"])]
            started = time.perf_counter()
            state = call("POST", game + "/moves", {"move": move})
            total_ms = (time.perf_counter() - started) * 1000
            engines_ms = state.get("preview_ms", 0) + (state["reply"] or {}).get("think_ms", 0)
            samples.append((total_ms, max(0.0, total_ms - engines_ms), 2 if state["reply"] else 1))
        call("DELETE", game)
    except Exception as e:  # reported at the end; the other games go on
        errors.append(str(e))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/ai-players")
    parser.add_argument("--games", type=int, default=16)
    parser.add_argument("--moves", type=int, default=20)
    parser.add_argument("--persona", default="Gnome")
    parser.add_argument("--no-preview", action="store_true")
    parser.add_argument("--time-limit", type=float, default=300)
    args = parser.parse_args()

    command = [args.program, "serve", "--port", "0", "--max-games", str(args.games)]
    if args.no_preview:
        command.append("--no-preview")
    server = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    try:
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(server.stdout.readline()), daemon=True).start()
        url = next(w for w in lines.get(timeout=30).split() if w.startswith("http://"))
        port = int(url.rstrip("/").rsplit(":", 1)[1])

        samples, errors = [], []
        deadline = time.monotonic() + args.time_limit
        started = time.perf_counter()
        threads = [threading.Thread(target=play, args=(port, args.persona, args.moves, deadline, samples, errors))
                   for _ in range(args.games)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        elapsed = time.perf_counter() - started
    finally:
        server.terminate()
        server.wait(timeout=30)

    if not samples:
        raise SystemExit(f"no moves were played: {errors}")
    totals = [s[0] for s in samples]
    own = [s[1] for s in samples]
    plies = sum(s[2] for s in samples)
    print(f"{args.games} games of {args.persona}{' without preview' if args.no_preview else ' with preview'}, "
          f"{len(samples)} POST /moves in {elapsed:.1f} s")
    print(f"moves per second (yours and the persona's): {plies / elapsed:.1f}")
    print(f"POST /moves total:        p50 {percentile(totals, 50):7.1f} ms   p99 {percentile(totals, 99):7.1f} ms")
    print(f"beyond the engines' work: p50 {percentile(own, 50):7.1f} ms   p99 {percentile(own, 99):7.1f} ms")
    if errors:
        print(f"{len(errors)} games failed; first: {errors[0]}")
        raise SystemExit(1)


if __name__ == "__main__":
    main()
