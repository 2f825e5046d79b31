"""quorvel-server holding on its own: data replaced under it, memory limits,
what it says about its folder, and nginx's own refusals.

Usage: test_server_holds.py SERVER APP_FOLDER SITE_FILE

Every server runs on a free loopback port over a copy of the sample folder;
each case has a timeout, and the server must be alive and exact afterwards.
"""
import collections
import concurrent.futures
import http.client
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

SERVER, APP, SITE = sys.argv[1:4]
WORK = tempfile.mkdtemp(prefix="quorvel-holds-")
POINTS = [(2400000 + 7919 * i % 60000, 5100000 + 4111 * i % 40000) for i in range(40)]
GRIDS = ["grd/param_a2.ras", "grd/param_a1.ras", "grd/param_cv.ras"]


def copy_folder(name):
    folder = os.path.join(WORK, name)
    shutil.copytree(APP, folder, symlinks=False,
                    ignore=shutil.ignore_patterns("output", "web", "*.so*", "quorvel*"))
    return folder


class Server:
    def __init__(self, folder, *extra, prefix=()):
        self.log_path = os.path.join(WORK, "server-%d.log" % id(self))
        self.log = open(self.log_path, "w+")
        self.process = subprocess.Popen([*prefix, SERVER, "--folder", folder, "--listen", "127.0.0.1:0", *extra],
                                        stderr=self.log, stdin=subprocess.DEVNULL)
        deadline = time.time() + 30
        while time.time() < deadline:
            with open(self.log_path) as log:
                first = log.readline()
            if "listening on http://127.0.0.1:" in first:
                self.port = int(first.split("127.0.0.1:")[1].split("/")[0])
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("the server did not start: " + open(self.log_path).read())

    def get(self, target, method="GET", body=None, headers=None, timeout=60):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, target, body=body, headers=headers or {})
            response = conn.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            conn.close()

    def peak_memory_kb(self):
        with open("/proc/%d/status" % self.process.pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        alive = self.process.poll() is None
        self.process.terminate()
        self.process.wait(timeout=20)
        self.log.close()
        return alive


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
        server = Server(reference)
        cls.expected_new = rains(server)
        server.stop()
        cls.server = Server(cls.folder)
        cls.expected_old = rains(cls.server)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

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
        server = Server(folder)
        try:
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
        finally:
            self.assertTrue(server.stop())

    def test_report_names_follow_the_desktop(self):
        server = Server(APP)
        try:
            rows = [("Citt\u00e0 di Berl\u00ecs.xls", 200, 'filename="Citta di Berlis.xls"'),
                    ("Piogge.XLS", 200, 'filename="Piogge.xls"'),
                    ("CON", 400, None), ("a:b", 400, None), ("\u202eslx.exe", 400, None),
                    ("x" * 121, 400, None), ("dot.", 400, None)]
            for name, status, disposition in rows:
                target = "/api/v1/report?" + urllib.parse.urlencode({"east": 2400000, "north": 5100000, "name": name})
                got, headers, _ = server.get(target)
                self.assertEqual(got, status, name)
                if disposition:
                    self.assertIn(disposition, headers["Content-Disposition"], name)
        finally:
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
        server = Server(APP, prefix=["prlimit", "--as=%d" % (2 << 30), "--"])
        try:
            before = rains(server)
            body = batch_body(10)
            rows = [
                ("128 GetMaps of 4096 x 4096", 128, lambda: server.get(GETMAP_4096, timeout=120)),
                ("8 batches of 10 MiB", 8, lambda: server.get("/api/v1/batch", "POST", body,
                                                              {"Content-Type": "text/csv"}, timeout=120)),
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
                    what, statuses.count(200), dict(reasons), server.peak_memory_kb() // 1024), file=sys.stderr)
            self.assertLess(server.peak_memory_kb(), 1500 << 10)
        finally:
            self.assertTrue(server.stop())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def raw(port, data, timeout=15):
    """The status and body nginx answers to bytes sent as they are."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        received = b""
        while True:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            received += chunk
    head, _, body = received.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    headers = dict(line.split(b": ", 1) for line in lines[1:] if b": " in line)
    return int(lines[0].split()[1]), headers, body


@unittest.skipUnless(shutil.which("nginx"), "needs nginx")
class BehindNginx(unittest.TestCase):
    """The shipped site: nginx's own refusals in the API's JSON, and usable map addresses."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(APP)
        cls.silent = socket.socket()
        cls.silent.bind(("127.0.0.1", 0))
        cls.silent.listen(64)
        cls.nginx = []
        try:
            for name, backend, timeout in [("live", cls.server.port, 60), ("down", free_port(), 60),
                                           ("silent", cls.silent.getsockname()[1], 2)]:
                cls.nginx.append(cls.start_nginx(name, backend, read_timeout=timeout))
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_nginx(cls, name, backend, read_timeout=60):
        port = free_port()
        with open(SITE) as f:
            site = f.read()
        site = site.replace("listen 80;", "listen 127.0.0.1:%d;" % port).replace("listen [::]:80;", "")
        site = site.replace("server 127.0.0.1:8080;", "server 127.0.0.1:%d;" % backend)
        site = site.replace("proxy_read_timeout 60s;", "proxy_read_timeout %ds;" % read_timeout)
        root = os.path.join(WORK, "nginx-" + name)
        os.makedirs(root)
        # The tiles' cache lives with this nginx, not in the system's folder.
        site = site.replace("/var/cache/nginx/quorvel", os.path.join(root, "cache"))
        with open(os.path.join(root, "site"), "w") as f:
            f.write(site)
        with open(os.path.join(root, "nginx.conf"), "w") as f:
            f.write("""%(user)s
worker_processes 1;
pid %(root)s/nginx.pid;
error_log %(root)s/error.log;
daemon off;
events { worker_connections 256; }
http {
    access_log off;
    client_body_temp_path %(root)s/body;
    proxy_temp_path %(root)s/proxy;
    fastcgi_temp_path %(root)s/fastcgi;
    uwsgi_temp_path %(root)s/uwsgi;
    scgi_temp_path %(root)s/scgi;
    include %(root)s/site;
}
""" % {"root": root, "user": "user root;" if os.geteuid() == 0 else ""})
        process = subprocess.Popen(["nginx", "-p", root, "-c", os.path.join(root, "nginx.conf")],
                                   stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return process, port
            except OSError:
                time.sleep(0.05)
        process.kill()
        process.wait()
        raise RuntimeError("nginx did not start")

    @classmethod
    def tearDownClass(cls):
        for process, _ in cls.nginx:
            process.terminate()
            process.wait(timeout=10)
        cls.silent.close()
        cls.server.stop()

    def test_nginx_refusals_are_json(self):
        live, down, silent = (port for _, port in self.nginx)
        rows = [
            ("bad request", live, b"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400),
            ("body too large", live, b"POST /api/v1/batch HTTP/1.1\r\nHost: a\r\nContent-Length: 20971520\r\n"
                                     b"Connection: close\r\n\r\n", 413),
            ("line too long", live, b"GET /api/v1/rain?" + b"x" * 20000 + b" HTTP/1.1\r\nHost: a\r\n\r\n", 414),
            ("server down", down, b"GET /api/v1/health HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 502),
            ("server silent", silent, b"GET /api/v1/health HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 504),
        ]
        for what, port, data, status in rows:
            got, headers, body = raw(port, data)
            self.assertEqual(got, status, what)
            self.assertTrue(headers.get(b"Content-Type", b"").startswith(b"application/json"), what)
            self.assertEqual(sorted(json.loads(body)["error"]), ["en", "it", "kind"], what)
        self.assertEqual(self.server.get("/api/v1/health")[0], 200)

    def test_capabilities_lead_back_through_nginx(self):
        live = self.nginx[0][1]
        conn = http.client.HTTPConnection("127.0.0.1", live, timeout=30)
        conn.request("GET", "/wms?SERVICE=WMS&REQUEST=GetCapabilities")
        body = conn.getresponse().read().decode()
        conn.close()
        self.assertIn('xlink:href="http://127.0.0.1:%d/wms?' % live, body)


if __name__ == "__main__":
    try:
        unittest.main(argv=sys.argv[:1], verbosity=2)
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
