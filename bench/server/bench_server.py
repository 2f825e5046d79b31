"""Speed and load of quorvel-server, measured with wrk on the loopback address.

Usage: bench_server.py SERVER BATCH APP_FOLDER [--seconds N] [--endurance N] [--no-nginx]

1. /api/v1/rain over 64 keep-alive connections: answers per second and p99
   (targets: at least 10,000/s, p99 at most 10 ms), and as a ratio to nginx
   serving a small static file over as many connections in the same run.
2. Endurance: 100 connections mixing rain, report, a small batch and, when the
   server has /wms, GetMap; no errors, the server's resident set at most 300 MB.
3. Slow clients: 200 connections sending their headers a byte a second, with
   1,000 connections that send nothing, must not delay a normal request by
   more than 100 ms, through nginx started with packaging/nginx/quorvel (as
   root) and on the server alone.
Each part first checks that the answers it times are right.
"""
import http.client
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SITE = os.path.join(HERE, "..", "..", "packaging", "nginx", "quorvel")
WORK = tempfile.mkdtemp(prefix="quorvel-bench-server-")


def option(name, default):
    return type(default)(sys.argv[sys.argv.index(name) + 1]) if name in sys.argv else default


SERVER, BATCH, APP = sys.argv[1:4]
SECONDS = option("--seconds", 15)
ENDURANCE = option("--endurance", 60)
# One request in this many is a GetMap, when the server has /wms.
GETMAP_EVERY = option("--getmap-every", 100)
verdicts = []


def verdict(what, ok, figure):
    verdicts.append((what, ok, figure))
    print("%s: %s\n    %s" % ("ok" if ok else "MISS", what, figure), flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, port):
        self.port = port
        self.log = open(os.path.join(WORK, "server.log"), "w")
        self.process = subprocess.Popen([SERVER, "--folder", APP, "--listen", "127.0.0.1:%d" % port],
                                        stderr=self.log, stdin=subprocess.DEVNULL)
        wait_for_port(port)

    def rss_mb(self):
        with open("/proc/%d/status" % self.process.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
        return 0

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def wait_for_port(port):
    deadline = time.time() + 20
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


def get(port, target, method="GET", body=None, timeout=30):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request(method, target, body=body)
        response = conn.getresponse()
        return response.status, response.read()
    finally:
        conn.close()


def batch_rows(points):
    """quorvel-batch's rows for the points, by id."""
    path = os.path.join(WORK, "points.csv")
    with open(path, "w") as f:
        f.write("id,East,North\n" + "".join("%s,%s,%s\n" % p for p in points))
    out = subprocess.run([BATCH, path, "--folder", APP], capture_output=True, text=True).stdout
    return out, {line.split(",")[0]: line for line in out.splitlines()[1:]}


def inland_points(count):
    """Points whose cells hold data, from quorvel-batch itself."""
    rng = random.Random(5)
    candidates = [("p%d" % i, "%.1f" % rng.uniform(2310000, 2490000), "%.1f" % rng.uniform(5040000, 5170000))
                  for i in range(count * 4)]
    _, rows = batch_rows(candidates)
    return [p for p in candidates if not rows[p[0]].split(",")[17]][:count]


def run_wrk(port, connections, seconds, script=None, path="/"):
    # With the headers of a browser, which takes compressed answers.
    command = ["wrk", "-t2", "-c%d" % connections, "-d%ds" % seconds, "--latency", "--timeout", "5s",
               "-H", "Accept-Encoding: gzip, deflate, br"]
    if script:
        command += ["-s", script]
    out = subprocess.run(command + ["http://127.0.0.1:%d%s" % (port, path)], capture_output=True, text=True).stdout
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    p99 = re.search(r"99%\s+([\d.]+)(us|ms|s)", out)
    p99_ms = float(p99.group(1)) * {"us": 0.001, "ms": 1, "s": 1000}[p99.group(2)]
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    socket_errors = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
    errors = (int(non2xx.group(1)) if non2xx else 0) + (sum(map(int, socket_errors.groups())) if socket_errors else 0)
    total = int(re.search(r"(\d+) requests in", out).group(1))
    return rate, p99_ms, errors, total, out


def rain_throughput(server, points):
    port = server.port
    pid, east, north = points[0]
    _, rows = batch_rows([points[0]])
    status, body = get(port, "/api/v1/rain?east=%s&north=%s" % (east, north))
    expected = rows[pid].split(",")[10:17]
    if status != 200 or [m for m in re.findall(r'"mm":([\d.]+)', body.decode())] != expected:
        raise RuntimeError("the rain answer is not quorvel-batch's: %s" % body)
    cpu = server.cpu_seconds()
    rate, p99, errors, total, _ = run_wrk(port, 64, SECONDS, path="/api/v1/rain?east=%s&north=%s" % (east, north))
    # The server's own cost, which a machine busy with other work does not change.
    cost = (server.cpu_seconds() - cpu) / total * 1e6
    verdict("rain, 64 keep-alive connections: answers/s >= 10,000", rate >= 10000 and errors == 0,
            "%.0f/s (%d answers, %d errors; server CPU %.0f us an answer)" % (rate, total, errors, cost))
    verdict("rain, 64 keep-alive connections: p99 <= 10 ms", p99 <= 10, "%.2f ms" % p99)
    return rate


def nginx_static_rate():
    """nginx answering a small static file over 64 keep-alive connections: the machine's yardstick."""
    root = os.path.join(WORK, "nginx-static")
    os.makedirs(os.path.join(root, "html"))
    with open(os.path.join(root, "html", "small.json"), "w") as f:
        f.write('{"text":"%s"}' % ("x" * 300))
    port = free_port()
    with open(os.path.join(root, "nginx.conf"), "w") as f:
        # As root, nginx's workers would otherwise be nobody, who cannot read the private folder.
        f.write(("user root;\n" if os.geteuid() == 0 else "") + """worker_processes 2;
pid %(root)s/nginx.pid;
error_log %(root)s/error.log;
daemon off;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path %(root)s/body;
    proxy_temp_path %(root)s/proxy;
    fastcgi_temp_path %(root)s/fastcgi;
    uwsgi_temp_path %(root)s/uwsgi;
    scgi_temp_path %(root)s/scgi;
    server { listen 127.0.0.1:%(port)d; root %(root)s/html; keepalive_requests 1000000; }
}
""" % {"root": root, "port": port})
    process = subprocess.Popen(["nginx", "-p", root, "-c", os.path.join(root, "nginx.conf")], stderr=subprocess.DEVNULL)
    try:
        wait_for_port(port)
        rate, p99, errors, total, _ = run_wrk(port, 64, SECONDS, path="/small.json")
        if errors:
            raise RuntimeError("nginx answered %d errors" % errors)
        return rate, p99
    finally:
        process.terminate()
        process.wait(timeout=10)


def wms_getmap(port):
    """A GetMap of the whole extent at 945 x 609 with every layer of the base map
    (the rainfall layers are pictures of their own), if the server has /wms."""
    status, body = get(port, "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetCapabilities")
    if status != 200:
        return None
    root = ET.fromstring(body)
    ns = {"w": root.tag[1:root.tag.index("}")]} if root.tag.startswith("{") else {"w": ""}
    find = (lambda e, p: e.findall(p, ns)) if ns["w"] else (lambda e, p: e.findall(p.replace("w:", "")))
    names = [n.text for n in find(root, ".//w:Layer/w:Name")
             if n.text and not n.text.startswith("pioggia_") and n.text != "a2"]
    boxes = [b for b in find(root, ".//w:Layer/w:BoundingBox") if b.get("CRS") == "EPSG:3004"]
    if not names or not boxes:
        return None
    b = boxes[0]
    query = urllib.parse.urlencode({
        "SERVICE": "WMS", "VERSION": "1.3.0", "REQUEST": "GetMap", "LAYERS": ",".join(n for n in names if n),
        "STYLES": "", "CRS": "EPSG:3004", "BBOX": ",".join(b.get(k) for k in ("minx", "miny", "maxx", "maxy")),
        "WIDTH": "945", "HEIGHT": "609", "FORMAT": "image/png"})
    target = "/wms?" + query
    status, body = get(port, target)
    return target if status == 200 and body.startswith(b"\x89PNG") else None


def endurance(server, points):
    port = server.port
    rains = ["/api/v1/rain?east=%s&north=%s" % (e, n) for _, e, n in points]
    reports = ["/api/v1/report?east=%s&north=%s&name=%s" % (e, n, i) for i, e, n in points[:50]]
    small = "id,East,North\n" + "".join("%s,%s,%s\n" % p for p in points[:20])
    expected, _ = batch_rows(points[:20])
    status, body = get(port, "/api/v1/batch", "POST", small.encode())
    if status != 200 or body.decode() != expected:
        raise RuntimeError("the batch answer is not quorvel-batch's")
    for target in reports[:3]:
        if get(port, target)[0] != 200:
            raise RuntimeError("no report for " + target)
    getmap = wms_getmap(port)
    lua = os.path.join(WORK, "mix.lua")
    with open(lua, "w") as f:
        f.write("rains = {%s}\n" % ",".join('"%s"' % r for r in rains))
        f.write("reports = {%s}\n" % ",".join('"%s"' % r for r in reports))
        f.write("small = %s\n" % lua_string(small))
        f.write("getmap = %s\n" % (lua_string(getmap) if getmap else "nil"))
        f.write("getmap_every = %d\n" % GETMAP_EVERY)
        f.write("""
counter = 0
request = function()
    counter = counter + 1
    local k = counter % 20
    if k == 0 then
        return wrk.format("POST", "/api/v1/batch", {["Content-Type"] = "text/csv"}, small)
    elseif k < 4 then
        return wrk.format("GET", reports[counter % #reports + 1])
    end
    if getmap and counter % getmap_every == 7 then
        return wrk.format("GET", getmap)
    end
    return wrk.format("GET", rains[counter % #rains + 1])
end
""")
    rss = []
    done = threading.Event()

    def sample():
        while not done.is_set():
            rss.append(server.rss_mb())
            time.sleep(0.5)

    sampler = threading.Thread(target=sample)
    sampler.start()
    rate, p99, errors, total, out = run_wrk(port, 100, ENDURANCE, lua)
    done.set()
    sampler.join()
    refused, other = answers_not_200(os.path.join(WORK, "server.log"))
    kinds = "rain, report, batch" + (", GetMap 1 in %d" % GETMAP_EVERY if getmap else " (no /wms)")
    # wrk's clients wait for each answer, so they gather on the slowest route
    # until its queue is full: the 503s with Retry-After are the limits at
    # work, counted apart from errors.
    # The log may hold a refusal or two wrk stopped waiting for.
    errors = max(0, errors - sum(refused.values()))
    verdict("endurance, 100 clients %d s (%s): 0 errors" % (ENDURANCE, kinds), errors == 0,
            "%d errors in %d answers, %.0f/s, p99 %.1f ms; past the queues, 503 with Retry-After: %s; "
            "other answers not 200: %s%s" % (errors, total, rate, p99, refused or "none",
                                          other or "none", "".join(
                "; " + line.strip() for line in out.splitlines() if "Socket errors" in line)))
    verdict("endurance: resident set <= 300 MB, flat", max(rss) <= 300,
            "start %.0f MB, half-way %.0f MB, end %.0f MB, most %.0f MB" % (rss[0], rss[len(rss) // 2], rss[-1], max(rss)))


def answers_not_200(log_path):
    """The server's own count of answers other than 200, by route and status:
    the 503s of the map and batch queues, which carry Retry-After, and the rest."""
    refused, other = {}, {}
    with open(log_path) as log:
        for line in log:
            parts = line.split(" ")
            if len(parts) > 3 and parts[2].isdigit() and parts[2] != "200":
                path = parts[1].split("?")[0]
                counts = refused if parts[2] == "503" and path in ("/wms", "/api/v1/batch") else other
                key = "%s %s" % (path, parts[2])
                counts[key] = counts.get(key, 0) + 1
    return refused, other


def lua_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


class SlowClients:
    """Connections that send a request's headers a byte a second, opened again when dropped."""

    def __init__(self, port, count):
        self.port, self.count = port, count
        self.header = b"GET /api/v1/rain?east=2381000&north=5118000 HTTP/1.1\r\nHost: quorvel\r\nUser-Agent: slow\r\n" \
                      + b"X-Padding: " + b"a" * 200 + b"\r\n\r\n"
        self.stop = threading.Event()
        self.dropped = 0
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def connect(self):
        s = socket.socket()
        s.settimeout(2)
        s.connect(("127.0.0.1", self.port))
        s.setblocking(False)
        return [s, 0]

    def run(self):
        clients = [self.connect() for _ in range(self.count)]
        while not self.stop.is_set():
            for client in clients:
                try:
                    client[0].send(self.header[client[1]:client[1] + 1])
                    client[1] = (client[1] + 1) % len(self.header)
                except OSError:
                    self.dropped += 1
                    client[0].close()
                    try:
                        client[:] = self.connect()
                    except OSError:
                        pass
            self.stop.wait(1)
        for client in clients:
            client[0].close()

    def close(self):
        self.stop.set()
        self.thread.join()


def normal_latencies(port, seconds, target):
    """One request at a time, each on a new connection, for the given seconds; in ms."""
    latencies = []
    end = time.time() + seconds
    while time.time() < end:
        start = time.perf_counter()
        try:
            status, _ = get(port, target, timeout=10)
        except OSError:
            status = 0
        latencies.append((time.perf_counter() - start) * 1000 if status == 200 else 10000)
        time.sleep(0.05)
    return latencies


def slow_clients(port, name):
    target = "/api/v1/rain?east=2381000&north=5118000"
    if get(port, target)[0] != 200:
        raise RuntimeError("no rain through " + name)
    before = normal_latencies(port, 3, target)
    idle = [socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(1000)]
    slow = SlowClients(port, 200)
    time.sleep(3)
    during = normal_latencies(port, SECONDS, target)
    slow.close()
    for s in idle:
        s.close()
    delay = max(during) - statistics.median(before)
    figure = "alone median %.1f ms; with them median %.1f ms, max %.1f ms (%d requests)" % (
        statistics.median(before), statistics.median(during), max(during), len(during))
    return delay, figure


def nginx_in_front(backend):
    port = free_port()
    with open(SITE) as f:
        site = f.read()
    site = site.replace("listen 80;", "listen 127.0.0.1:%d;" % port).replace("listen [::]:80;", "")
    site = site.replace("server 127.0.0.1:8080;", "server 127.0.0.1:%d;" % backend)
    root = os.path.join(WORK, "nginx")
    site = site.replace("/var/cache/nginx/quorvel", os.path.join(root, "cache"))
    os.makedirs(root)
    with open(os.path.join(root, "site"), "w") as f:
        f.write(site)
    with open(os.path.join(root, "nginx.conf"), "w") as f:
        f.write("""user root;
worker_processes auto;
pid %(root)s/nginx.pid;
error_log %(root)s/error.log;
daemon off;
events { worker_connections 4096; }
http {
    include /etc/nginx/mime.types;
    access_log off;
    client_body_temp_path %(root)s/body;
    proxy_temp_path %(root)s/proxy;
    fastcgi_temp_path %(root)s/fastcgi;
    uwsgi_temp_path %(root)s/uwsgi;
    scgi_temp_path %(root)s/scgi;
    include %(root)s/site;
}
""" % {"root": root})
    process = subprocess.Popen(["nginx", "-p", root, "-c", os.path.join(root, "nginx.conf")])
    try:
        wait_for_port(port)
    except RuntimeError:
        process.kill()
        raise
    return process, port


def main():
    server = Server(free_port())
    try:
        points = inland_points(500)
        rain = rain_throughput(server, points)
        if shutil.which("nginx"):
            static, static_p99 = nginx_static_rate()
            print("--: rain as a ratio to nginx's static file, same run\n    %.2f (nginx %.0f/s, p99 %.2f ms)"
                  % (rain / static, static, static_p99), flush=True)
        endurance(server, points)
        if "--no-nginx" not in sys.argv and os.geteuid() == 0 and shutil.which("nginx"):
            nginx, port = nginx_in_front(server.port)
            try:
                delay, figure = slow_clients(port, "nginx")
                verdict("200 slow and 1,000 idle clients through nginx: delay <= 100 ms", delay <= 100, figure)
            finally:
                nginx.terminate()
                nginx.wait(timeout=10)
        else:
            print("slow clients through nginx: skipped (needs root and nginx)")
        delay, figure = slow_clients(server.port, "the server alone")
        verdict("200 slow and 1,000 idle clients, server alone: delay <= 100 ms", delay <= 100, figure)
    finally:
        server.stop()
        shutil.rmtree(WORK, ignore_errors=True)
    return 0 if all(ok for _, ok, _ in verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
