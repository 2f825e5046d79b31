"""quorvel-server holding on its own: data replaced under it, memory limits,
what it says about its folder, and nginx's own refusals.

Usage: test_server_holds.py SERVER APP_FOLDER SITE_FILE

Every server runs on a free loopback port over a copy of the sample folder;
each case has a timeout, and the server must be alive and exact afterwards.
"""
import collections
import concurrent.futures
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest
import urllib.parse

from serverproc import WORK, Nginx, Server, exchange, free_port, linked_folder, request

SERVER, APP, SITE = sys.argv[1:4]
POINTS = [(2400000 + 7919 * i % 60000, 5100000 + 4111 * i % 40000) for i in range(40)]
GRIDS = ["grd/param_a2.ras", "grd/param_a1.ras", "grd/param_cv.ras"]


def copy_folder(name):
    """The sample folder with grids of its own, to be replaced or broken."""
    return linked_folder(APP, name, copied=GRIDS)


def peak_memory_kb(server):
    with open("/proc/%d/status" % server.process.pid) as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))


def rain_target(east, north):
    return "/api/v1/rain?" + urllib.parse.urlencode({"east": east, "north": north})


def numbers(body):
    """The answer without the sample flag, which speaks of the folder rather than the grids."""
    answer = json.loads(body)
    answer.pop("sample", None)
    return json.dumps(answer, sort_keys=True)


def rains(server):
    result = {}
    for point in POINTS:
        status, _, body = server.get(rain_target(*point))
        result[point] = (status, numbers(body) if status == 200 else body)
    return result


def assert_busy(test, status, headers, body, what):
    """A 503 as the API says it: Retry-After and the one JSON error shape."""
    test.assertEqual(status, 503, what)
    test.assertTrue(int(headers.get("Retry-After", "0")) > 0, what)
    error = json.loads(body)["error"]
    test.assertEqual(sorted(error), ["en", "it", "kind"], what)


def scaled_raster(path, factor):
    with open(path, "rb") as f:
        data = f.read()
    values = struct.unpack("<%df" % (len(data) // 4), data)
    return struct.pack("<%df" % len(values), *(v * factor if v > 0 else v for v in values))


class DataReplaced(unittest.TestCase):
    """Grids replaced while a client asks: every answer is the old grids' or the new ones'."""

    @classmethod
    def setUpClass(cls):
        cls.folder = copy_folder("replaced")
        cls.old = {name: open(os.path.join(cls.folder, name), "rb").read() for name in GRIDS}
        cls.new = {name: scaled_raster(os.path.join(cls.folder, name), 1.25) for name in GRIDS[:2]}
        reference = copy_folder("reference")
        for name, data in cls.new.items():
            with open(os.path.join(reference, name), "wb") as f:
                f.write(data)
        server = Server(SERVER, reference)
        cls.expected_new = rains(server)
        server.stop()
        cls.server = Server(SERVER, cls.folder)
        cls.addClassCleanup(cls.server.stop)
        cls.expected_old = rains(cls.server)

    def by_mv(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.rename(path + ".tmp", path)

    def by_cp(self, name, data):
        source = os.path.join(WORK, "source.ras")
        with open(source, "wb") as f:
            f.write(data)
        subprocess.run(["cp", source, os.path.join(self.folder, name)], check=True)

    def by_slow_rewrite(self, name, data):
        with open(os.path.join(self.folder, name), "r+b") as f:
            for start in range(0, len(data), 16384):
                f.write(data[start:start + 16384])
                f.flush()
                time.sleep(0.02)

    def replace_while_asking(self, replace, version, expected):
        stop = threading.Event()
        faults, counts = [], {"old": 0, "new": 0, "busy": 0}

        def client():
            while not stop.is_set():
                for point in POINTS:
                    status, headers, body = self.server.get(rain_target(*point), timeout=20)
                    if status == 503 and int(headers.get("Retry-After", "0")) > 0:
                        counts["busy"] += 1
                        continue
                    answer = (status, numbers(body) if status == 200 else body)
                    if answer == self.expected_old[point]:
                        counts["old"] += 1
                    elif answer == self.expected_new[point]:
                        counts["new"] += 1
                    else:
                        faults.append((point, status, body[:200]))

        thread = threading.Thread(target=client)
        thread.start()
        try:
            time.sleep(0.2)
            for name, data in version.items():
                replace(name, data)
            deadline = time.time() + 10
            while time.time() < deadline and rains(self.server) != expected:
                time.sleep(0.1)
        finally:
            stop.set()
            thread.join(timeout=30)
        self.assertEqual(faults[:3], [])
        self.assertEqual(rains(self.server), expected)
        return counts

    def test_every_answer_is_the_old_or_the_new_grids(self):
        for how, replace in [("mv", self.by_mv), ("cp", self.by_cp), ("slow rewrite", self.by_slow_rewrite)]:
            with self.subTest(how=how):
                counts = self.replace_while_asking(replace, self.new, self.expected_new)
                self.assertGreater(counts["old"], 0, how)
                counts = self.replace_while_asking(replace, {n: self.old[n] for n in self.new}, self.expected_old)
                self.assertGreater(counts["new"], 0, how)


class WhatItSays(unittest.TestCase):
    """Health and errors name files within the data folder, never where it lies."""

    def test_no_absolute_path_and_no_exception_name(self):
        folder = copy_folder("broken")
        server = Server(SERVER, folder)
        self.addCleanup(server.stop)
        status, _, body = server.get("/api/v1/health")
        self.assertEqual(status, 200)
        self.assertNotIn(folder.encode(), body)
        self.assertEqual(json.loads(body)["folder"], "broken")
        with open(os.path.join(folder, "grd/param_cv.ras"), "r+b") as f:
            f.truncate(1000)
        # The grids held answer until the broken set has rested.
        deadline = time.time() + 10
        while server.get("/api/v1/health")[0] == 200 and time.time() < deadline:
            time.sleep(0.1)
        for target in ["/api/v1/rain?east=2400000&north=5100000", "/api/v1/health"]:
            status, _, body = server.get(target)
            self.assertEqual(status, 500, target)
            self.assertNotIn(folder.encode(), body, target)
            self.assertNotIn(b"std::", body, target)
            self.assertIn(b"grd/param_cv.ras", body, target)
        self.assertTrue(server.stop())


GETMAP_4096 = "/wms?" + urllib.parse.urlencode({
    "SERVICE": "WMS", "VERSION": "1.3.0", "REQUEST": "GetMap", "LAYERS": "quorvel", "STYLES": "",
    "CRS": "EPSG:3004", "BBOX": "2310000,5040000,2490000,5170000", "WIDTH": 4096, "HEIGHT": 4096,
    "FORMAT": "image/png"})


def batch_body(megabytes):
    line = b"P,2400000.5,5100000.5\n"
    return b"id,East,North\n" + line * ((megabytes << 20) // len(line) - 1)


class MemoryCeiling(unittest.TestCase):
    """Floods under a 2 GiB address space: 200 or 503, and the server stays up and exact."""

    def flood(self, server, count, request):
        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            return list(pool.map(lambda _: request(), range(count), timeout=300))

    def test_floods_get_503_and_the_server_stays_up(self):
        if "ASAN_OPTIONS" in os.environ:
            self.skipTest("AddressSanitizer reserves more address space than the limit allows")
        server = Server(SERVER, APP, prefix=["prlimit", "--as=%d" % (2 << 30), "--"])
        self.addCleanup(server.stop)
        before = rains(server)
        body = batch_body(10)
        rows = [
            ("128 GetMaps of 4096 x 4096", 128, lambda: server.get(GETMAP_4096, timeout=120)),
            ("8 batches of 10 MiB", 8, lambda: server.get("/api/v1/batch", {"Content-Type": "text/csv"},
                                                          "POST", body, timeout=120)),
        ]
        for what, count, request in rows:
            answers = self.flood(server, count, request)
            statuses = [status for status, _, _ in answers]
            self.assertIn(200, statuses, what)
            self.assertIn(503, statuses, what)
            for status, headers, answer in answers:
                if status != 200:
                    assert_busy(self, status, headers, answer, what)
            self.assertIsNone(server.process.poll(), what)
            self.assertEqual(rains(server), before, what)
            reasons = collections.Counter(json.loads(b)["error"]["en"] for s, _, b in answers if s != 200)
            print("%s: %d drawn or run, refused %s, peak resident %d MB" % (
                what, statuses.count(200), dict(reasons), peak_memory_kb(server) // 1024), file=sys.stderr)
        self.assertLess(peak_memory_kb(server), 1500 << 10)
        self.assertTrue(server.stop())


@unittest.skipUnless(shutil.which("nginx"), "needs nginx")
class BehindNginx(unittest.TestCase):
    """The shipped site: nginx's own refusals in the API's JSON, and usable map addresses."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(SERVER, APP)
        cls.addClassCleanup(cls.server.stop)
        cls.silent = socket.socket()
        cls.addClassCleanup(cls.silent.close)
        cls.silent.bind(("127.0.0.1", 0))
        cls.silent.listen(64)
        cls.nginx = [Nginx(SITE, backend, read_timeout) for backend, read_timeout in
                     [(cls.server.port, 60), (free_port(), 60), (cls.silent.getsockname()[1], 2)]]
        for nginx in cls.nginx:
            cls.addClassCleanup(nginx.stop)

    def test_nginx_refusals_are_json(self):
        live, down, silent = (nginx.port for nginx in self.nginx)
        rows = [
            ("bad request", live, b"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400),
            ("body too large", live, b"POST /api/v1/batch HTTP/1.1\r\nHost: a\r\nContent-Length: 20971520\r\n"
                                     b"Connection: close\r\n\r\n", 413),
            ("line too long", live, b"GET /api/v1/rain?" + b"x" * 20000 + b" HTTP/1.1\r\nHost: a\r\n\r\n", 414),
            ("server down", down, b"GET /api/v1/health HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 502),
            ("server silent", silent, b"GET /api/v1/health HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 504),
        ]
        for what, port, data, status in rows:
            [(got, headers, body)] = exchange(port, data, timeout=15)
            self.assertEqual(got, status, what)
            self.assertTrue(headers.get("content-type", "").startswith("application/json"), what)
            self.assertEqual(sorted(json.loads(body)["error"]), ["en", "it", "kind"], what)
        self.assertEqual(self.server.get("/api/v1/health")[0], 200)

    def test_capabilities_lead_back_through_nginx(self):
        live = self.nginx[0].port
        body = request(live, "/wms?SERVICE=WMS&REQUEST=GetCapabilities")[2]
        self.assertIn(b'xlink:href="http://127.0.0.1:%d/wms?' % live, body)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
