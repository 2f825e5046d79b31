#!/usr/bin/python3
"""Checks reports written from templates with independent readers.

check_report.py FILL_TOOL TEMPLATE [SHEET!CELL=TEXT ...] [TEMPLATE [...] ...]

FILL_TOOL writes the report of fixed values from each TEMPLATE. python3-xlrd must
read the twelve report cells back as numbers with their exact values and every
other cell as in the template, except formula cells: their stored results must
be LibreOffice's own recalculation of the report (to 1e-12 relative), made from a
copy whose formula results are blanked so that LibreOffice cannot take them over.
SHEET!CELL=TEXT: LibreOffice's result there is TEXT (a number within 1e-12);
SHEET!CELL=? : the report leaves that formula's result empty for the reading
program to compute. TEMPLATE#TYPE@SHEET=SIZE is TEMPLATE with the first record of
TYPE (hex) in the sheet (0 the first) cut to SIZE bytes. All reports are
recalculated in one LibreOffice run.
"""
import io
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import xlrd
import xlrd.compdoc
import xlwt.CompoundDoc


def single(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


# The values the fill tool writes, as float32 widened to double; 2385123.5 and
# 5100001.5 round to their even neighbours.
EXPECTED = {(5, 2): 2385124.0, (5, 5): 5100002.0, (6, 2): 2385250.0, (6, 5): 5100250.0, (9, 1): single(26.448189)}
EXPECTED.update({(12, col): single(v) for col, v in enumerate([30.1, 40.2, 50.3, 60.4, 70.5, 80.6, 90.7], 1)})

BOF, EOF, BOUNDSHEET, FORMULA = 0x0809, 0x000A, 0x0085, 0x0006


def workbook_stream(data):
    return xlrd.compdoc.CompDoc(data, logfile=io.StringIO()).get_named_stream("Workbook")


def records(stream):
    """[type, data, sheet (-1 the globals), depth] of every record, in order."""
    out, pos, sheet, depth = [], 0, -2, 0
    while pos + 4 <= len(stream):
        kind, length = struct.unpack_from("<HH", stream, pos)
        data = bytearray(stream[pos + 4:pos + 4 + length])
        if kind == BOF:
            depth += 1
            sheet += depth == 1
        out.append([kind, data, sheet, depth])
        if kind == EOF:
            depth -= 1
        pos += 4 + length
    return out


def container(recs):
    """A compound file of the records, the sheet offsets of BOUNDSHEET set again."""
    starts, pos = [], 0
    for kind, data, sheet, depth in recs:
        if kind == BOF and depth == 1 and sheet >= 0:
            starts.append(pos)
        pos += 4 + len(data)
    bound = iter(starts)
    stream = bytearray()
    for kind, data, sheet, depth in recs:
        if kind == BOUNDSHEET and sheet == -1:
            data[0:4] = struct.pack("<I", next(bound))
        stream += struct.pack("<HH", kind, len(data)) + data
    out = io.BytesIO()
    xlwt.CompoundDoc.XlsDoc().save(out, bytes(stream))
    return out.getvalue()


def cut_template(path):
    """PATH#TYPE@SHEET=SIZE: the template with that record cut short."""
    path, spec = path.split("#")
    kind, rest = spec.split("@")
    sheet, size = (int(v) for v in rest.split("="))
    recs = records(workbook_stream(open(path, "rb").read()))
    record = next(r for r in recs if r[0] == int(kind, 16) and r[2] == sheet and r[3] == 1)
    del record[1][size:]
    return container(recs)


def uncached(report):
    """The report with every formula's result blanked (an empty text, no STRING)."""
    recs = [r for r in records(workbook_stream(report)) if r[0] != 0x0207]
    for kind, data, sheet, depth in recs:
        if kind == FORMULA and depth == 1:
            data[6:14] = bytes([3, 0, 0, 0, 0, 0, 0xFF, 0xFF])
    return container(recs)


def formula_cells(report):
    """(sheet index, row, col) of every FORMULA record of the sheets."""
    return {(sheet, *struct.unpack_from("<HH", data)) for kind, data, sheet, depth in
            records(workbook_stream(report)) if kind == FORMULA and depth == 1}


TABLE = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"
OFFICE = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"


def recalculate(paths, work):
    """LibreOffice's formula results of each workbook, one run for all:
    {path: {(sheet name, row, col): value}}, a value being a float, a str, or
    ("error", its text)."""
    subprocess.run(["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless", "--norestore",
                    "--convert-to", "fods", "--outdir", f"{work}/fods", *paths],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    results = {}
    for path in paths:
        base = os.path.splitext(os.path.basename(path))[0]
        cells = results[path] = {}
        for table in ET.parse(f"{work}/fods/{base}.fods").getroot().iter(TABLE + "table"):
            row = 0
            for element in table.iter(TABLE + "table-row"):
                col = 0
                for cell in element:
                    if cell.tag in (TABLE + "table-cell", TABLE + "covered-table-cell"):
                        if cell.get(TABLE + "formula") is not None:
                            cells[(table.get(TABLE + "name"), row, col)] = lo_value(cell)
                        col += int(cell.get(TABLE + "number-columns-repeated", "1"))
                row += int(element.get(TABLE + "number-rows-repeated", "1"))
    return results


def lo_value(cell):
    kind = cell.get(OFFICE + "value-type")
    text = "".join(cell.itertext()).strip()
    if kind in ("float", "percentage", "currency"):
        return float(cell.get(OFFICE + "value"))
    if kind == "boolean":
        return float(cell.get(OFFICE + "boolean-value") == "true")
    if kind == "string" and cell.get(OFFICE + "string-value") is not None and \
            (cell.get(OFFICE + "string-value") != "" or not text.startswith(("#", "Err:"))):
        return cell.get(OFFICE + "string-value")
    return ("error", text) if text.startswith(("#", "Err:")) else text


def ours(sheet, row, col):
    """The report's stored result as lo_value gives LibreOffice's."""
    kind, value = sheet.cell_type(row, col), sheet.cell_value(row, col)
    if kind in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_BOOLEAN):
        return float(value)
    if kind == xlrd.XL_CELL_ERROR:
        return ("error", xlrd.error_text_from_code[value])
    return value


def same(mine, theirs):
    if isinstance(mine, float) and isinstance(theirs, float):
        return abs(mine - theirs) <= 1e-12 * max(abs(mine), abs(theirs))
    return mine == theirs


def cell_name(row, col):
    return f"{chr(ord('A') + col)}{row + 1}"


def check_report(template, report, recalculated, marks, failures):
    """The report against its template and LibreOffice's recalculation;
    marks: {(sheet name, cell name): '?' or the text LibreOffice shows}."""
    before, after = xlrd.open_workbook(file_contents=template), xlrd.open_workbook(file_contents=report)
    formulas = formula_cells(report)
    if before.sheet_names() != after.sheet_names():
        failures.append("sheet names differ")
        return
    for index, (old, new) in enumerate(zip(before.sheets(), after.sheets())):
        for row in range(max(old.nrows, new.nrows)):
            for col in range(max(old.ncols, new.ncols)):
                where = f"{new.name}!{cell_name(row, col)}"
                inside = row < new.nrows and col < new.ncols
                got = ours(new, row, col) if inside else ""
                if (index, row, col) in formulas:
                    mark = marks.pop((new.name, cell_name(row, col)), None)
                    lo = recalculated.get((new.name, row, col))
                    if mark == "?":
                        if got != "":
                            failures.append(f"{where}: {got!r} stored, want it left to recalculation")
                    elif not same(got, lo):
                        failures.append(f"{where}: {got!r} stored, LibreOffice computes {lo!r}")
                    elif mark is not None and not same(lo, float(mark) if isinstance(lo, float) else mark):
                        failures.append(f"{where}: LibreOffice computes {lo!r}, want {mark!r}")
                    continue
                if index == 0 and (row, col) in EXPECTED:
                    want = EXPECTED[(row, col)]
                    ok = new.cell_type(row, col) == xlrd.XL_CELL_NUMBER and got == want
                else:
                    want = ours(old, row, col) if row < old.nrows and col < old.ncols else ""
                    ok = got == want
                if not ok:
                    failures.append(f"{where}: {got!r}, want {want!r}")
    for (sheet, cell) in marks:
        failures.append(f"{sheet}!{cell} holds no formula")


def fill(tool, template_bytes, work, name):
    """The report FILL_TOOL writes from the template, as bytes."""
    app = os.path.join(work, name)
    os.makedirs(app)
    with open(os.path.join(app, "template.xls"), "wb") as out:
        out.write(template_bytes)
    subprocess.run([tool, os.path.join(app, "template.xls"), app + "/"], check=True)
    return open(os.path.join(app, "output", "report.xls"), "rb").read()


def main():
    tool, cases = sys.argv[1], []
    for arg in sys.argv[2:]:
        if "=" in arg and "#" not in arg:
            place, text = arg.split("=", 1)
            sheet, cell = place.split("!")
            cases[-1][1][(sheet, cell)] = text
        else:
            cases.append((arg, {}))
    failures = []
    with tempfile.TemporaryDirectory() as work:
        runs = []
        for number, (template, marks) in enumerate(cases):
            template_bytes = cut_template(template) if "#" in template else open(template, "rb").read()
            report = fill(tool, template_bytes, work, f"case{number}")
            copy = os.path.join(work, f"case{number}.xls")
            with open(copy, "wb") as out:
                out.write(uncached(report))
            runs.append((template, template_bytes, report, copy, marks))
        recalculated = recalculate([copy for *_, copy, _ in runs], work)
        for template, template_bytes, report, copy, marks in runs:
            before = len(failures)
            check_report(template_bytes, report, recalculated[copy], marks, failures)
            failures[before:] = [f"{os.path.basename(template)}: {f}" for f in failures[before:]]
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
