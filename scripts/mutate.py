#!/usr/bin/env python3
"""Mutation testing: how many small faults put into the library does the
test suite notice?

    scripts/mutate.py [--seed S] [--count N] [--files GLOB ...] [--list]
                      [--tests REGEX] [--jobs J] [--timeout SECONDS]
                      [--resume LOG]

Each mutant is one small change to one line of the library's sources:

  comparison   <  <=  >  >=  ==  !=     (each to its neighbour)
  arithmetic   + -  * /  and  += -= *= /=  (swapped)
  logical      && ||  (swapped), a leading ! removed
  constant     an integer literal n: 0 -> 1, 1 -> 0, else n + 1
  boolean      return true  <->  return false

The script copies the tracked sources (with uncommitted changes) into
build/mutate/tree, builds that copy once, checks that the unchanged suite
passes, then for each mutant changes one line there, rebuilds, and runs the
suite with ctest, stopping at the first failing test. A failing (or hung)
suite kills the mutant; a passing one lets it survive. A mutant that does
not compile is skipped and the next candidate takes its place. The working
tree is never touched.

Candidates are every site of those kinds in the chosen files (default: the
library's sources that the Linux build compiles). Each site gets a rank
from the seed and the site itself (its file, the text of its line, which
occurrence on the line, the change), and the lowest ranks are drawn: the
same seed over the same files always draws the same mutants, and an edit
elsewhere does not change the rank of a line it left alone. --list prints
the drawn mutants without building. --resume takes the printed output of an
interrupted run with the same seed and files: mutants it already decided
keep their verdict and are not built again.
"""

import argparse
import filecmp
import fnmatch
import os
import hashlib
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "mutate")
TREE = os.path.join(WORK, "tree")
BUILD = os.path.join(WORK, "build")

DEFAULT_FILES = ["src/*.cpp", "src/*.h"]
# Not compiled by the Linux build, so no Linux test could notice a change.
EXCLUDED = ["src/platform/win32/*"]


# --- finding the sites ---------------------------------------------------------

def code_only(line, in_comment):
    """The line with comments, string and character literals blanked out
    (columns kept), and whether a block comment continues past it."""
    out = []
    i, n = 0, len(line)
    while i < n:
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_comment = True
            continue
        if c == '"' or (c == "'" and not (i > 0 and line[i - 1].isalnum())):
            # A literal up to its closing quote; 1'000 is a digit separator.
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out), in_comment


SWAPS = {
    "<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
    "+": "-", "-": "+", "*": "/", "/": "*",
    "+=": "-=", "-=": "+=", "*=": "/=", "/=": "*=",
    "&&": "||", "||": "&&",
}
KINDS = {
    "<": "comparison", "<=": "comparison", ">": "comparison", ">=": "comparison",
    "==": "comparison", "!=": "comparison", "&&": "logical", "||": "logical",
}
# A binary operator stands between spaces in this code base's format, which
# tells it from template brackets, pointers, references and unary signs.
BINARY = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||\+=|-=|\*=|/=|<|>|\+|-|\*|/)(?= )")
NOT = re.compile(r"(?<![\w)\]!=<>])!(?=[\w(])")
INTEGER = re.compile(r"(?<![\w.'])(\d+)(?![\w.'])")
BOOL_RETURN = re.compile(r"\breturn (true|false);")
SKIP_LINE = re.compile(r"^\s*#|static_assert|\btemplate\b|\boperator\b")


def sites_in(path, text):
    sites = []
    in_comment = False
    for number, line in enumerate(text.split("\n"), 1):
        code, in_comment = code_only(line, in_comment)
        if SKIP_LINE.search(code):
            continue
        for m in BINARY.finditer(code):
            op = m.group(1)
            sites.append((path, number, m.start(), op, SWAPS[op], KINDS.get(op, "arithmetic")))
        for m in NOT.finditer(code):
            sites.append((path, number, m.start(), "!", "", "logical"))
        for m in INTEGER.finditer(code):
            value = int(m.group(1))
            replacement = {0: "1", 1: "0"}.get(value, str(value + 1))
            sites.append((path, number, m.start(), m.group(1), replacement, "constant"))
        for m in BOOL_RETURN.finditer(code):
            word = m.group(1)
            other = "false" if word == "true" else "true"
            sites.append((path, number, m.start(1), word, other, "boolean"))
    return sites


def tracked_files():
    out = subprocess.run(["git", "ls-files"], cwd=ROOT, check=True, capture_output=True, text=True)
    return [f for f in out.stdout.splitlines() if os.path.exists(os.path.join(ROOT, f))]


def chosen_files(patterns):
    """The tracked files the globs name, but those no Linux build compiles."""
    files = []
    for f in tracked_files():
        if any(fnmatch.fnmatch(f, p) for p in patterns) and not any(fnmatch.fnmatch(f, p) for p in EXCLUDED):
            files.append(f)
    return sorted(files)


def all_sites(top, files):
    sites = []
    for f in files:
        with open(os.path.join(top, f), encoding="utf-8") as handle:
            sites.extend(sites_in(f, handle.read()))
    return sites


def rank(seed, site, text_lines):
    """A site's place in the draw: fixed by the seed and what the site is."""
    path, number, column, before, after, kind = site
    line = text_lines[number - 1]
    occurrence = line[:column].count(before)
    key = f"{seed}\0{path}\0{line.strip()}\0{occurrence}\0{before}\0{after}\0{kind}"
    return hashlib.sha256(key.encode()).hexdigest()


def describe(site, text_lines):
    path, number, column, before, after, kind = site
    line = text_lines[number - 1]
    changed = line[:column] + after + line[column + len(before):]
    return f"{path}:{number}: {kind}: {line.strip()}  =>  {changed.strip()}", changed


# --- building and running ------------------------------------------------------

def run(cmd, cwd, timeout):
    try:
        result = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, errors="replace", timeout=timeout)
        return result.returncode, result.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout or ""
        return None, out.decode(errors="replace") if isinstance(out, bytes) else out


def copy_tree():
    """Brings the copy up to the working tree. A file whose content differs
    from the copy's gets the current time: the build of the previous run may
    be newer than the working tree's file (a mutant that touched a header
    rebuilt everything that includes it), and a kept time would leave its
    old objects in place. Unchanged files keep their times, so the build
    stays incremental."""
    tracked = tracked_files()
    for f in tracked:
        source, target = os.path.join(ROOT, f), os.path.join(TREE, f)
        if os.path.isfile(target) and filecmp.cmp(source, target, shallow=False):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        shutil.copymode(source, target)
    keep = {os.path.normpath(os.path.join(TREE, f)) for f in tracked}
    for folder, _, names in os.walk(TREE):
        for name in names:
            if os.path.join(folder, name) not in keep:
                os.remove(os.path.join(folder, name))


def configure():
    os.makedirs(BUILD, exist_ok=True)
    # -O1 and no debug information: the same code paths, faster rebuilds.
    code, out = run(["cmake", "-S", TREE, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=",
                     "-DCMAKE_C_FLAGS=-O1", "-DCMAKE_CXX_FLAGS=-O1", "-DTARVEX_BUILD_BENCH=OFF"],
                    ROOT, 600)
    if code != 0:
        sys.exit("configure failed:\n" + out)


def build(jobs):
    return run(["cmake", "--build", BUILD, "-j", str(jobs)], ROOT, 1800)


def first_failure(output):
    m = re.search(r"^\s*\d+ - (\S+) \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception|Child aborted)", output, re.M)
    if m:
        return m.group(1)
    m = re.search(r"Test\s+#\d+: (\S+) \.+\*{0,3}(Failed|Timeout|Exception)", output)
    return m.group(1) if m else "the suite"


def run_suite(args):
    cmd = ["ctest", "--test-dir", BUILD, "-j", str(args.jobs), "--stop-on-failure",
           "--timeout", str(args.timeout)]
    if args.tests:
        cmd += ["-R", args.tests]
    return run(cmd, ROOT, args.timeout * 20)


def earlier_verdicts(log):
    """Label -> "SURVIVED", "killed by ...", or None (did not build), as an
    earlier run printed them."""
    verdicts = {}
    with open(log, encoding="utf-8") as handle:
        for line in handle:
            line = line.rstrip("\n")
            m = re.match(r"\[\d+/\d+\] SURVIVED (.*)$", line)
            if m:
                verdicts[m.group(1)] = "SURVIVED"
                continue
            m = re.match(r"\[\d+/\d+\] (killed by .*?): ((?:src|include)/.*)$", line)
            if m:
                verdicts[m.group(2)] = m.group(1)
                continue
            m = re.match(r"  \(does not build\) (.*)$", line)
            if m:
                verdicts[m.group(1)] = None
    return verdicts


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=60, help="mutants to run (default 60)")
    parser.add_argument("--files", nargs="+", default=DEFAULT_FILES, help="globs of files to mutate")
    parser.add_argument("--list", action="store_true", help="print the drawn mutants and stop")
    parser.add_argument("--tests", help="ctest -R regex: run only these tests")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--resume", help="output of an interrupted run: keep its verdicts")
    args = parser.parse_args()
    earlier = earlier_verdicts(args.resume) if args.resume else {}
    os.environ.setdefault("TARVEX_NO_REALTIME", "1")
    os.environ.setdefault("XDG_STATE_HOME", os.path.join(WORK, "state"))

    files = chosen_files(args.files)
    # Mutants are drawn from, and written into, the copy: the working tree
    # may change while a run goes on.
    top = ROOT if args.list else TREE
    if not args.list:
        copy_tree()
    sites = all_sites(top, files)
    if not sites:
        sys.exit("no mutation sites in " + " ".join(args.files))
    texts = {}

    def lines_of(path):
        if path not in texts:
            with open(os.path.join(top, path), encoding="utf-8") as handle:
                texts[path] = handle.read().split("\n")
        return texts[path]

    order = sorted(range(len(sites)), key=lambda i: rank(args.seed, sites[i], lines_of(sites[i][0])))
    print(f"{len(files)} files, {len(sites)} sites; seed {args.seed}, {args.count} mutants", flush=True)

    if args.list:
        for index in order[:args.count]:
            print(describe(sites[index], lines_of(sites[index][0]))[0])
        return 0

    configure()
    code, out = build(args.jobs)
    if code != 0:
        sys.exit("the unchanged sources do not build:\n" + out[-3000:])
    code, out = run_suite(args)
    if code != 0:
        sys.exit("the unchanged suite fails; fix it first:\n" + out[-3000:])

    killed, survived, skipped = [], [], 0
    started = time.time()
    for index in order:
        if len(killed) + len(survived) >= args.count:
            break
        site = sites[index]
        path = site[0]
        text = lines_of(path)
        label, changed = describe(site, text)
        if label in earlier:
            verdict = earlier[label]
            if verdict is None:
                skipped += 1
                print(f"  (does not build) {label}", flush=True)
                continue
            n = len(killed) + len(survived) + 1
            (survived if verdict == "SURVIVED" else killed).append(label)
            print(f"[{n}/{args.count}] {verdict}: {label}" if verdict != "SURVIVED" else
                  f"[{n}/{args.count}] SURVIVED {label}", flush=True)
            continue
        target = os.path.join(TREE, path)
        original = "\n".join(text)
        mutated = text[:site[1] - 1] + [changed] + text[site[1]:]
        with open(target, "w", encoding="utf-8") as handle:
            handle.write("\n".join(mutated))
        try:
            code, _ = build(args.jobs)
            if code != 0:
                skipped += 1
                print(f"  (does not build) {label}", flush=True)
                continue
            code, out = run_suite(args)
            n = len(killed) + len(survived) + 1
            if code == 0:
                survived.append(label)
                print(f"[{n}/{args.count}] SURVIVED {label}", flush=True)
            else:
                killed.append(label)
                why = "hung" if code is None else first_failure(out)
                print(f"[{n}/{args.count}] killed by {why}: {label}", flush=True)
        finally:
            with open(target, "w", encoding="utf-8") as handle:
                handle.write(original)
    # Leave the copy built as the sources are.
    build(args.jobs)

    total = len(killed) + len(survived)
    minutes = (time.time() - started) / 60
    print()
    print(f"seed {args.seed}: {total} mutants, {len(killed)} killed, {len(survived)} survived, "
          f"{skipped} did not build; score {100.0 * len(killed) / max(total, 1):.1f}% ({minutes:.0f} min)")
    if survived:
        print("survivors:")
        for label in survived:
            print("  " + label)
    return 0


if __name__ == "__main__":
    sys.exit(main())
