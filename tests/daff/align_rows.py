#!/usr/bin/env python3
"""A second opinion on `quellar-cli compare --by-position --align-rows`: on random lists
without a key, where rows are deleted, inserted and edited in one cell in ways that admit a
single reading, the reference tool (npm package daff, `daff diff` without --id) must find
the same rows deleted, inserted and changed, with the same changes, as the tabular diff
quellar-cli writes. Each table keeps its field row; every text of a row is its own, so an
edited row resembles its original and nothing else.

The reference tool is installed with npm into the build tree on first use (as the round-trip
test does); when the registry cannot be reached the test is skipped (exit status 77).
"""
import os
import random
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from round_trip import prepare, read_csv, write_csv  # noqa: E402


def make_pair(rng, case):
    columns = rng.randint(3, 6)
    counter = [0]

    def new_row():
        counter[0] += 1
        return ["t%d_%d_%d" % (case, counter[0], c) for c in range(columns)]

    header = ["f%d" % c for c in range(columns)]
    rows1 = [new_row() for _ in range(rng.randint(4, 40))]
    rows2 = []
    edits = 0
    for row in rows1:
        roll = rng.random()
        if roll < 0.12:
            continue  # deleted
        new = list(row)
        if roll < 0.24:
            edits += 1
            new[rng.randrange(1, columns)] = "e%d_%d" % (case, edits)
        rows2.append(new)
        if rng.random() < 0.12:
            rows2.append(new_row())  # inserted after it
    if rng.random() < 0.5:
        rows2.insert(0, new_row())
    return [header] + rows1, [header] + rows2


def changes(rows):
    """The rows a tabular diff marks, by kind: removed, added and changed lines, each sorted."""
    found = {"---": [], "+++": [], "->": []}
    for row in rows[1:]:
        if row and row[0] in found:
            found[row[0]].append(",".join(row[1:]))
    return {kind: sorted(lines) for kind, lines in found.items()}


def main():
    args, daff, folder = prepare(40, "aligned")
    failures = 0
    for seed in range(1, args.seeds + 1):
        rng = random.Random(1000 + seed)
        t1, t2 = make_pair(rng, seed)
        a, b = os.path.join(folder, "a%d.csv" % seed), os.path.join(folder, "b%d.csv" % seed)
        write_csv(a, t1)
        write_csv(b, t2)
        mine, theirs = os.path.join(folder, "mine%d.csv" % seed), os.path.join(folder, "daff%d.csv" % seed)
        run = subprocess.run([args.cli, "compare", "--quiet", "--by-position", "--align-rows", a, b, "-o", mine,
                              "--format", "highlighter", "--context", "all"], capture_output=True, text=True)
        if run.returncode != 0:
            print("seed %d: quellar-cli failed: %s" % (seed, run.stderr))
            failures += 1
            continue
        subprocess.run([daff, "diff", "--output", theirs, a, b], check=True, capture_output=True)
        got, want = changes(read_csv(mine)), changes(read_csv(theirs))
        if got != want:
            failures += 1
            print("seed %d: the aligned diff differs from the reference tool's\n  mine: %s\n  daff: %s\n  ours: %s\n"
                  "  theirs: %s" % (seed, mine, theirs, got, want))
    if failures:
        sys.exit("%d of %d aligned comparisons differ from the reference tool" % (failures, args.seeds))
    print("%d random lists aligned as the reference tool aligns them" % args.seeds)


if __name__ == "__main__":
    main()
