#!/usr/bin/python3
"""quorvel-batch writes the same files whatever the user's locale.

check_locale.py QUORVEL_BATCH APP_FOLDER

In a copy of APP_FOLDER whose template has formulas that round and join the
report's numbers, quorvel-batch runs one point under LC_ALL=C and under
LC_ALL=it_IT.UTF-8, each time with and without --pdf (which starts Qt, and Qt
takes the user's locale). The results CSV and the report must be the same to
the byte in all four runs, and the report's stored results those of the C run
computed here.
"""
import decimal
import math
import os
import subprocess
import sys
import tempfile

import xlrd
import xlwt

TEMPLATE = "programs/prototipo/pioggeTRNprot.xls"
POINT = "P,2418659,5159030\n"
# Row 14 of the first sheet, under the report's B10 (a2) and B13:H13 (the heights).
FORMULAS = ["ROUND(B13,1)", "ROUNDUP(C13,0)", 'B10&""', "ROUND(B10,3)*1000"]
LOCALES = ["C", "it_IT.UTF-8"]


def build_template(path):
    book = xlwt.Workbook()
    sheet = book.add_sheet("Report")
    for column, formula in enumerate(FORMULAS, 1):
        sheet.write(13, column, xlwt.Formula(formula))
    book.save(path)


def copy_folder(source, target):
    """The application folder as links, the template a file of its own."""
    for folder, _, files in os.walk(source):
        inside = os.path.join(target, os.path.relpath(folder, source))
        os.makedirs(inside, exist_ok=True)
        for name in files:
            os.symlink(os.path.join(folder, name), os.path.join(inside, name))
    os.remove(os.path.join(target, TEMPLATE))
    build_template(os.path.join(target, TEMPLATE))


def half_up(value, places):
    step = decimal.Decimal(1).scaleb(-places)
    return float(decimal.Decimal(repr(value)).quantize(step, decimal.ROUND_HALF_UP))


def main():
    tool, app = sys.argv[1], sys.argv[2]
    failures = []
    available = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    if "it_it.utf8" not in available:
        print("FAIL: the locale it_IT.UTF-8 is not installed (tools/install-deps.sh generates it)")
        return 1
    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "app")
        copy_folder(app, folder)
        with open(os.path.join(folder, "points.csv"), "w") as out:
            out.write("id,East,North\n" + POINT)
        files = {}
        for name in LOCALES:
            for pdf in (False, True):
                run = f"{name}{' --pdf' if pdf else ''}"
                out = os.path.join(work, run.replace(" ", ""))
                command = [tool, "points.csv", "-o", f"{out}/results.csv", "--reports", f"{out}/reports"]
                if pdf:
                    command += ["--pdf", f"{out}/sheets"]
                env = dict(os.environ, LC_ALL=name, LANG=name, QT_QPA_PLATFORM="offscreen")
                done = subprocess.run(command, cwd=folder, env=env, capture_output=True, text=True, timeout=120)
                if done.returncode != 0:
                    failures.append(f"{run}: status {done.returncode}: {done.stderr.strip()}")
                    continue
                files[run] = {kind: open(f"{out}/{kind}", "rb").read() for kind in ("results.csv", "reports/P.xls")}
        first = files.get("C")
        for run, outputs in files.items():
            for kind, data in outputs.items():
                if first is not None and data != first[kind]:
                    failures.append(f"{run}: {kind} differs from the one written under C")
        if first is not None:
            sheet = xlrd.open_workbook(file_contents=first["reports/P.xls"]).sheet_by_index(0)
            a2, q2, q5 = sheet.cell_value(9, 1), sheet.cell_value(12, 1), sheet.cell_value(12, 2)
            # A number joined to text is left to the reader, whose locale writes it.
            expected = {1: half_up(q2, 1), 2: float(math.ceil(q5)), 3: "", 4: half_up(a2, 3) * 1000}
            for column, want in expected.items():
                got = sheet.cell_value(13, column)
                if got != want:
                    failures.append(f"{'ABCDE'[column]}14 ={FORMULAS[column - 1]}: {got!r} stored, want {want!r}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
