#!/usr/bin/python3
"""Python peers of the work area's files on the same data, in the same run.

Run by hand after building the benchmarks (not part of ./test):

    bench/peers.py build/rel/bench/cellfiles_bench

It runs cellfiles_bench for this project's times, then times csv.writer,
';'.join, csv.reader, str.split and saxutils.escape on the same 100,000 x 10
work area, and prints each as "ratio PEER / OURS = X (target >= 10.00)":
every peer should stay at least ten times slower.
"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import time
from xml.sax import saxutils

ROWS, COLS = 100000, 10
CITIES = ["London", "Paris", "M\u00fcnchen", "New York", "Z\u00fcrich"]


def value_at(r, c):
    # The same work area as cellfiles_bench.
    if c == 0:
        return "R%d" % r
    if c == 1:
        return '"Customer %d"' % r
    if c == 2:
        return "%d.50" % ((r * 37) % 100000)
    if c == 3:
        return "08-Dec-2026"
    if c == 4:
        return "Caf\u00e9 & Co" if r % 10 == 0 else "Street %d" % r
    if c == 5:
        return "" if r % 3 == 0 else "%d" % (r % 1000)
    if c == 6:
        return CITIES[r % 5]
    if c == 7:
        return "%d" % (r % 7)
    if c == 8:
        return "a<b> \u20ac5" if r % 50 == 0 else "note"
    return ""


def best_of(runs, action):
    best = None
    for _ in range(runs):
        start = time.process_time()
        action()
        elapsed = time.process_time() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def ours(bench):
    # The benchmark prints through its own reporter; the times come from
    # its JSON file.
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run(
            [bench, "--benchmark_out=" + out.name,
             "--benchmark_out_format=json",
             "--benchmark_filter=BM_(SaveFile|SaveXMLFile|LoadFile|Lookup)$"],
            check=True, capture_output=True)
        results = json.load(open(out.name))
    times = {}
    for b in results["benchmarks"]:
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        times[b["name"]] = b["cpu_time"] * scale
    return times


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else "build/rel/bench/cellfiles_bench"
    times = ours(bench)
    rows = [[value_at(r, c) for c in range(COLS)] for r in range(ROWS)]
    tags = ["Key", "Name", "Amount", "Date", "Street", "Number", "City",
            "Day", "Note", "Spare"]
    folder = tempfile.mkdtemp(prefix="pellar-peers-")
    path = os.path.join(folder, "area.csv")

    def csv_writer():
        with open(path, "w", encoding="cp1252", errors="replace",
                  newline="") as f:
            csv.writer(f, lineterminator="\r\n").writerows(rows)

    def join_writer():
        with open(path, "w", encoding="cp1252", errors="replace",
                  newline="") as f:
            f.write("".join(";".join(row) + "\r\n" for row in rows))

    def xml_writer():
        with open(path, "w", encoding="cp1252", errors="replace",
                  newline="") as f:
            out = io.StringIO()
            for row in rows:
                out.write("<Row>\r\n")
                for c in range(1, COLS):
                    out.write("<%s>%s</%s>\r\n" % (tags[c], saxutils.escape(row[c]), tags[c]))
                out.write("</Row>\r\n")
            f.write(out.getvalue())

    join_writer()

    def csv_reader():
        with open(path, encoding="cp1252", newline="") as f:
            return list(csv.reader(f, delimiter=";"))

    def split_reader():
        with open(path, encoding="cp1252", newline="") as f:
            return [line.split(";") for line in f.read().split("\r\n")]

    def split_lookup():
        key = "R%d" % (ROWS - 1)
        with open(path, encoding="cp1252", newline="") as f:
            for line in f.read().split("\r\n"):
                fields = line.split(";")
                if fields[0] == key:
                    return fields[6]
        return ""

    peers = [
        ("csv.writer", csv_writer, "BM_SaveFile"),
        ("';'.join", join_writer, "BM_SaveFile"),
        ("saxutils.escape XML", xml_writer, "BM_SaveXMLFile"),
        ("csv.reader", csv_reader, "BM_LoadFile"),
        ("str.split", split_reader, "BM_LoadFile"),
        ("str.split lookup", split_lookup, "BM_Lookup"),
    ]
    for name, action, baseline in peers:
        ratio = best_of(3, action) / times[baseline]
        print("ratio %s / %s = %.2f (target >= 10.00) %s" %
              (name, baseline, ratio, "ok" if ratio >= 10 else "UNDER TARGET"))
    os.remove(path)
    os.rmdir(folder)


if __name__ == "__main__":
    main()
