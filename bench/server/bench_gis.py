"""The map service as GIS programs load it, measured with wrk on the loopback address.

Usage: bench_gis.py SERVER APP_FOLDER [--seconds N]

1. GetFeatureInfo (application/json) over 64 connections (target: 5,000/s).
2. GetMap of pioggia_T100 at 945 x 609, PNG, over 4 connections (target: 40/s).
3. One web tile through nginx with the shipped site file, cached, over 64
   connections (target: 10,000/s); needs root for nginx's cache folder owner.
4. The GeoTIFF of one grid, the first request after start-up (the grids' maps
   computed and the COG written) and another grid after it (target: 100 ms).
Each part first checks the answer it times.
"""
import http.client
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SITE = os.path.join(HERE, "..", "..", "packaging", "nginx", "quorvel")
SERVER, APP = sys.argv[1:3]
SECONDS = int(sys.argv[sys.argv.index("--seconds") + 1]) if "--seconds" in sys.argv else 10
WORK = tempfile.mkdtemp(prefix="quorvel-bench-gis-")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(port, target):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    conn.request("GET", target)
    response = conn.getresponse()
    result = response.status, dict(response.getheaders()), response.read()
    conn.close()
    return result


def wrk(port, target, connections, threads=2):
    out = subprocess.run(["wrk", "-t%d" % threads, "-c%d" % connections, "-d%ds" % SECONDS,
                          "http://127.0.0.1:%d%s" % (port, target)], capture_output=True, text=True).stdout
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return rate, int(errors.group(1)) if errors else 0


def main():
    log = open(os.path.join(WORK, "server.log"), "w+")
    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(WORK, "cache"))
    server = subprocess.Popen([SERVER, "--folder", APP, "--listen", "127.0.0.1:0"], stderr=log, env=env)
    nginx = None
    try:
        while "listening on" not in open(log.name).readline():
            time.sleep(0.05)
        port = int(open(log.name).readline().split("127.0.0.1:")[1].split("/")[0])

        started = time.perf_counter()
        status, _, body = get(port, "/api/v1/griglie/q100.tif")
        first = time.perf_counter() - started
        assert status == 200 and body[:4] in (b"II*\0", b"MM\0*"), status
        started = time.perf_counter()
        status, _, body = get(port, "/api/v1/griglie/cv.tif")
        second = time.perf_counter() - started
        assert status == 200
        print("COG of one grid: %.1f ms the first (the grids' maps computed), %.1f ms the next" %
              (first * 1000, second * 1000))

        info = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetFeatureInfo&LAYERS=pioggia_T100&QUERY_LAYERS=pioggia_T100"
                "&STYLES=&CRS=EPSG:3004&BBOX=2380000,5080000,2400000,5100000&WIDTH=400&HEIGHT=400&I=200&J=200"
                "&INFO_FORMAT=application/json")
        status, _, body = get(port, info)
        assert status == 200 and b'"quantiles"' in body, body
        rate, errors = wrk(port, info, 64)
        print("GetFeatureInfo, 64 connections: %.0f answers/s, %d errors (target 5,000/s)" % (rate, errors))

        getmap = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=pioggia_T100&STYLES=&CRS=EPSG:3004"
                  "&BBOX=2310000,5040000,2490500,5156322&WIDTH=945&HEIGHT=609&FORMAT=image/png")
        status, headers, body = get(port, getmap)
        assert status == 200 and headers["Content-Type"] == "image/png"
        rate, errors = wrk(port, getmap, 4)
        print("GetMap pioggia_T100 945x609 PNG, 4 connections: %.1f images/s, %d errors (target 40/s)" %
              (rate, errors))

        if shutil.which("nginx") and os.geteuid() == 0:
            front = free_port()
            root = os.path.join(WORK, "nginx")
            os.makedirs(os.path.join(root, "cache"))
            site = open(SITE).read().replace("127.0.0.1:8080", "127.0.0.1:%d" % port)
            site = site.replace("/var/cache/nginx/quorvel", os.path.join(root, "cache"))
            site = site.replace("listen [::]:80;\n", "").replace("listen 80;", "listen 127.0.0.1:%d;" % front)
            open(os.path.join(root, "site"), "w").write(site)
            open(os.path.join(root, "nginx.conf"), "w").write(
                "user root; daemon off; worker_processes 2; pid %s/nginx.pid; error_log %s/error.log;\n"
                "events { worker_connections 1024; }\n"
                "http { access_log off; client_body_temp_path %s/body; proxy_temp_path %s/proxy;\n"
                "fastcgi_temp_path %s/fcgi; uwsgi_temp_path %s/uwsgi; scgi_temp_path %s/scgi;\n"
                "include %s/site; }\n" % ((root,) * 8))
            nginx = subprocess.Popen(["nginx", "-p", root, "-c", os.path.join(root, "nginx.conf")])
            time.sleep(1)
            tile = "/tiles/9/277/178.png"
            get(front, tile)
            status, headers, _ = get(front, tile)
            assert status == 200 and headers.get("X-Cache-Status") == "HIT", headers
            rate, errors = wrk(front, tile, 64)
            print("Cached tile through nginx, 64 connections: %.0f tiles/s, %d errors (target 10,000/s)" %
                  (rate, errors))
        else:
            print("Cached tile through nginx: not measured (needs nginx and root)")
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait()
        server.terminate()
        server.wait()
        shutil.rmtree(WORK)


if __name__ == "__main__":
    main()
