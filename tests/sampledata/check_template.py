"""Opens the report template with xlrd, an independent reader of Excel 97-2003
files, and checks the cells the report writes and the labels around them."""
import sys

import xlrd

RETURN_PERIODS = [2, 5, 10, 20, 50, 100, 200]
TARGETS = ["C6", "F6", "C7", "F7", "B10"] + [c + "13" for c in "BCDEFGH"]


def cell(sheet, address):
    col = ord(address[0]) - ord("A")
    row = int(address[1:]) - 1
    if row >= sheet.nrows or col >= sheet.ncols:
        return None
    return sheet.cell(row, col)


def fmt(book, sheet, address):
    col = ord(address[0]) - ord("A")
    row = int(address[1:]) - 1
    xf = book.xf_list[sheet.cell_xf_index(row, col)]
    return book.format_map[xf.format_key].format_str


def main(path):
    book = xlrd.open_workbook(path, formatting_info=True)
    assert book.biff_version == 80, "not a BIFF8 workbook: %s" % book.biff_version
    sheet = book.sheet_by_index(0)
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    title = cell(sheet, "A1")
    expect(title is not None and "Tervania" in title.value, "A1 holds no title")
    for address, text in [("A6", "Punto"), ("B6", "E"), ("E6", "N"),
                          ("A7", "Centro cella"), ("B7", "E"), ("E7", "N"), ("A10", "a2")]:
        c = cell(sheet, address)
        expect(c is not None and c.ctype == xlrd.XL_CELL_TEXT and text in c.value,
               "%s should be a label with %r" % (address, text))
    for address in TARGETS:
        c = cell(sheet, address)
        expect(c is not None and c.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK, xlrd.XL_CELL_NUMBER),
               "%s should be a number or empty" % address)
    periods = [cell(sheet, c + "12").value for c in "BCDEFGH"]
    expect(periods == RETURN_PERIODS, "B12:H12 are %r" % periods)
    durations = [cell(sheet, "A%d" % r).value for r in range(17, 41)]
    expect(durations == list(range(1, 25)), "A17:A40 are %r" % durations)
    for address in ["C6", "F6", "C7", "F7"]:
        expect(fmt(book, sheet, address) == "0", "%s should show whole metres" % address)
    expect(fmt(book, sheet, "B10") == "0.000", "B10 format is %r" % fmt(book, sheet, "B10"))
    for c in "BCDEFGH":
        expect(fmt(book, sheet, c + "13") == "0.0", "%s13 should show tenths of mm" % c)
        expect(fmt(book, sheet, c + "40") == "0.0", "%s40 should show tenths of mm" % c)

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
