#!/usr/bin/python3
"""Runs the examples the README and the manual show and fails when the
program no longer prints what they say.

usage: scripts/check_docs.py PATH/TO/ai-players [FILE.md ...]   (default: README.md docs/*.md)

An example is a fenced block whose lines starting with "$ " are commands
(a trailing backslash continues one) and whose other lines are what they
print, standard output and standard error as a terminal shows them; a line
of just "..." stands for any number of lines, and "…" within a line for
any text (a time, say); spaces at the end of a line and blank lines at the
end of the output do not count. The line before the fence says what to do
with it:

    <!-- check -->                 run it; its output must match
    *Not checked: REASON.*         leave it (timings, a server, minutes of
                                   work), and say so to the reader

A block of commands with neither marker is an error, so that no example
goes unchecked by accident; so is a link to a file or heading that is not
there. Each checked block runs in a fresh folder that
sees the repository's files (bench/, data/, ...), with `ai-players` and
`build/ai-players` being the program given, and the engine variables unset.
"""
import concurrent.futures
import difflib
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MARK = re.compile(r"^(?:<!-- (check) -->|\*(Not checked: .+)\*)$")
TIMEOUT = 60


def examples(path):
    """(line, marker, lines) for every fenced block that starts with a command."""
    lines = open(path, encoding="utf-8").read().split("\n")
    found, i = [], 0
    while i < len(lines):
        if not lines[i].startswith("```"):
            i += 1
            continue
        end = next(j for j in range(i + 1, len(lines)) if lines[j].startswith("```"))
        body = lines[i + 1:end]
        if body and body[0].startswith("$ "):
            mark = MARK.match(lines[i - 1]) if i > 0 else None
            found.append((i + 1, mark and (mark.group(1) or mark.group(2)), body))
        i = end + 1
    return found


LINK = re.compile(r"\]\(([^)\s]+)\)")


def slug(heading):
    """The anchor a heading gets, as GitHub makes it."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower().replace("`", ""))
    return text.replace(" ", "-")


def anchors(path):
    text = re.sub(r"```.*?```", "", open(path, encoding="utf-8").read(), flags=re.S)
    return {slug(m.group(1)) for m in re.finditer(r"^#+ (.+)$", text, flags=re.M)}


def broken_links(path, name):
    """Links to files of the repository or headings that are not there."""
    text = re.sub(r"```.*?```", "", open(path, encoding="utf-8").read(), flags=re.S)
    found = []
    for target in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue  # http:, mailto:
        file, _, anchor = target.partition("#")
        linked = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if not os.path.exists(linked):
            found.append(f"{name}: a link to {target}, which is not there")
        elif anchor and linked.endswith(".md") and anchor not in anchors(linked):
            found.append(f"{name}: a link to {target}, a heading that is not there")
    return found


def steps(body):
    """The block as (command, expected lines) pairs."""
    out, k = [], 0
    while k < len(body):
        command = body[k][2:]
        while command.endswith("\\"):
            k += 1
            command = command[:-1] + "\n" + body[k]
        k += 1
        expected = []
        while k < len(body) and not body[k].startswith("$ "):
            expected.append(body[k])
            k += 1
        out.append((command, expected))
    return out


def same_line(expected, actual):
    actual = actual.rstrip()  # as invisible in a terminal as in the docs
    if "…" not in expected:
        return expected == actual
    return re.fullmatch(".*".join(map(re.escape, expected.split("…"))), actual) is not None


def matches(expected, actual):
    """Line by line, with "..." taking any run of lines."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(matches(expected[1:], actual[n:]) for n in range(len(actual) + 1))
    return bool(actual) and same_line(expected[0], actual[0]) and matches(expected[1:], actual[1:])


def folder(program):
    """A scratch folder that looks like the repository, with the program in it."""
    work = tempfile.mkdtemp(prefix="ai-players-docs-")
    for name in os.listdir(ROOT):
        if name not in ("build", ".git"):
            os.symlink(os.path.join(ROOT, name), os.path.join(work, name))
    os.mkdir(os.path.join(work, "build"))
    os.symlink(program, os.path.join(work, "build", "ai-players"))
    os.mkdir(os.path.join(work, ".bin"))
    os.symlink(program, os.path.join(work, ".bin", "ai-players"))
    return work


def run(program, where, body):
    work = folder(program)
    env = {k: v for k, v in os.environ.items() if not k.startswith("AI_PLAYERS_")}
    env["PATH"] = os.path.join(work, ".bin") + os.pathsep + env.get("PATH", "")
    failures = []
    try:
        for command, expected in steps(body):
            try:
                done = subprocess.run(["bash", "-c", command], cwd=work, env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=TIMEOUT)
                actual = done.stdout.decode("utf-8", "replace").split("\n")
            except subprocess.TimeoutExpired:
                actual = [f"(no end after {TIMEOUT} s)"]
            while actual and not actual[-1].strip():
                actual.pop()  # blank lines at the end show in neither
            if not matches(expected, actual):
                diff = difflib.unified_diff(expected, actual, "the docs", "the program", lineterm="")
                failures.append(f"{where}: $ {command}\n" + "\n".join(diff))
                break  # what follows in the block may rest on this step
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return failures


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    program = os.path.abspath(sys.argv[1])
    files = sys.argv[2:] or [os.path.join(ROOT, "README.md")] + sorted(glob.glob(os.path.join(ROOT, "docs", "*.md")))
    checked, problems, jobs = 0, [], []
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        for path in files:
            name = os.path.relpath(path, ROOT)
            problems += broken_links(path, name)
            for line, mark, body in examples(path):
                where = f"{name}:{line}"
                if mark is None:
                    problems.append(f"{where}: an example with neither <!-- check --> nor *Not checked: why.* before it")
                elif mark == "check":
                    checked += 1
                    jobs.append(pool.submit(run, program, where, body))
        for job in jobs:
            problems += job.result()
    for p in problems:
        print(p, end="\n\n")
    print(f"{checked} examples checked, {len(problems)} problems")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
