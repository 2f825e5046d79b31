"""EPA SWMM 5 reads quorvel-batch's design hyetographs as the storms they are.

Usage: test_swmm.py BATCH APP_FOLDER SWMM_SOURCE ENGINE_BUILD_DIR

Builds SWMM's command-line engine once (into ENGINE_BUILD_DIR), writes a
one-subcatchment model whose rain gage reads the hyetograph, as a rain gage
file or as [TIMESERIES] lines, runs it, and checks that SWMM's "Total
Precipitation" is the law's h(D, T) to the precision SWMM prints. Exits 77
(skipped) when the SWMM source is not there.
"""
import atexit
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BATCH, APP, SOURCE, ENGINE = (os.path.abspath(arg) for arg in sys.argv[1:5])
WORK = tempfile.mkdtemp(prefix="quorvel-swmm-")
atexit.register(shutil.rmtree, WORK, True)
POINT = ("P1", "2400000", "5100000")

MODEL = """[TITLE]
One subcatchment on Quorvel's design storm

[OPTIONS]
FLOW_UNITS CMS
INFILTRATION HORTON
FLOW_ROUTING KINWAVE
START_DATE 01/01/2000
START_TIME 00:00:00
REPORT_START_DATE 01/01/2000
REPORT_START_TIME 00:00:00
END_DATE 01/03/2000
END_TIME 00:00:00
WET_STEP 00:01:00
DRY_STEP 01:00:00
ROUTING_STEP 0:00:30
REPORT_STEP 01:00:00

[RAINGAGES]
RG1 INTENSITY {interval} 1.0 {source}

[SUBCATCHMENTS]
S1 RG1 O1 1 100 100 0.5 0

[SUBAREAS]
S1 0.01 0.1 0.05 0.05 0 OUTLET

[INFILTRATION]
S1 3.0 0.5 4 7 0

[OUTFALLS]
O1 0 FREE NO

[TIMESERIES]
{series}
"""


def engine():
    """SWMM's runswmm, built once into ENGINE."""
    runswmm = os.path.join(ENGINE, "src", "run", "runswmm")
    if not os.path.exists(runswmm):
        subprocess.run(["cmake", "-S", SOURCE, "-B", ENGINE, "-DCMAKE_BUILD_TYPE=Release"], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", ENGINE, "-j2", "--target", "runswmm"], check=True,
                       stdout=subprocess.DEVNULL)
    return runswmm


def batch(*options):
    """quorvel-batch on the one point; its results' lines."""
    points = os.path.join(WORK, "points.csv")
    with open(points, "w") as f:
        f.write("id,East,North\n" + ",".join(POINT) + "\n")
    results = os.path.join(WORK, "results.csv")
    subprocess.run([BATCH, points, "-o", results, "--folder", APP, *options], check=True,
                   stderr=subprocess.DEVNULL)
    with open(results) as f:
        return [line.rstrip("\n").split(",") for line in f]


class SwmmReadsTheStorm(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.runswmm = engine()

    def total_precipitation(self, model):
        inp, rpt, out = (os.path.join(WORK, "model" + ext) for ext in (".inp", ".rpt", ".out"))
        with open(inp, "w") as f:
            f.write(model)
        subprocess.run([self.runswmm, inp, rpt, out], check=True, stdout=subprocess.DEVNULL, cwd=WORK)
        with open(rpt) as f:
            report = f.read()
        found = re.search(r"Total Precipitation \.+\s+([0-9.]+)\s+([0-9.]+)", report)
        self.assertIsNotNone(found, report[-3000:])
        return found.group(2)

    def test_total_precipitation_is_the_law_for_both_forms(self):
        cases = [("2", 10, "chicago", "0.4", 100), ("1", 1, "chicago", "0.5", 10), ("6", 15, "alternating-blocks",
                 "0.4", 200), ("24", 60, "chicago", "0.3", 2), ("30min", 5, "alternating-blocks", "0.4", 50),
                 ("3", 30, "chicago", "0", 20)]
        for duration, step, method, peak, period in cases:
            header, row = batch("--durate", duration)
            depth = float(row[header.index("h_%s_T%d" % (duration, period))])
            interval = "%d:%02d" % divmod(step, 60)
            for form in ("rain", "swmm"):
                with self.subTest(duration=duration, step=step, method=method, form=form):
                    storms = os.path.join(WORK, "storms-%s-%d-%s" % (duration, step, form))
                    batch("--ietogramma", storms, "--durata", duration, "--passo", str(step), "--metodo", method,
                          "--picco", peak, "--tempo-ritorno", str(period), "--formato", form,
                          "--inizio", "2000-01-01T00:00")
                    if form == "rain":
                        source = 'FILE "%s" P1 MM' % os.path.join(storms, "P1.dat")
                        series = ""
                    else:
                        source = "TIMESERIES P1"
                        with open(os.path.join(storms, "P1.inp.txt")) as f:
                            series = f.read()
                    printed = self.total_precipitation(MODEL.format(interval=interval, source=source, series=series))
                    decimals = len(printed.split(".")[1])
                    # SWMM reads a rain file's values in single precision: half a unit of the last
                    # printed digit, and a hair for that.
                    self.assertLessEqual(abs(float(printed) - depth), 0.5 * 10 ** -decimals + 1e-6 * depth,
                                         (printed, depth))


if __name__ == "__main__":
    if not os.path.isdir(SOURCE):
        print("SWMM source not found at %s: skipped" % SOURCE)
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
