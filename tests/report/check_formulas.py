#!/usr/bin/python3
"""Checks the formula results a report stores against LibreOffice's.

check_formulas.py FILL_TOOL FIXTURE
check_formulas.py --write-fixture FIXTURE

The table below is built into a template with python3-xlwt; FIXTURE is the same
template as LibreOffice writes it (shared formulas, its own token order), made
with --write-fixture. FILL_TOOL writes the report of both; LibreOffice
recalculates them in one run. A formula marked True must hold LibreOffice's
result (1e-12 relative), one marked False must be left empty for the reading
program, because the spreadsheet programs disagree on it, its answer depends
on the reader's locale, or it is outside what the report computes. The xlwt
template saved with "precision as shown" must leave every formula empty, and
one whose ABS names no function of the table must leave that formula empty.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import xlwt

import check_report

FIRST_ROW = 19  # the table's first row on the first sheet: B20 onwards

# (formula, stored). J1:J10 and K1:K5 hold data, C6 F6 C7 F7 B10 B13:H13 the
# report's values, the sheet Dati more data and formulas.
TABLE = [
    # operators and precedence
    ("J1+K2", True), ("K2-J1", True), ("J1*K4", True), ("K2/K4", True), ("2^10", True),
    ("-2^2", True), ("2^3^2", True), ("-J1", True), ("50%", True), ("J1%", True),
    ("1+2*3-4/2", True), ("(1+2)*3", True), ("\"a\"&\"b\"&J20", True), ("J2+1", True),
    ("C6+F6", True), ("H13/B13", True), ("J20+1", True), ("J20", True), ("J20&\"\"", True),
    ("J4+1", True), ("\" 3 \"*2", True), ("\"-5\"+1", True),
    ("\"1E5\"+1", True), ("\" 25e-2 \"*4", True), ("\"-4e+2\"+1", True),
    # comparisons
    ("J1<K1", True), ("J1<=1.5", True), ("J1=1.5", True), ("J1>=2", True), ("J1>2", True),
    ("J1<>1.5", True), ("\"a\"<\"B\"", True), ("\"abc\"=\"ABC\"", True), ("1<\"a\"", True),
    ("J20=0", True), ("J20=\"\"", True),
    # errors
    ("\"-\"+1", True), ("\"\"+1", True), ("1/0", True), ("J5/J5", True), ("10^300*10^10", True),
    ("J9+1", True), ("SUM(J9,1)", True), ("IF(TRUE,1,J9)", True), ("AVERAGE(J3)", True),
    ("EXP(1000)", True), ("MOD(5,0)", True), ("OR(J2:J3)", True),
    # functions
    ("SUM(K1:K5)", True), ("SUM(J1:J3)", True), ("SUM(K1:K5,2,TRUE)", True), ("MIN(K1:K5)", True),
    ("MAX(K1:K5,J6)", True), ("AVERAGE(K1:K5)", True), ("COUNT(J1:J3,K1:K5)", True),
    ("ABS(J6)", True), ("SQRT(16)", True), ("EXP(1)", True), ("LN(10)", True), ("LOG(8,2)", True),
    ("LOG(100)", True), ("LOG10(0.001)", True), ("POWER(2,0.5)", True), ("PI()", True),
    ("ROUND(J7,2)", True), ("ROUND(-2.5,0)", True), ("ROUND(1234.5,-2)", True),
    ("ROUNDUP(2.11,1)", True), ("ROUNDDOWN(-1.99,1)", True), ("INT(-2.5)", True), ("INT(2.7)", True),
    ("MOD(-7,3)", True), ("MOD(7,-3)", True), ("IF(J1>1,\"big\",\"small\")", True),
    ("IF(J5,1,2)", True), ("AND(J1>0,K1>0)", True), ("AND(K1:K5)", True),
    ("OR(J5,J6>0)", True), ("NOT(J5)", True), ("CONCATENATE(\"x\",J8,\"y\")", True),
    ("IF(J1>0,1,VLOOKUP(1,J1:K5,2))", True), ("ROUND(1000000000000000.5,0)", True),
    ("ROUND(-1000000000000000.5,0)", True), ("ROUND(2.674999999999999,2)", True), ("ROUNDUP(2.1,1)", True),
    ("ROUNDDOWN(-2.1,1)", True), ("ROUNDUP(C13,0)", True), ("ROUNDDOWN(1234.9999999,0)", True),
    ("EXP(-1000)", True), ("MOD(-(10^-13),1)", True),
    # other sheets, and a chain through them
    ("Dati!A1*2", True), ("SUM(Dati!A1:A4)", True), ("Dati!A2&\"x\"", True), ("Dati!B1+1", True),
    ("Dati!B2*Dati!A4", True),
    # left to the reading program: the programs disagree, or it is not computed here
    ("0.1+0.2=0.3", False), ("0.1+0.2-0.3", False), ("TRUE>5", False), ("0^0", False),
    ("(-8)^(1/3)", False), ("SQRT(-1)", False), ("LN(0)", False), ("LOG(10,1)", False),
    ("SUM(J1:J7)", False), ("COUNT(J1:J7)", False), ("INT((0.1+0.7)*10)", False),
    ("MOD(0.3,0.1)", False), ("IF(J3,1,2)", False), ("NOT(J3)", False), ("CONCATENATE(J1,J4)", False),
    ("TRUE&\"\"", False), ("\"1/2/2000\"+1", False), ("\"\xe9\"<\"f\"", False),
    # numbers joined to text, and what depends on them: digits and separator are the reader's
    ("J1&\"\"", False), ("H13&\"\"", False), ("2/3&\"\"", False), ("-1234.5678&\"x\"", False),
    ("\"a\"&\"b\"&J1", False), ("CONCATENATE(\"x\",J1,\"y\")", False), ("CONCATENATE(1/3)", False),
    ("IF(J1&\"\"=\"1.5\",1,2)", False), ("B{previous}=\"1\"", False),
    # text read as a number by locale, booleans and words in arithmetic, numeric text too long
    ("\"1.5\"+1", False), ("\"5.\"+1", False), ("\"TRUE\"+1", False), ("\"VERO\"+1", False),
    ("J3+1", False), ("J10+1", False),
    # rounding near a boundary, or with digits that are not whole; MOD and powers at their limits
    ("ROUNDDOWN(1234.99999999999,0)", False), ("ROUNDUP(0.30000000000000004,1)", False),
    ("ROUND(1.25,1.5)", False), ("ROUNDUP(1.25,-1.5)", False), ("MOD(-(10^-20),1)", False),
    ("MOD(10^20,3)", False), ("10^-400", False), ("POWER(10,-400)", False),
    ("VLOOKUP(1,J1:K5,2)", False), ("B{self}+1", False), ("B{previous}+1", False),
]

# Runs of one formula down a column, which LibreOffice stores as shared
# formulas, and which of their four cells are stored (J1+4 is not whole, J3 a word).
SHARED = [("K{k}*$J$1+$C$6", [True] * 4), ("ROUND(K{k}/3,J{k}+4)", [False, True, False, True])]


def build_template(path):
    book = xlwt.Workbook()
    sheet = book.add_sheet("Formule")
    data = book.add_sheet("Dati")
    for row, value in enumerate([1.5, "3", "abc", True, 0, -2, 2.675, "x"]):
        sheet.write(row, 9, value)
    sheet.write(8, 9, xlwt.Formula("1/0"))
    sheet.write(9, 9, "0" * 300 + "7")
    for row, value in enumerate([10, 20.5, 30, -4, 0.001]):
        sheet.write(row, 10, value)
    for row, value in enumerate([5.5, "abc", 7, 2]):
        data.write(row, 0, value)
    data.write(0, 1, xlwt.Formula("Formule!C6/1000"))
    data.write(1, 1, xlwt.Formula("Formule!J1*2"))
    for index, formula in enumerate(rows()):
        sheet.write(FIRST_ROW + index, 0, formula)
        sheet.write(FIRST_ROW + index, 1, xlwt.Formula(formula))
    book.save(path)


def rows():
    """The formula of each row of the table, then of the shared runs."""
    out = []
    for formula, _ in TABLE:
        row = FIRST_ROW + len(out) + 1
        out.append(formula.format(self=row, previous=row - 1))
    for formula, _ in SHARED:
        out += [formula.format(k=k) for k in range(1, 5)]
    return out


def expectations(stored=True):
    """{(sheet, cell): '?' for the formulas left empty}, and every row's label;
    with stored False, every formula is left empty."""
    marks, labels = {}, {}
    known = [known and stored for _, known in TABLE] + [k and stored for _, run in SHARED for k in run]
    for index, (formula, known) in enumerate(zip(rows(), known)):
        cell = f"B{FIRST_ROW + index + 1}"
        labels[cell] = formula
        if not known:
            marks[("Formule", cell)] = "?"
    if not stored:
        marks.update({("Dati", "B1"): "?", ("Dati", "B2"): "?", ("Formule", "J9"): "?"})
    return marks, labels


def function_high_bit(template, formula):
    """The template with the function token of the table's formula given the
    high bit, which names no function of the table."""
    row = FIRST_ROW + [f for f, _ in TABLE].index(formula)
    recs = check_report.records(check_report.workbook_stream(template))
    data = next(r[1] for r in recs if r[0] == check_report.FORMULA and r[2] == 0 and r[1][0:2] == bytes([row, 0]))
    at = next(i for i in range(22, len(data) - 2) if data[i] in (0x21, 0x41, 0x61) and data[i + 1:i + 3] == b"\x18\x00")
    data[at + 2] = 0x80
    return check_report.container(recs), f"B{row + 1}"


def precision_as_shown(template):
    """The template with its PRECISION record saying "precision as shown"."""
    recs = check_report.records(check_report.workbook_stream(template))
    next(r for r in recs if r[0] == 0x000E and r[2] == -1)[1][0:2] = b"\x00\x00"
    return check_report.container(recs)


def write_fixture(path):
    with tempfile.TemporaryDirectory() as work:
        build_template(f"{work}/formulas.xls")
        subprocess.run(["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless",
                        "--norestore", "--convert-to", "xls:MS Excel 97", "--outdir", f"{work}/out",
                        f"{work}/formulas.xls"], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        shutil.copy(f"{work}/out/formulas.xls", path)


def main():
    if sys.argv[1] == "--write-fixture":
        write_fixture(sys.argv[2])
        return 0
    tool, fixture = sys.argv[1], sys.argv[2]
    failures = []
    with tempfile.TemporaryDirectory() as work:
        build_template(f"{work}/xlwt.xls")
        templates = {"xlwt": open(f"{work}/xlwt.xls", "rb").read(), "LibreOffice": open(fixture, "rb").read()}
        templates["precision as shown"] = precision_as_shown(templates["xlwt"])
        templates["no such function"], unknown_function = function_high_bit(templates["xlwt"], "ABS(J6)")
        shared = [r for r in check_report.records(check_report.workbook_stream(templates["LibreOffice"]))
                  if r[0] == 0x04BC and r[2] == 0]
        if len(shared) < len(SHARED):
            failures.append(f"the fixture holds {len(shared)} shared formulas, want {len(SHARED)}")
        runs = {}
        for name, template in templates.items():
            report = check_report.fill(tool, template, work, name)
            copy = f"{work}/{name}-copy.xls"
            with open(copy, "wb") as out:
                out.write(check_report.uncached(report))
            runs[name] = (template, report, copy)
        recalculated = check_report.recalculate([copy for *_, copy in runs.values()], work)
        for name, (template, report, copy) in runs.items():
            marks, labels = expectations(stored=name != "precision as shown")
            if name == "no such function":
                marks[("Formule", unknown_function)] = "?"
            found = []
            check_report.check_report(template, report, recalculated[copy], marks, found)
            for failure in found:
                cell = failure.split(":")[0].split("!")[-1]
                failures.append(f"{name} template, ={labels.get(cell, '')} {failure}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
