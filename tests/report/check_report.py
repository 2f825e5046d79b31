#!/usr/bin/python3
"""Checks reports written from a template with independent readers.

check_report.py FILL_TOOL TEMPLATE [SHEET!CELL=TEXT ...]

FILL_TOOL writes the report of fixed values from TEMPLATE. python3-xlrd must read
the twelve report cells back as numbers with their exact values, every other
cell as in the template (formula cells as empty text: their cached results are
cleared), and headless LibreOffice must show each SHEET!CELL with the TEXT it
recalculates from the new values.
"""
import csv
import os
import struct
import subprocess
import sys
import tempfile

import xlrd.compdoc


def single(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


# The values the fill tool writes, as float32 widened to double; 2385123.5 and
# 5100001.5 round to their even neighbours.
EXPECTED = {(5, 2): 2385124.0, (5, 5): 5100002.0, (6, 2): 2385250.0, (6, 5): 5100250.0, (9, 1): single(26.448189)}
EXPECTED.update({(12, col): single(v) for col, v in enumerate([30.1, 40.2, 50.3, 60.4, 70.5, 80.6, 90.7], 1)})


def formula_cells(path):
    """(sheet index, row, col) of every FORMULA record of the worksheets."""
    stream = xlrd.compdoc.CompDoc(open(path, "rb").read()).get_named_stream("Workbook")
    cells, pos, sheet, depth = set(), 0, -1, 0
    while pos + 4 <= len(stream):
        kind, length = struct.unpack_from("<HH", stream, pos)
        if kind == 0x0809:
            depth += 1
            if depth == 1 and struct.unpack_from("<H", stream, pos + 6)[0] != 0x0005:
                sheet += 1
        elif kind == 0x000A:
            depth -= 1
            if depth == 0 and sheet >= 0 and (pos + 8 > len(stream) or
                                               struct.unpack_from("<H", stream, pos + 4)[0] != 0x0809):
                break
        elif kind == 0x0006 and depth == 1:
            row, col = struct.unpack_from("<HH", stream, pos + 4)
            cells.add((sheet, row, col))
        pos += 4 + length
    return cells


def cell(sheet, row, col):
    if row < sheet.nrows and col < sheet.ncols:
        return sheet.cell_type(row, col), sheet.cell_value(row, col)
    return xlrd.XL_CELL_EMPTY, ""


def check_cells(template_path, report_path, failures):
    template = xlrd.open_workbook(template_path)
    report = xlrd.open_workbook(report_path)
    formulas = formula_cells(template_path)
    if template.sheet_names() != report.sheet_names():
        failures.append("sheet names differ")
        return
    for index, (before, after) in enumerate(zip(template.sheets(), report.sheets())):
        for row in range(max(before.nrows, after.nrows)):
            for col in range(max(before.ncols, after.ncols)):
                got = cell(after, row, col)
                if index == 0 and (row, col) in EXPECTED:
                    want = (xlrd.XL_CELL_NUMBER, EXPECTED[(row, col)])
                elif (index, row, col) in formulas:
                    want = (xlrd.XL_CELL_TEXT, "")
                else:
                    want = cell(before, row, col)
                if got != want:
                    failures.append(f"{after.name} row {row} col {col}: {got!r}, want {want!r}")


def check_recalculation(report_path, expectations, failures):
    with tempfile.TemporaryDirectory() as work:
        subprocess.run(
            ["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless",
             "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,false,false,false,-1",
             "--outdir", work, report_path],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        base = os.path.splitext(os.path.basename(report_path))[0]
        for expectation in expectations:
            place, text = expectation.split("=", 1)
            sheet, address = place.split("!")
            col = ord(address[0]) - ord("A")
            row = int(address[1:]) - 1
            rows = list(csv.reader(open(os.path.join(work, f"{base}-{sheet}.csv"), encoding="utf-8")))
            shown = rows[row][col] if row < len(rows) and col < len(rows[row]) else ""
            if shown != text:
                failures.append(f"LibreOffice shows {place} as {shown!r}, want {text!r}")


def main():
    tool, template_path, expectations = sys.argv[1], sys.argv[2], sys.argv[3:]
    failures = []
    with tempfile.TemporaryDirectory() as work:
        subprocess.run([tool, template_path, work + "/"], check=True)
        report_path = os.path.join(work, "output", "report.xls")
        check_cells(template_path, report_path, failures)
        check_recalculation(report_path, expectations, failures)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
