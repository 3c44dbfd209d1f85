#!/usr/bin/env python3
"""The tabular diff that `quellar-cli compare --format highlighter` writes, applied with the
reference tool's own patch command (npm package daff) to file 1, gives file 2's rows.

Random keyed tables: changed cells, removed rows, rows inserted anywhere, now and then a
column only in one file; texts with commas, quotes, arrows and line breaks. The reference
tool is installed with npm into the build tree on first use; when the registry cannot be
reached the test is skipped (exit status 77) with a message saying so.
"""
import argparse
import csv
import io
import os
import random
import shutil
import subprocess
import sys

SKIP = 77


def ensure_daff(work):
    daff = os.path.join(work, "node_modules", ".bin", "daff")
    if os.path.exists(daff):
        return daff
    npm = shutil.which("npm")
    if not npm:
        sys.exit("npm is not installed: run scripts/setup.sh (it installs nodejs and npm)")
    os.makedirs(work, exist_ok=True)
    try:
        subprocess.run([npm, "install", "--prefix", work, "--no-audit", "--no-fund", "--loglevel=error", "daff@1"],
                       check=True, timeout=300, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as failure:
        print("SKIPPED: the npm registry cannot be reached, so the reference tool daff is not installed:",
              getattr(failure, "stderr", b"").decode(errors="replace")[-400:])
        sys.exit(SKIP)
    return daff


PIECES = ["a", "b", "张三", "北京", ",", "\"", "->", "-->", "\n", "x y", "1,234", "007", "—", "<b>", "&"]


def random_text(rng):
    kind = rng.random()
    if kind < 0.15:
        return ""
    if kind < 0.35:
        return str(rng.randint(0, 100000))
    if kind < 0.5:
        value = rng.randint(0, 1000000) / 100
        return ("%.2f" % value).rstrip("0").rstrip(".")
    text = "".join(rng.choice(PIECES) for _ in range(rng.randint(1, 4)))
    # Blanks and line breaks around a text are not kept by the reader (it trims cell texts);
    # the tool's NULL is its own.
    text = text.strip()
    # The reference tool's own CSV reader splits a field where a quote follows a line break
    # ("a\n""" comes back as "a" and a new line), so such texts cannot travel through it.
    text = text.replace("\n\"", "\n'")
    return text if text and text.upper() != "NULL" else "t"


def make_pair(rng):
    columns = ["id"] + ["c%d" % i for i in range(rng.randint(2, 5))]
    next_id = 1
    rows1 = []
    for _ in range(rng.randint(5, 60)):
        rows1.append([str(next_id)] + [random_text(rng) for _ in columns[1:]])
        next_id += rng.randint(1, 3)
    columns2 = list(columns)
    dropped = added = None
    if rng.random() < 0.25:
        dropped = rng.randrange(1, len(columns))
    if rng.random() < 0.25:
        added = rng.randrange(1, len(columns) + 1)
    rows2 = []
    for row in rows1:
        if rng.random() < 0.15:
            continue  # removed
        new = list(row)
        for c in range(1, len(new)):
            if rng.random() < 0.15:
                new[c] = random_text(rng)
        rows2.append(new)
        if rng.random() < 0.12:  # inserted after it
            rows2.append(["n%d" % next_id] + [random_text(rng) for _ in columns[1:]])
            next_id += 1
    if rng.random() < 0.5:
        rows2.insert(0, ["n%d" % next_id] + [random_text(rng) for _ in columns[1:]])
        next_id += 1

    def reshape(header, rows):
        header = list(header)
        rows = [list(r) for r in rows]
        if dropped is not None:
            del header[dropped]
            for r in rows:
                del r[dropped]
        if added is not None:
            at = min(added, len(header))
            header.insert(at, "new")
            for r in rows:
                r.insert(at, random_text(rng))
        return header, rows

    header2, rows2 = reshape(columns2, rows2)
    return [columns] + rows1, [header2] + rows2


def write_csv(path, rows):
    with open(path, "w", encoding="utf-8", newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(rows)


def read_csv(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f))
    # The reference tool writes line breaks inside fields as it read them.
    return [[cell.replace("\r\n", "\n") for cell in row] for row in rows]


def prepare(seeds, cases):
    """The command line (--cli, --work, --seeds), the reference tool and the folder for the cases."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--seeds", type=int, default=seeds)
    args = parser.parse_args()
    daff = ensure_daff(args.work)
    folder = os.path.join(args.work, cases)
    os.makedirs(folder, exist_ok=True)
    return args, daff, folder


def main():
    args, daff, folder = prepare(30, "cases")
    failures = 0
    for seed in range(1, args.seeds + 1):
        rng = random.Random(seed)
        t1, t2 = make_pair(rng)
        a, b = os.path.join(folder, "a%d.csv" % seed), os.path.join(folder, "b%d.csv" % seed)
        write_csv(a, t1)
        write_csv(b, t2)
        for context in ("1", "all", "0", "3"):
            diff = os.path.join(folder, "diff%d_%s.csv" % (seed, context))
            patched = os.path.join(folder, "patched%d_%s.csv" % (seed, context))
            run = subprocess.run([args.cli, "compare", "--quiet", "--key", "id", a, b, "-o", diff, "--format",
                                  "highlighter", "--context", context], capture_output=True, text=True)
            if run.returncode != 0:
                print("seed %d context %s: quellar-cli failed: %s" % (seed, context, run.stderr))
                failures += 1
                continue
            subprocess.run([daff, "patch", "--output", patched, a, diff], check=True, capture_output=True)
            got, want = read_csv(patched), read_csv(b)
            # Without context rows the reference tool places the changed rows first; the
            # rows themselves must still be file 2's.
            same = got == want if context != "0" else (got[0] == want[0] and sorted(got[1:]) == sorted(want[1:]))
            if not same:
                failures += 1
                print("seed %d context %s: patched file 1 differs from file 2\n  diff: %s\n  got:  %s\n  want: %s"
                      % (seed, context, diff, got, want))
    if failures:
        sys.exit("%d round trips failed" % failures)
    print("%d random table pairs round-tripped through daff patch" % args.seeds)


if __name__ == "__main__":
    main()
