#!/usr/bin/python3
"""pellar-sheet against its goals, in one run: processor time (user +
system), so that other work on the machine does not skew the ratios, and
peak resident memory of the program alone.

Run by hand after building pellar-sheet and bench/sheet_floor, with GNU time
(Debian package "time") and openpyxl installed (not part of
./test):

    bench/sheet_bench.py build/rel

One control document of 100,000 rows x 10 columns, as Cell.SaveWorkSheet
writes it, goes into a new workbook and into an existing workbook of the
same size (made by openpyxl); a document of one cell updates that workbook
too. The goals, each printed with PASS or FAIL and its figures:

- new workbook: within 1.25 times the floor, what expat reading and
  libxlsxwriter writing cost by themselves on the same document
  (bench/sheet_floor.cc: no program on those libraries can take less);
  peak memory under 16 MiB;
- update: at least 10 times faster than openpyxl (the document read with
  expat in both); peak memory under 64 MiB;
- one-cell update of that workbook: under 1 s, its size within 5% of
  what it was.

The program and the floor run interleaved, RUNS times each, and the best
of each counts: a loaded machine slows single runs, never the best.
Exits 1 when a goal fails.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.parsers.expat

import openpyxl
from openpyxl.styles import Font

ROWS, COLS = 100000, 10


def escape(text):
    out = (text.replace("&", "&amp;").replace("\r\n", "&#0013;&#0010;").replace(">", "&gt;")
           .replace("<", "&lt;").replace("'", "&apos;").replace('"', "&quot;"))
    return "".join(c if ord(c) <= 126 else "&#%04d;" % c.encode("cp1252")[0] for c in out)


def value_at(r, c):
    if c == 1:
        return '"Customer %d"' % r
    if c in (2, 5):
        return "%d.50" % ((r * 37) % 100000)
    if c == 3:
        return '"00%d"' % (r % 1000)
    if c == 4:
        return "Caf\u00e9 & Co" if r % 10 == 0 else "Street %d" % r
    return "%d" % (r * c % 1000)


def write_control(path, excel):
    with open(path, "w", encoding="cp1252", newline="") as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\r\n<!-- File %s Created 09-Dec-2026-->\r\n'
                "<WorksheetDoc>\r\n<Application>ExcelMacro</Application>\r\n<ExcelFile>%s"
                "</ExcelFile>\r\n<OpenWorkSheet>Data</OpenWorkSheet>\r\n" % (path, excel))
        for r in range(ROWS):
            for c in range(1, COLS + 1):
                fmt = "Bold=1Fill=#FFFF00" if r == 0 else ("NumberFormat=0.00" if c == 2 else "")
                f.write("<Cell>\r\n<Row>%d</Row>\r\n<Col>%d</Col>\r\n<Value>%s</Value>\r\n"
                        "<Format>%s</Format>\r\n</Cell>\r\n" % (r, c, escape(value_at(r, c)), fmt))
        f.write("</WorksheetDoc>\r\n")


def read_control(path):
    """The cells of a control document: (row, col, value, format), as the
    peer reads them."""
    cells, cell, text = [], {}, []
    parser = xml.parsers.expat.ParserCreate()

    def start(name, attrs):
        text.clear()

    def end(name):
        if name in ("Row", "Col", "Value", "Format"):
            cell[name] = "".join(text)
        elif name == "Cell":
            cells.append((int(cell["Row"]), int(cell["Col"]), cell["Value"], cell.get("Format", "")))

    parser.StartElementHandler, parser.EndElementHandler = start, end
    parser.CharacterDataHandler = text.append
    with open(path, "rb") as f:
        parser.ParseFile(f)
    return cells


def typed(value):
    if len(value) >= 2 and value[0] in "\"'" and value[-1] == value[0]:
        return value[1:-1]
    try:
        return float(value)
    except ValueError:
        return value


def openpyxl_new(control, out):
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("Data")
    row, current = [], 0
    for r, c, value, fmt in read_control(control):
        if r != current:
            ws.append(row)
            row, current = [], r
        row.append(typed(value))
    ws.append(row)
    wb.save(out)


def openpyxl_update(control, book):
    wb = openpyxl.load_workbook(book)
    ws = wb["Data"]
    bold = Font(bold=True)
    for r, c, value, fmt in read_control(control):
        cell = ws.cell(r + 1, c, typed(value))
        if fmt.startswith("Bold"):
            cell.font = bold
        elif fmt:
            cell.number_format = "0.00"
    wb.save(book)


RUNS = 3


# Processor time (user + system), not wall time: the machine may be shared.
# Through GNU time: a child forked from this large process would count this
# process's memory as its own peak until it runs the program.
def ours(sheet, control):
    with tempfile.NamedTemporaryFile("r") as usage:
        done = subprocess.run(["/usr/bin/time", "-o", usage.name, "-f", "%U %S %M", sheet,
                               control], stdout=subprocess.DEVNULL)
        if done.returncode != 0:
            sys.exit("pellar-sheet failed on " + control)
        user, system, kib = usage.read().split()[-3:]
    return float(user) + float(system), int(kib) / 1024


def floor(program, control, out):
    """expat's and libxlsxwriter's processor time, as sheet_floor measures
    them inside its own process."""
    words = subprocess.run([program, control, out], check=True, capture_output=True,
                           text=True).stdout.split()
    return float(words[1]), float(words[3])


def timed(action):
    start = time.process_time()
    action()
    return time.process_time() - start


def one_cell_control(path, excel):
    with open(path, "w", encoding="cp1252", newline="") as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\r\n<WorksheetDoc>\r\n<Application>'
                "ExcelMacro</Application>\r\n<ExcelFile>%s</ExcelFile>\r\n<OpenWorkSheet>"
                "Data</OpenWorkSheet>\r\n<Cell>\r\n<Row>5</Row>\r\n<Col>3</Col>\r\n"
                "<Value>42</Value>\r\n<Format></Format>\r\n</Cell>\r\n</WorksheetDoc>\r\n"
                % excel)


failed = []


def goal(ok, text):
    print("%s %s" % ("PASS" if ok else "FAIL", text))
    if not ok:
        failed.append(text)


def main():
    sheet = os.path.join(sys.argv[1], "programs", "pellar-sheet", "pellar-sheet")
    floor_program = os.path.join(sys.argv[1], "bench", "sheet_floor")
    folder = tempfile.mkdtemp(prefix="sheet_bench")
    at = lambda name: os.path.join(folder, name)
    try:
        write_control(at("new.xml"), "New.xlsx")
        write_control(at("old.xml"), "Old.xlsx")
        one_cell_control(at("one.xml"), "One.xlsx")
        # The existing workbook: the same size, other values.
        wb = openpyxl.Workbook(write_only=True)
        ws = wb.create_sheet("Data")
        for r in range(ROWS):
            ws.append(["old %d" % r] + [r + c for c in range(1, COLS)])
        wb.save(at("Base.xlsx"))

        new_runs, floor_runs = [], []
        for _ in range(RUNS):
            for name in ("New.xlsx", "Floor.xlsx"):
                if os.path.exists(at(name)):
                    os.remove(at(name))
            new_runs.append(ours(sheet, at("new.xml")))
            floor_runs.append(floor(floor_program, at("new.xml"), at("Floor.xlsx")))
        ours_new = min(t for t, _ in new_runs)
        new_peak = max(m for _, m in new_runs)
        floor_read, floor_write = min(floor_runs, key=sum)
        peer_new = timed(lambda: openpyxl_new(at("new.xml"), at("Peer.xlsx")))

        old_runs, one_runs = [], []
        for _ in range(RUNS):
            shutil.copy(at("Base.xlsx"), at("Old.xlsx"))
            old_runs.append(ours(sheet, at("old.xml")))
            shutil.copy(at("Base.xlsx"), at("One.xlsx"))
            one_runs.append(ours(sheet, at("one.xml")))
        ours_old = min(t for t, _ in old_runs)
        old_peak = max(m for _, m in old_runs)
        ours_one = min(t for t, _ in one_runs)
        base_size, one_size = os.path.getsize(at("Base.xlsx")), os.path.getsize(at("One.xlsx"))
        shutil.copy(at("Base.xlsx"), at("Peer.xlsx"))
        peer_old = timed(lambda: openpyxl_update(at("old.xml"), at("Peer.xlsx")))
    finally:
        shutil.rmtree(folder)

    floor_sum = floor_read + floor_write
    print("%d x %d cells from one control document; processor time, best of %d"
          % (ROWS, COLS, RUNS))
    print("new workbook: pellar-sheet %.2f s; floor %.2f s (expat %.2f + libxlsxwriter %.2f);"
          " openpyxl (write-only) %.2f s, %.2f times pellar-sheet"
          % (ours_new, floor_sum, floor_read, floor_write, peer_new, peer_new / ours_new))
    goal(ours_new <= 1.25 * floor_sum, "new workbook within 1.25x of the floor: %.2f s / %.2f s"
         " = %.2fx" % (ours_new, floor_sum, ours_new / floor_sum))
    goal(new_peak < 16, "new workbook peak memory under 16 MiB: %.1f MiB" % new_peak)
    goal(peer_old >= 10 * ours_old, "update at least 10x faster than openpyxl: %.2f s / %.2f s"
         " = %.2fx" % (peer_old, ours_old, peer_old / ours_old))
    goal(old_peak < 64, "update peak memory under 64 MiB: %.1f MiB" % old_peak)
    goal(ours_one < 1, "one-cell update under 1 s: %.2f s" % ours_one)
    goal(abs(one_size - base_size) <= 0.05 * base_size,
         "one-cell update keeps the size within 5%%: %d -> %d bytes (%+.1f%%)"
         % (base_size, one_size, 100.0 * (one_size - base_size) / base_size))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
