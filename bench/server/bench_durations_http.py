"""/api/v1/rain with twelve durations against today's answer, over one keep-alive connection.

Usage: bench_durations_http.py SERVER APP_FOLDER [REQUESTS]
Target: the median with durations at most 1.2 times the median without. Also a
24-hour hyetograph at one minute as JSON (the server's share is bench_durations).
"""
import http.client
import json
import random
import statistics
import subprocess
import sys
import tempfile
import time

SERVER, APP = sys.argv[1:3]
REQUESTS = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
DURATIONS = "10min,15min,20min,0.5,45min,1,1.5,2,3,6,12,24"

# The server logs a line a request: into a file, which never fills up as a pipe would.
log = tempfile.TemporaryFile()
process = subprocess.Popen([SERVER, "--folder", APP, "--listen", "127.0.0.1:0"], stderr=log,
                           stdin=subprocess.DEVNULL)
try:
    first = b""
    for _ in range(200):
        log.seek(0)
        first = log.readline()
        if b"127.0.0.1:" in first:
            break
        time.sleep(0.05)
    port = int(first.decode().split("127.0.0.1:")[1].split("/")[0])
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)

    def timed(target):
        start = time.perf_counter()
        conn.request("GET", target)
        response = conn.getresponse()
        body = response.read()
        elapsed = time.perf_counter() - start
        assert response.status == 200, body
        return elapsed, body

    rng = random.Random(1)
    points = [(rng.randrange(2370000, 2460000), rng.randrange(5080000, 5140000)) for _ in range(REQUESTS)]
    _, body = timed("/api/v1/rain?east=2400000&north=5100000&durate=" + DURATIONS)
    assert len(json.loads(body)["durations"]) == 12
    plain, with_durations = [], []
    for east, north in points:  # interleaved, so both meet the same load
        target = "/api/v1/rain?east=%d&north=%d" % (east, north)
        try:
            plain.append(timed(target)[0])
            with_durations.append(timed(target + "&durate=" + DURATIONS)[0])
        except AssertionError:
            continue  # the sea
    a, b = statistics.median(plain), statistics.median(with_durations)
    print("rain: median %.1f us; with 12 durations %.1f us; ratio %.2f (target <= 1.2), %d requests each"
          % (a * 1e6, b * 1e6, b / a, len(plain)))
    storm = [timed("/api/v1/ietogramma?east=2400000&north=5100000&durata=24&passo=1")[0] for _ in range(300)]
    print("hyetograph 24 h at 1 min, JSON over HTTP: median %.1f us" % (statistics.median(storm) * 1e6))
finally:
    process.terminate()
    process.wait(timeout=10)
    log.close()
