#!/usr/bin/python3
"""Every front end meets a data file that is not a regular file and ends with
a message naming it, never waiting for ever.

test_data_files.py QUORVEL QUORVEL_BATCH QUORVEL_SERVER APP_DIR

For each data file in turn, a copy of the application folder (each file a
link to the sample's) gets in that file's place a FIFO, a link to /dev/zero or
a folder. Then quorvel-batch (with reports and PDF sheets), its --verifica,
the server's first requests and the window's start offscreen each run under a
time bound. A program that fails names the file; one still running at the
bound must be the window, idle in its event loop (or its message box).
"""

import http.client
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

WINDOW, BATCH, SERVER, APP = (os.path.abspath(arg) for arg in sys.argv[1:5])
del sys.argv[1:5]

# The files each front end reads: the grids, their headers and the sample
# mark, the template, the municipality table, and map files with a sidecar.
DATA_FILES = [
    "grd/param_a2.hdr", "grd/param_a2.ras", "grd/param_a1.hdr", "grd/param_a1.ras",
    "grd/param_cv.hdr", "grd/param_cv.ras", "grd/DATI_DI_ESEMPIO.txt",
    "programs/prototipo/pioggeTRNprot.xls", "dat/comuniPolyRid.dat",
    "Shp/comuniPoly.shp", "Shp/comuniPoly.prj", "Raster/UD.tif",
]
KINDS = ["fifo", "dev-zero", "folder"]
BOUND = 20  # seconds; a hang is forever, the slowest honest start a few seconds


def place(path, kind):
    os.remove(path)
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "dev-zero":
        os.symlink("/dev/zero", path)
    else:
        os.mkdir(path)


def app_copy(root):
    """The sample's application folder with every file a link of its own."""
    for top in ("grd", "dat", "Shp", "Raster", "programs"):
        for folder, _, files in os.walk(os.path.join(APP, top)):
            target = os.path.join(root, os.path.relpath(folder, APP))
            os.makedirs(target, exist_ok=True)
            for name in files:
                os.symlink(os.path.join(folder, name), os.path.join(target, name))
    os.makedirs(os.path.join(root, "output"))
    os.symlink(WINDOW, os.path.join(root, "Quorvel"))


def main_thread_waits(pid):
    """True when the process sleeps in poll or select: an event loop, not a read."""
    try:
        with open(f"/proc/{pid}/wchan") as wchan:
            where = wchan.read()
        with open(f"/proc/{pid}/stat") as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state == "S" and ("poll" in where or "select" in where)


def run_bounded(command, cwd, env=None, idle_ends=False):
    """(status, or None when stopped; whether it was stopped waiting; its output).
    With idle_ends, a process found twice running waiting in its event loop
    is stopped there: a window waits for the user for ever."""
    with tempfile.TemporaryFile() as log:
        process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                   env=env)
        start, idle, status, waiting = time.time(), 0, None, False
        while time.time() - start < BOUND:
            status = process.poll()
            if status is not None:
                break
            idle = idle + 1 if idle_ends and time.time() - start > 2 and main_thread_waits(process.pid) else 0
            if idle == 2:
                waiting = True
                break
            time.sleep(0.25)
        if status is None:
            process.kill()
            process.wait()
        log.seek(0)
        return status, waiting, log.read().decode("utf-8", "replace")


class DataFileNotRegular(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="quorvel-datafiles-")
        self.app = os.path.join(self.scratch, "app")
        app_copy(self.app)
        with open(os.path.join(self.scratch, "points.csv"), "w") as points:
            points.write("id,East,North\nA,2400000,5100000\n")

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def expect_named(self, label, relative, status, output):
        if status != 0:
            self.assertIn(os.path.basename(relative), output, f"{label}: status {status}, no file named")

    def batch(self, relative):
        results = os.path.join(self.scratch, "results.csv")
        status, _, output = run_bounded([BATCH, "points.csv", "-o", results, "--folder", self.app,
                                         "--reports", "reports", "--pdf", "sheets"], self.scratch)
        self.assertIsNotNone(status, "quorvel-batch did not end")
        if os.path.exists(results):
            with open(results, encoding="utf-8", errors="replace") as written:
                output += written.read()
        self.expect_named("quorvel-batch", relative, status, output)

    def check(self, relative):
        status, _, output = run_bounded([BATCH, "--verifica", self.app], self.scratch)
        self.assertIsNotNone(status, "--verifica did not end")
        self.expect_named("--verifica", relative, status, output)

    def server(self, relative):
        log = tempfile.TemporaryFile()
        self.addCleanup(log.close)
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)
        process = subprocess.Popen([SERVER, "--folder", self.app, "--listen", "127.0.0.1:0"], stdout=log,
                                   stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
        try:
            port = None
            deadline = time.time() + BOUND
            while port is None and time.time() < deadline and process.poll() is None:
                log.seek(0)
                first = log.readline().decode("utf-8", "replace")
                if "listening on http://127.0.0.1:" in first:
                    port = int(first.split("127.0.0.1:")[1].split("/")[0])
                time.sleep(0.05)
            if port is None:
                self.assertIsNotNone(process.poll(), "the server neither listens nor ends")
                log.seek(0)
                self.assertIn(os.path.basename(relative), log.read().decode("utf-8", "replace"))
                return
            for target in ("/api/v1/rain?east=2400000&north=5100000", "/api/v1/report?east=2400000&north=5100000",
                           "/api/v1/comuni", "/api/v1/health"):
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=BOUND)
                try:
                    conn.request("GET", target)
                    answer = conn.getresponse()
                    body = answer.read().decode("utf-8", "replace")
                except OSError as error:
                    self.fail(f"{target}: no answer ({error})")
                finally:
                    conn.close()
                if answer.status != 200:
                    self.assertIn(os.path.basename(relative), body, f"{target}: {answer.status}")
        finally:
            process.kill()
            process.wait()

    def window(self, relative):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        status, waiting, output = run_bounded([WINDOW], self.app, env, idle_ends=True)
        if status is None:
            self.assertTrue(waiting, "the window is still busy, not waiting for the user")
            # A failed start is said in a message box, and on standard error.
            for line in output.splitlines():
                if line.startswith("Quorvel: "):
                    self.assertIn(os.path.basename(relative), line)
        else:
            self.expect_named("the window", relative, status, output)

    def test_every_front_end_ends_or_waits_naming_the_file(self):
        for relative in DATA_FILES:
            for kind in KINDS:
                for front in (self.batch, self.check, self.server, self.window):
                    with self.subTest(file=relative, kind=kind, front=front.__name__):
                        self.tearDown()
                        self.setUp()
                        place(os.path.join(self.app, relative), kind)
                        front(relative)


if __name__ == "__main__":
    unittest.main()
