"""quorvel-server against hostile and careless clients, on its own, with no proxy in front.

Usage: test_connections.py SERVER APP_FOLDER

Each row of the hostile table runs with a timeout; after each, the server still
answers, and answers exactly what it answered before.
"""
import http.client
import resource
import signal
import socket
import sys
import threading
import time
import unittest

from serverproc import Server, ServerCase, answers, exchange, read_all

SERVER, APP = sys.argv[1:3]
RAIN = "/api/v1/rain?east=2381000&north=5118000"
HEAD_TIME = 10  # the server's time for a request's head

# Enough descriptors of our own for the crowd of connections.
_, _hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (_hard, _hard))


HEALTH = b"GET /api/v1/health HTTP/1.1\r\n\r\n"
SMUGGLED = HEALTH * 4


def head(count):
    """A GET of RAIN whose head has count lines."""
    return b"GET %s HTTP/1.1\r\nHost: q\r\n" % RAIN.encode() + b"".join(
        b"X-%d: a\r\n" % i for i in range(count - 2)) + b"Connection: close\r\n\r\n"


def batch(fields):
    """A POST of the batch with these length fields, and a request after it."""
    return b"POST /api/v1/batch HTTP/1.1\r\n" + fields + b"\r\nid,E,\r\n" + HEALTH


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:")) / 1024


class Hostile(ServerCase):
    arguments = (SERVER, APP)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        status, _, cls.rain = cls.server.get(RAIN)
        assert status == 200, status

    def test_each_row_is_answered_and_the_server_goes_on(self):
        table = [
            ("100 header lines", self.answered(head(100), [(200, "close", None)])),
            ("101 header lines", self.answered(head(101), [(431, "close", None)])),
            ("a header of 17 KiB", self.answered(b"GET %s HTTP/1.1\r\nX-Long: %s\r\n\r\n"
                                                 % (RAIN.encode(), b"a" * 17408), [(431, "close", None)])),
            ("header flood of 4,000,000 lines", self.header_flood),
            ("1,000 idle connections", self.idle_connections),
            ("200 slowloris connections", self.slowloris),
            ("chunked body trickled", self.trickled_body),
            ("Expect: 100-continue, 11 MiB", self.expect_oversized),
            ("chunked POST to a GET route", self.answered(
                b"POST /api/v1/rain HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n%x\r\n%s\r\n0\r\n\r\n"
                % (len(SMUGGLED), SMUGGLED), [(405, "close", "GET, HEAD")])),
            ("three GETs in one write", self.pipelined),
            ("two different Content-Lengths", self.answered(batch(b"Content-Length: 5\r\nContent-Length: 6\r\n"),
                                                            [(400, "close", None)])),
            ("negative Content-Length", self.answered(batch(b"Content-Length: -5\r\n"), [(400, "close", None)])),
            ("Content-Length and chunked", self.answered(batch(b"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n"),
                                                         [(400, "close", None)])),
            ("bare LF line ends", self.answered(b"GET /api/v1/health HTTP/1.1\nHost: q\n\n" + HEALTH,
                                                [(400, "close", None)])),
        ]
        for name, row in table:
            with self.subTest(name):
                outcome = []

                def run():
                    try:
                        outcome.append(row())
                    except Exception as error:  # the row's failure, told by the test's thread
                        outcome.append(repr(error))
                worker = threading.Thread(target=run, daemon=True)
                worker.start()
                worker.join(60)
                self.assertFalse(worker.is_alive(), name + ": no outcome within 60 s")
                self.assertEqual(outcome, [None], name)
                self.assertIsNone(self.server.process.poll(), "after " + name)
                self.assertEqual(self.server.get(RAIN, timeout=5)[::2], (200, self.rain), "after " + name)

    def answered(self, request, expected):
        """A row: the status, Connection and Allow of each answer to the request."""
        def row():
            got = exchange(self.server.port, request)
            self.assertEqual([(a[0], a[1].get("connection"), a[1].get("allow")) for a in got], expected)
        return row

    def header_flood(self):
        before = rss_mb(self.server.process.pid)
        with self.server.connect(20) as s:
            s.sendall(b"GET %s HTTP/1.1\r\n" % RAIN.encode())
            line = b"X-Flood: a\r\n" * 10000
            try:
                for _ in range(400):
                    s.sendall(line)
            except (BrokenPipeError, ConnectionResetError):
                pass
            got = answers(read_all(s))
        self.assertEqual([a[0] for a in got][:1], [431])
        self.assertLess(rss_mb(self.server.process.pid) - before, 50)

    def idle_connections(self):
        idle = [self.server.connect() for _ in range(1000)]
        try:
            self.assertEqual(self.server.get(RAIN, timeout=2)[::2], (200, self.rain))
        finally:
            for s in idle:
                s.close()

    def slowloris(self):
        slow = [self.server.connect() for _ in range(200)]
        try:
            for s in slow:
                s.sendall(b"GET %s HTTP/1.1\r\n" % RAIN.encode())
            start = time.monotonic()
            for _ in range(3):
                for s in slow:
                    s.sendall(b"X-Slow: a\r\n")
                self.assertEqual(self.server.get(RAIN, timeout=2)[::2], (200, self.rain))
                time.sleep(1)
            # Its head not arrived in time, each is closed.
            slow[0].settimeout(HEAD_TIME + 5 - (time.monotonic() - start))
            self.assertEqual(read_all(slow[0]), b"")
        finally:
            for s in slow:
                s.close()

    def trickled_body(self):
        with self.server.connect(HEAD_TIME + 5) as s:
            s.sendall(b"POST /api/v1/batch HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
            start = time.monotonic()
            closed = None
            s.settimeout(2)
            while closed is None and time.monotonic() - start < HEAD_TIME + 5:
                try:
                    s.sendall(b"d\r\nid,East,North\r\n")
                    closed = s.recv(65536)
                except socket.timeout:
                    pass
                except (BrokenPipeError, ConnectionResetError):
                    closed = b""
            self.assertLess(time.monotonic() - start, HEAD_TIME + 3)
            self.assertEqual(closed, b"")

    def expect_oversized(self):
        body = b"id,East,North\n" + b"".join(b"GET /api/v1/health HTTP/1.1\r\n\r\n" for _ in range(11 << 15))
        with self.server.connect(20) as s:
            s.sendall(b"POST /api/v1/batch HTTP/1.1\r\nContent-Length: %d\r\nExpect: 100-continue\r\n\r\n" % len(body))
            time.sleep(0.2)
            try:
                s.sendall(body)
            except (BrokenPipeError, ConnectionResetError):
                pass
            got = answers(read_all(s))
        self.assertEqual([(a[0], a[1].get("connection")) for a in got], [(413, "close")])

    def pipelined(self):
        targets = [RAIN, "/api/v1/health", "/api/v1/rain?east=2400000&north=5100000"]
        expected = [self.server.get(t)[::2] for t in targets]
        with self.server.connect(20) as s:
            s.sendall(b"".join(b"GET %s HTTP/1.1\r\nHost: q\r\n\r\n" % t.encode() for t in targets[:-1])
                      + b"GET %s HTTP/1.1\r\nConnection: close\r\n\r\n" % targets[-1].encode())
            got = answers(read_all(s))
        self.assertEqual([(a[0], a[2]) for a in got], expected)

class Answers(ServerCase):
    arguments = (SERVER, APP)

    def test_headers_of_each_kind_of_answer(self):
        cors = "access-control-allow-origin"
        table = [
            # request, status, header, value
            (b"GET %s HTTP/1.1\r\n\r\n" % RAIN.encode(), 200, cors, "*"),
            (b"GET %s HTTP/1.1\r\n\r\n" % RAIN.encode(), 200, "cache-control", "no-cache"),
            (b"GET %s HTTP/1.1\r\n\r\n" % RAIN.encode(), 200, "x-content-type-options", "nosniff"),
            (b"GET /api/v1/rain?east=x HTTP/1.1\r\n\r\n", 400, cors, "*"),
            (b"PUT /api/v1/batch HTTP/1.1\r\n\r\n", 405, "allow", "POST"),
            (b"FOO /api/v1/rain HTTP/1.1\r\n\r\n", 405, "allow", "GET, HEAD"),
            (b"DELETE /index.html HTTP/1.1\r\n\r\n", 405, "allow", "GET, HEAD"),
            (b"HEAD /api/v1/health HTTP/1.1\r\n\r\n", 200, "x-content-type-options", "nosniff"),
        ]
        for request, status, header, value in table:
            with self.server.connect() as s:
                s.sendall(request)
                s.shutdown(socket.SHUT_WR)
                [(got, headers, _)] = answers(read_all(s))
            self.assertEqual(got, status, request)
            self.assertEqual(headers.get(header), value, request)
            self.assertIn("content-length", headers, request)

    def test_the_log_holds_one_line_per_request_with_controls_escaped(self):
        self.server.get("/api/v1/x%0A%1B[31mGET%20/api/v1/rain%20200")
        line = self.server.logged("/api/v1/x")
        self.assertEqual(len(line), 1, line)
        self.assertTrue(line[0].startswith("GET /api/v1/x\\x0a\\x1b[31mGET /api/v1/rain 200 404 "), line)

    def test_an_answer_cut_off_is_logged_as_such(self):
        points = b"id,East,North\n" + b"".join(b"p%d,2381000,5118000\n" % i for i in range(200000))
        with self.server.connect() as s:
            s.sendall(b"POST /api/v1/batch HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % len(points) + points)
            s.recv(100)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        line = self.server.logged("/api/v1/batch", 60)
        self.assertEqual(len(line), 1, line)
        self.assertIn("cut off", line[0])


class Stopping(unittest.TestCase):
    def test_sigterm_with_idle_keep_alive_clients_exits_at_once(self):
        server = Server(SERVER, APP)
        self.addCleanup(server.stop)
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
        conn.request("GET", RAIN)
        conn.getresponse().read()
        # As a browser opens one ahead of its next request.
        silent = server.connect()
        time.sleep(0.2)
        start = time.monotonic()
        server.process.send_signal(signal.SIGTERM)
        self.assertEqual(server.process.wait(timeout=10), 0)
        self.assertLess(time.monotonic() - start, 1.0)
        conn.close()
        silent.close()

    def test_sigterm_finishes_the_answer_in_flight(self):
        server = Server(SERVER, APP)
        self.addCleanup(server.stop)
        points = b"id,East,North\n" + b"".join(b"p%d,2381000,5118000\n" % i for i in range(100000))
        with server.connect(60) as s:
            s.sendall(b"POST /api/v1/batch HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % len(points) + points)
            time.sleep(0.3)
            server.process.send_signal(signal.SIGTERM)
            got = answers(read_all(s))
        self.assertEqual(server.process.wait(timeout=60), 0)
        # "Connection: close" only when the stop came before the head was
        # sent; a streamed answer may have begun already.
        self.assertEqual([a[0] for a in got], [200])
        self.assertIn(got[0][1].get("connection"), (None, "close"))
        self.assertEqual(got[0][2].count(b"\n"), 100001)
        line = server.lines("/api/v1/batch")
        self.assertEqual([l.split(" ")[:4] for l in line], [["POST", "/api/v1/batch", "200", str(len(got[0][2]))]])


class Descriptors(unittest.TestCase):
    def test_out_of_descriptors_answers_503_and_logs_once(self):
        server = Server(SERVER, APP, prefix=["prlimit", "--nofile=256:256", "--"])
        self.addCleanup(server.stop)
        idle = []
        refused = 0
        for _ in range(300):
            s = server.connect(5)
            s.sendall(b"GET /api/v1/health HTTP/1.1\r\n")
            idle.append(s)
        for s in idle:
            s.settimeout(0.5)
            try:
                refused += s.recv(100).startswith(b"HTTP/1.1 503 ")
            except (socket.timeout, ConnectionResetError):
                pass
        self.assertGreater(refused, 0)
        notes = server.logged("out of file descriptors")
        self.assertEqual(len(notes), 1, notes)
        for s in idle:
            s.close()
        time.sleep(0.5)
        self.assertEqual(server.get(RAIN)[0], 200)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
