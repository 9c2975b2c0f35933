#!/usr/bin/env python3
"""Mutation sample: how many small planted faults does the test suite catch?

Draws N seeded mutants (a flipped comparison, a constant off by one, a dropped
statement, && for ||, true for false) over the code lines of ai_players/ and
apps/, builds each in a scratch copy of the tree and runs the whole suite
there. A mutant is caught when it builds and a test fails; one that does not
build is redrawn. The working tree is only read.

  mutants.py [N] [SEED]        a fresh sample (N=40, SEED=1 by default)
  mutants.py --rerun SEED [ID...]  the survivors of that sample (or those named) again, after the tests changed
  mutants.py --equivalent SEED ID...  marks survivors that behave as the original (left out of the rates)

The scratch copy, its build and the results (results-SEED.tsv) live in
$MUTANTS_DIR (default /tmp/ai_players-mutants). While working on one area,
MUTANTS_ONLY=<path prefix> draws there only and MUTANTS_TESTS=<ctest regex>
runs only those tests: quick, but not a figure to report.
"""
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
WORK = os.environ.get("MUTANTS_DIR", "/tmp/ai_players-mutants")
SRC = os.path.join(WORK, "src")
BUILD = os.path.join(WORK, "build")
FOLDERS = ("ai_players", "apps")
COPIED = ("ai_players", "apps", "tests", "examples", "bench", "cmake", "data", "web", "fuzz", "docs", "scripts",
          "README.md", "CMakeLists.txt")

# Lines that only declare or arrange: nothing there to mutate usefully.
SKIP = re.compile(r"^\s*(#|//|\*|/\*|namespace\b|using\b|template\b|class\b|struct\b|enum\b|public:|private:|"
                  r"protected:|static_assert\b|friend\b|typedef\b|[{}]+;?\s*$)")
# Binary operators stand between spaces in this code base; templates and streams do not.
SWAPS = [(" <= ", " < "), (" >= ", " > "), (" < ", " <= "), (" > ", " >= "), (" == ", " != "),
         (" != ", " == "), (" && ", " || "), (" || ", " && ")]
STATEMENT = re.compile(r"^\s*(?!return\b|const\b|auto\b|static\b|throw\b|case\b|default\b|else\b)"
                       r"[A-Za-z_][\w:.\->\[\]*]*\s*(\(|=|\+=|-=|\*=|/=|<<|\+\+|--|\.|->|\[)")


def blank_strings(line):
    """The line with string and character literals blanked and its // comment cut."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("__")
                i += 2
                continue
            out.append(c if c == quote else "_")
            quote = None if c == quote else quote
        elif c in "\"'" and not (c == "'" and i > 0 and line[i - 1].isalnum()):
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def mutations(code):
    """(column, old, new, what) for every mutation the code part of a line allows."""
    found = []
    for old, new in SWAPS:
        for m in re.finditer(re.escape(old), code):
            found.append((m.start(), old, new, f"'{old.strip()}' -> '{new.strip()}'"))
    for word, other in (("true", "false"), ("false", "true")):
        for m in re.finditer(rf"\b{word}\b", code):
            found.append((m.start(), word, other, f"{word} -> {other}"))
    for m in re.finditer(r"(?<![\w.'])\d+(?![\w.'])", code):
        n = int(m.group())
        for v in (n + 1, n - 1) if n > 0 else (1,):
            found.append((m.start(), m.group(), str(v), f"{n} -> {v}"))
    s = code.strip()
    if s.endswith(";") and s.count("(") == s.count(")") and (STATEMENT.match(code) or s in ("break;", "continue;")):
        found.append((0, code, "", "statement dropped"))
    return found


def candidates():
    """From the scratch copy, so that editing the working tree meanwhile changes nothing."""
    lines = []
    for folder in FOLDERS:
        for d, _, files in os.walk(os.path.join(SRC, folder)):
            for f in sorted(files):
                if not f.endswith((".cpp", ".h")):
                    continue
                path = os.path.relpath(os.path.join(d, f), SRC)
                in_block = False
                with open(os.path.join(SRC, path)) as fh:
                    for no, text in enumerate(fh, 1):
                        text = text.rstrip("\n")
                        if in_block:
                            in_block = "*/" not in text
                            continue
                        if text.lstrip().startswith("/*"):
                            in_block = "*/" not in text
                            continue
                        if not text.strip() or SKIP.match(text):
                            continue
                        code = blank_strings(text)
                        if mutations(code) and path.startswith(os.environ.get("MUTANTS_ONLY", "")):
                            lines.append((path, no))
    return sorted(lines)


def sync():
    """Makes the scratch copy equal to the working tree; a changed file gets a new time, so it rebuilds."""
    for top in COPIED:
        src = os.path.join(ROOT, top)
        walk = [(os.path.dirname(src), [], [top])] if os.path.isfile(src) else os.walk(src)
        for d, _, files in walk:
            for f in files:
                a = os.path.join(d, f)
                b = os.path.join(SRC, os.path.relpath(a, ROOT))
                with open(a, "rb") as fh:
                    data = fh.read()
                if os.path.exists(b):
                    with open(b, "rb") as fh:
                        if fh.read() == data:
                            continue
                os.makedirs(os.path.dirname(b), exist_ok=True)
                with open(b, "wb") as fh:
                    fh.write(data)
                os.chmod(b, os.stat(a).st_mode)


def run(cmd, timeout):
    """The exit code; on a timeout or an interrupt the command's whole process group is ended."""
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        return p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return 124
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()


def end_leftovers():
    """Ends what a mutant left running (a supervisor that spins, say): processes of the scratch build only."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            if os.readlink(f"/proc/{pid}/exe").startswith(BUILD + "/"):
                os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass


def build():
    return run(["cmake", "--build", BUILD, "-j2"], 1800) == 0


def suite_fails():
    # Each test already has a 60 s limit; the first failure is enough.
    only = ["-R", os.environ["MUTANTS_TESTS"]] if os.environ.get("MUTANTS_TESTS") else []
    return run(["ctest", "--test-dir", BUILD, "-j2", "--timeout", "60", "--stop-on-failure"] + only, 1800) != 0


def find_line(lines, no, text):
    """The line `no` if it still reads `text`, else the nearest line that does (the file may have moved on)."""
    for d in range(0, len(lines)):
        for k in (no - 1 - d, no - 1 + d):
            if 0 <= k < len(lines) and lines[k].rstrip("\n") == text:
                return k
    return None


def try_mutant(path, no, col, old, new, original_line):
    """'killed', 'survived', 'unbuildable' or 'stale'; the scratch file is restored whatever happens."""
    target = os.path.join(SRC, path)
    with open(target) as fh:
        original = fh.read()
    lines = original.splitlines(keepends=True)
    k = find_line(lines, no, original_line)
    if k is None:
        return "stale"
    line = lines[k]
    if new == "":  # a dropped statement
        lines[k] = re.match(r"\s*", line).group() + ";\n"
    else:
        lines[k] = line[:col] + new + line[col + len(old):]
    try:
        with open(target, "w") as fh:
            fh.write("".join(lines))
        if not build():
            return "unbuildable"
        return "killed" if suite_fails() else "survived"
    finally:
        end_leftovers()
        with open(target, "w") as fh:
            fh.write(original)


def folder_of(path):
    parts = path.split("/")
    return parts[0], "/".join(parts[:2]) if len(parts) > 2 else parts[0]


def report(results):
    """Kill rates overall, per folder and per top-level subfolder; then the survivors."""
    groups = {}
    for r in results:
        if r["status"] not in ("killed", "survived"):
            continue
        top, sub = folder_of(r["file"])
        for key in ("all", top, sub):
            k, n = groups.get(key, (0, 0))
            groups[key] = (k + (r["status"] == "killed"), n + 1)
    print(f"\n{'folder':<24} caught")
    for key in sorted(groups, key=lambda g: (g != "all", g.split("/")[0], "/" in g, g)):
        k, n = groups[key]
        print(f"{('  ' if '/' in key else '') + key:<24} {k}/{n} ({100 * k / n:.0f} %)")
    for kind in ("survived", "equivalent"):
        listed = [r for r in results if r["status"] == kind]
        print(f"\n{'survivors' if kind == 'survived' else 'equivalent, not counted'} ({len(listed)}):")
        for r in listed:
            print(f"  #{r['id']} {r['file']}:{r['line']}  {r['what']}    {r['text'].strip()}")


FIELDS = ("id", "file", "line", "col", "status", "what", "old", "new", "text")


def save(path, results):
    with open(path, "w") as fh:
        for r in results:
            fh.write("\t".join(str(r[f]).replace("\t", "\\t") for f in FIELDS) + "\n")


def load(path):
    out = []
    with open(path) as fh:
        for row in fh:
            r = dict(zip(FIELDS, (v.replace("\\t", "\t") for v in row.rstrip("\n").split("\t"))))
            r["line"], r["col"] = int(r["line"]), int(r["col"])
            out.append(r)
    return out


def prepare():
    os.makedirs(SRC, exist_ok=True)
    sync()
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        # No debug information and lld: a mutant's rebuild is one object and quick links.
        subprocess.run(["cmake", "-S", SRC, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DAI_PLAYERS_BUILD_BENCH=OFF", "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld"],
                       check=True, stdout=subprocess.DEVNULL)
    print("building the unmutated tree ...", flush=True)
    if not build():
        sys.exit("the unmutated tree does not build")
    if suite_fails():
        subprocess.run(["ctest", "--test-dir", BUILD, "--rerun-failed", "--output-on-failure"])
        sys.exit("the unmutated tree fails its tests: fix that first")


def main(argv):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that `finally` restores the scratch file
    if argv[:1] == ["--equivalent"]:
        results_file = os.path.join(WORK, f"results-{int(argv[1])}.tsv")
        results = load(results_file)
        for r in results:
            if r["id"] in argv[2:] and r["status"] == "survived":
                r["status"] = "equivalent"
        save(results_file, results)
        return report(results)
    rerun = argv[:1] == ["--rerun"]
    if rerun:
        seed = int(argv[1])
    else:
        n = int(argv[0]) if argv else 40
        seed = int(argv[1]) if len(argv) > 1 else 1
    results_file = os.path.join(WORK, f"results-{seed}.tsv")
    prepare()
    started = time.time()
    if rerun:
        results = load(results_file)
        for r in results:
            if r["status"] != "survived" or (argv[2:] and r["id"] not in argv[2:]):
                continue
            text = r["text"]
            r["status"] = try_mutant(r["file"], r["line"], r["col"], r["old"], r["new"], text)
            print(f"#{r['id']} {r['file']}:{r['line']} {r['what']}: {r['status']}", flush=True)
            save(results_file, results)
    else:
        rng = random.Random(seed)
        pool = candidates()
        results, tried, drawn = [], set(), 0
        print(f"{len(pool)} mutable lines; drawing {n} mutants with seed {seed}", flush=True)
        while sum(r["status"] != "unbuildable" for r in results) < n and len(tried) < len(pool) * 4:
            path, no = rng.choice(pool)
            with open(os.path.join(SRC, path)) as fh:
                text = fh.read().splitlines()[no - 1]
            col, old, new, what = rng.choice(mutations(blank_strings(text)))
            if (path, no, col, new) in tried:
                continue
            tried.add((path, no, col, new))
            drawn += 1
            status = try_mutant(path, no, col, old, new, text)
            results.append({"id": drawn, "file": path, "line": no, "col": col, "status": status, "what": what,
                            "old": old, "new": new, "text": text})
            print(f"#{drawn} {path}:{no} {what}: {status}", flush=True)
            save(results_file, results)
    print(f"\n{'rerun of' if rerun else 'sample'}: seed {seed}, {time.time() - started:.0f} s; results in {results_file}")
    report(results)


if __name__ == "__main__":
    main(sys.argv[1:])
