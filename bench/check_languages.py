#!/usr/bin/env python3
"""Checks on a real tree that the counts per language are the sums of the files' counts,
the same in the JSON document, the CSV rows of /languages and the text table of
/languages, and that the total row is the summary.

    python3 bench/check_languages.py build/srctally /path/to/tree
"""
import csv
import io
import json
import subprocess
import sys

FIELDS = ["size", "actual", "code", "directive", "empty", "comment", "emptyComment", "total"]


def run(exe, *args):
    return subprocess.run([exe, *args], capture_output=True, check=True).stdout


def main():
    exe, tree = sys.argv[1], sys.argv[2]
    doc = json.loads(run(exe, tree, "/subdir", "/format:json"))
    sums = {}
    for f in doc["files"]:
        row = sums.setdefault(f["language"], [0] * 9)
        row[0] += 1
        for i, name in enumerate(FIELDS):
            row[i + 1] += f[name]
    languages = {l["language"]: [l["files"]] + [l[n] for n in FIELDS] for l in doc["languages"]}
    assert languages == sums, (languages, sums)
    summary = [doc["summary"]["files"]] + [doc["summary"][n] for n in FIELDS]
    assert [sum(col) for col in zip(*languages.values())] == summary

    rows = list(csv.reader(io.StringIO(run(exe, tree, "/subdir", "/format:csv", "/languages").decode())))
    assert rows[0] == ["language", "files"] + FIELDS, rows[0]
    assert {r[0]: [int(x) for x in r[1:]] for r in rows[1:]} == languages

    # The text table: two lines per row (files, size, actual, total / the five classes).
    lines = run(exe, tree, "/subdir", "/languages").decode("latin-1").splitlines()
    at = lines.index("Languages") + 5
    table = {}
    while not lines[at].startswith("---"):
        first, second = lines[at].split(), lines[at + 1].split()
        numbers = [int(x) for x in first[-4:]]
        table[" ".join(first[:-4])] = [numbers[0], numbers[1], numbers[2]] + [
            int(x) for x in second] + [numbers[3]]
        at += 2
    assert table == languages, (table, languages)
    first, second = lines[at + 1].split(), lines[at + 2].split()
    assert first[0] == "Total"
    total = [int(x) for x in first[1:]]
    assert [total[0], total[1], total[2]] + [int(x) for x in second] + [total[3]] == summary
    print(f"{tree}: {summary[0]} files in {len(languages)} languages; "
          f"per-language sums agree in JSON, CSV and text")
    for name, row in sorted(languages.items(), key=lambda kv: -kv[1][8]):
        print(f"  {name:14} {row[0]:7} files {row[8]:10} lines")


if __name__ == "__main__":
    main()
