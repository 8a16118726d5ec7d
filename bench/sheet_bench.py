#!/usr/bin/python3
"""pellar-sheet against openpyxl applying the same worksheet control document.

Run by hand after building (not part of ./test):

    bench/sheet_bench.py build/rel

One control document of 100,000 rows x 10 columns, as Cell.SaveWorkSheet
writes it, goes into a new workbook and into an existing workbook of the
same size, once by pellar-sheet and once by openpyxl (write-only mode for
the new workbook; the document read with expat in both). Prints each as
"ratio OPENPYXL / OURS = X (target >= 10.00)" and pellar-sheet's peak memory
for the new workbook (target < 64 MiB). Times are processor time (user +
system), so that other work on the machine does not skew the ratios.

It also prints what expat and libxlsxwriter cost by themselves on the new
workbook's document (bench/sheet_floor.cc): no pellar-sheet run can take
less, so that sum bounds the ratio any program on those libraries can reach.
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


# Processor time (user + system), not wall time: the machine may be shared.
def ours(sheet, control):
    process = subprocess.Popen([sheet, control], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        sys.exit("pellar-sheet failed on " + control)
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def timed(action):
    start = time.process_time()
    action()
    return time.process_time() - start


def main():
    sheet = os.path.join(sys.argv[1], "programs", "pellar-sheet", "pellar-sheet")
    folder = tempfile.mkdtemp(prefix="sheet_bench")
    try:
        new_doc = os.path.join(folder, "new.xml")
        old_doc = os.path.join(folder, "old.xml")
        write_control(new_doc, "New.xlsx")
        write_control(old_doc, "Old.xlsx")
        # The existing workbook: the same size, other values.
        wb = openpyxl.Workbook(write_only=True)
        ws = wb.create_sheet("Data")
        for r in range(ROWS):
            ws.append(["old %d" % r] + [r + c for c in range(1, COLS)])
        wb.save(os.path.join(folder, "Base.xlsx"))

        ours_new, peak = ours(sheet, new_doc)
        floor = subprocess.run([os.path.join(sys.argv[1], "bench", "sheet_floor"), new_doc,
                                os.path.join(folder, "Floor.xlsx")],
                               check=True, capture_output=True, text=True).stdout.split()
        floor_read, floor_write = float(floor[1]), float(floor[3])
        peer_new = timed(lambda: openpyxl_new(new_doc, os.path.join(folder, "Peer.xlsx")))
        shutil.copy(os.path.join(folder, "Base.xlsx"), os.path.join(folder, "Old.xlsx"))
        ours_old, _ = ours(sheet, old_doc)
        shutil.copy(os.path.join(folder, "Base.xlsx"), os.path.join(folder, "Peer.xlsx"))
        peer_old = timed(lambda: openpyxl_update(old_doc, os.path.join(folder, "Peer.xlsx")))
    finally:
        shutil.rmtree(folder)
    print("%d x %d cells from one control document" % (ROWS, COLS))
    print("new workbook:      pellar-sheet %.2f s, openpyxl (write-only) %.2f s of processor time" % (ours_new, peer_new))
    print("ratio OPENPYXL / OURS = %.2f (target >= 10.00)" % (peer_new / ours_new))
    print("the libraries alone: expat reading %.2f s + libxlsxwriter writing %.2f s = %.2f s;"
          " at best %.2f times openpyxl" % (floor_read, floor_write, floor_read + floor_write,
                                            peer_new / (floor_read + floor_write)))
    print("peak memory, new workbook: %.1f MiB (target < 64)" % peak)
    print("existing workbook: pellar-sheet %.2f s, openpyxl %.2f s" % (ours_old, peer_old))
    print("ratio OPENPYXL / OURS = %.2f (target >= 10.00)" % (peer_old / ours_old))


if __name__ == "__main__":
    main()
