"""quorvel-server against quorvel-batch, and against hostile requests.

Usage: test_api.py SERVER BATCH APP_FOLDER

Starts the real server on a free loopback port and checks that its answers
are quorvel-batch's to the byte, that bad requests get their 4xx while the
server goes on answering, and that the page's files cannot lead out of their
folder.
"""
import gzip
import hashlib
import http.client
import json
import os
import random
import subprocess
import sys
import time
import unittest
import urllib.parse

from serverproc import WORK, ServerCase, exchange

SERVER, BATCH, APP = sys.argv[1:4]


def run_batch(text, *options):
    """quorvel-batch's results file for a points file of this text, run with these options."""
    path = os.path.join(WORK, "points.csv")
    with open(path, "w", newline="", encoding="utf-8") as f:
        f.write(text)
    if os.path.exists(path + ".out"):
        os.remove(path + ".out")
    subprocess.run([BATCH, path, "-o", path + ".out", "--folder", APP, *options], check=False,
                   stderr=subprocess.DEVNULL)
    with open(path + ".out", "rb") as results:
        return results.read()


# A browser takes compressed answers; the API's are sent as they are all the same.
BROWSER = {"Accept-Encoding": "gzip, deflate, br"}


def random_points(count, seed):
    """Points over the grids and beyond them, with and without decimals."""
    rng = random.Random(seed)
    points = []
    for i in range(count):
        east = rng.uniform(2300000, 2500000)
        north = rng.uniform(5030000, 5180000)
        decimals = rng.choice([0, 1, 3])
        points.append(("P%d" % i, "%.*f" % (decimals, east), "%.*f" % (decimals, north)))
    return points


def points_file(points):
    return "id,East,North\n" + "".join(",".join(point) + "\n" for point in points)


def query(east, north, **more):
    return urllib.parse.urlencode({"east": east, "north": north, **more})


class AgainstBatch(ServerCase):
    arguments = (SERVER, APP)

    def test_rain_of_random_points_is_the_batch_row(self):
        points = random_points(1000, 20)
        rows = run_batch(points_file(points)).decode().splitlines()[1:]
        self.assertEqual(len(rows), len(points))
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=60)
        answered = {200: 0, 404: 0, 422: 0}
        for (pid, east, north), row in zip(points, rows):
            fields = row.split(",")
            conn.request("GET", "/api/v1/rain?" + query(east, north), headers=BROWSER)
            response = conn.getresponse()
            # Numbers kept as the text the server wrote, to compare to the last digit.
            body = json.loads(response.read(), parse_float=str, parse_int=str)
            answered[response.status] += 1
            if fields[17]:
                expected = 404 if "outside" in fields[17] else 422
                self.assertEqual(response.status, expected, (pid, fields[17], body))
                continue
            self.assertEqual(response.status, 200, (pid, body))
            got = [body["point"]["east"], body["point"]["north"], body["cell"]["row"], body["cell"]["column"],
                   body["centre"]["east"], body["centre"]["north"], body["a2"], body["a1"], body["cv"]]
            got += [q["mm"] for q in body["quantiles"]]
            self.assertEqual(got, fields[1:17], pid)
            self.assertEqual([q["T"] for q in body["quantiles"]], ["2", "5", "10", "20", "50", "100", "200"])
        conn.close()
        # The sample covers every kind of answer.
        self.assertTrue(all(answered.values()), answered)

    def test_batch_is_the_batch_file(self):
        points = random_points(300, 7) + [("bad", "2400000,5", "x"), ('"q,uote"', "2400000", "5100000")]
        cases = {
            "comma": points_file(points),
            "semicolons, CR LF, BOM": "\ufeffNord;Est;id\r\n5100000,5;2400000,25;A\r\n\r\n5100100;2400100;B\r\n",
            "header only": "id,East,North\n",
        }
        for name, text in cases.items():
            expected = run_batch(text)
            status, headers, body = self.server.get("/api/v1/batch", BROWSER, method="POST", body=text.encode())
            self.assertEqual(status, 200, name)
            self.assertEqual(body, expected, name)

    def test_report_is_the_batch_report(self):
        points = [("Piogge", "2381000", "5118000"), ("Città 2", "2400123.5", "5100077.25"),
                  ("r3", "2450000", "5150000")]
        reports = os.path.join(WORK, "reports")
        run_batch(points_file(points), "--reports", reports)
        for pid, east, north in points:
            with open(os.path.join(reports, pid + ".xls"), "rb") as f:
                expected = f.read()
            status, headers, body = self.server.get("/api/v1/report?" + query(east, north, name=pid))
            self.assertEqual(status, 200, pid)
            self.assertEqual(body, expected, pid)
            self.assertEqual(headers["Content-Type"], "application/vnd.ms-excel")
            self.assertIn("filename*=UTF-8''" + urllib.parse.quote(pid + ".xls"), headers["Content-Disposition"])
        # The plain name as the desktop saves it: letters without accents, one ".xls".
        for name, plain in [("Piogge", "Piogge.xls"), ("Citt\u00e0 di Berl\u00ecs.xls", "Citta di Berlis.xls"),
                            ("Piogge.XLS", "Piogge.xls")]:
            _, headers, _ = self.server.get("/api/v1/report?" + query("2381000", "5118000", name=name))
            self.assertTrue(headers["Content-Disposition"].startswith('attachment; filename="%s"' % plain), name)

    def test_points_in_wgs84_and_utm_are_the_batch_rows_of_lat_lon_and_crs(self):
        text = "id,lat,lon\nA,46.1851,13.0132\nB,46 05 30.5,12°48'10 E\n"
        status, _, results = self.server.get("/api/v1/batch", method="POST", body=text.encode())
        self.assertEqual(status, 200)
        for line, (pid, lat, lon) in zip(results.decode().splitlines()[1:], [("A", "46.1851", "13.0132"),
                                                                              ("B", "46 05 30.5", "12°48'10 E")]):
            fields = line.split(",")
            status, _, body = self.server.get("/api/v1/rain?" + urllib.parse.urlencode({"crs": "wgs84", "lat": lat, "lon": lon}))
            self.assertEqual(status, 200, pid)
            answer = json.loads(body, parse_float=str, parse_int=str)
            self.assertEqual([answer["point"]["east"], answer["point"]["north"], answer["cell"]["row"],
                              answer["cell"]["column"], answer["a2"]] + [q["mm"] for q in answer["quantiles"]],
                             fields[18:20] + fields[3:5] + [fields[7]] + fields[10:17], pid)
            self.assertEqual(answer["converted"], {"crs": "EPSG:4326", "nearCellEdge": fields[20] == "yes"})
            status, headers, report = self.server.get("/api/v1/report?" + urllib.parse.urlencode(
                {"crs": "EPSG:4326", "lat": lat, "lon": lon}))
            self.assertEqual(headers["X-Quorvel-Point"], fields[18] + "," + fields[19])
            self.assertEqual(report, self.server.get("/api/v1/report?" + query(fields[18], fields[19]))[2], pid)

    def test_comuni_are_the_table_in_its_order(self):
        with open(os.path.join(APP, "dat", "comuniPolyRid.dat"), "rb") as f:
            lines = f.read().decode("cp1252").splitlines()
        status, _, body = self.server.get("/api/v1/comuni")
        self.assertEqual(status, 200)
        comuni = json.loads(body)
        self.assertEqual(len(comuni), 219)
        self.assertEqual([c["name"] for c in comuni], [line[10:50].strip(" ") for line in lines])
        self.assertEqual([c["province"] for c in comuni], [line[60:70].strip(" ") for line in lines])
        for c in comuni:
            e = c["extent"]
            self.assertTrue(2300000 < e["xMin"] < e["xMax"] < 2500000 and 5030000 < e["yMin"] < e["yMax"] < 5180000, c)

    def test_health_names_the_data(self):
        status, _, body = self.server.get("/api/v1/health")
        self.assertEqual(status, 200)
        health = json.loads(body)
        self.assertTrue(health["sample"])
        files = {"a2": "grd/param_a2.ras", "a1": "grd/param_a1.ras", "cv": "grd/param_cv.ras",
                 "template": "programs/prototipo/pioggeTRNprot.xls", "a2Header": "grd/param_a2.hdr",
                 "a1Header": "grd/param_a1.hdr", "cvHeader": "grd/param_cv.hdr"}
        for key, name in files.items():
            with open(os.path.join(APP, name), "rb") as f:
                self.assertEqual(health["sha256"][key], hashlib.sha256(f.read()).hexdigest(), key)

    def test_openapi_describes_every_route_it_names(self):
        status, _, body = self.server.get("/api/v1/openapi.json")
        self.assertEqual(status, 200)
        document = json.loads(body)
        self.assertTrue(document["openapi"].startswith("3."))
        self.assertEqual(set(document["paths"]), {"/api/v1/rain", "/api/v1/report", "/api/v1/batch",
                                                   "/api/v1/comuni", "/api/v1/health", "/api/v1/openapi.json",
                                                   "/api/v1/law", "/api/v1/ietogramma",
                                                   "/api/v1/places", "/api/v1/outline", "/api/v1/typed",
                                                   "/api/v1/sheet", "/api/v1/griglie/{grid}.tif"})
        for path, methods in document["paths"].items():
            for method in methods:
                for parameter in methods[method].get("parameters", []):
                    if parameter.get("in") == "path":
                        path = path.replace("{%s}" % parameter["name"], parameter["example"])
                status, _, _ = self.server.get(path, method=method.upper(), body=b"" if method == "post" else None)
                self.assertNotIn(status, (404, 405), (path, method))


class ForThePage(ServerCase):
    """What the page asks beside the rain, and the validators that spare a second visit."""
    arguments = (SERVER, APP)

    def test_answers_that_change_only_with_the_data_are_304_when_the_client_has_them(self):
        for target in ["/api/v1/rain?" + query("2400000", "5100000"), "/api/v1/comuni", "/api/v1/health",
                       "/api/v1/places", "/api/v1/outline?comune=Berluracco",
                       "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=quorvel&STYLES=&CRS=EPSG:3004"
                       "&BBOX=2380000,5090000,2400000,5110000&WIDTH=64&HEIGHT=64&FORMAT=image/jpeg"]:
            with self.subTest(target=target):
                status, headers, body = self.server.get(target, BROWSER)
                self.assertEqual(status, 200)
                self.assertEqual(headers["Cache-Control"], "no-cache")
                tag = headers["ETag"]
                status, again, body = self.server.get(target, {**BROWSER, "If-None-Match": tag})
                self.assertEqual((status, body, again["ETag"]), (304, b"", tag))
                status, _, _ = self.server.get(target, {**BROWSER, "If-None-Match": '"another"'})
                self.assertEqual(status, 200)
        _, headers, _ = self.server.get("/api/v1/health")
        modified = max(os.stat(os.path.join(APP, "grd", f"param_{g}.ras")).st_mtime for g in ("a2", "a1", "cv"))
        self.assertEqual(headers["Last-Modified"],
                         time.strftime("%a, %d %b %Y %H:%M:%S GMT", time.gmtime(int(modified))))

    def test_lists_are_sent_compressed_to_browsers(self):
        for target in ["/api/v1/comuni", "/api/v1/places"]:
            with self.subTest(target=target):
                _, _, plain = self.server.get(target)
                _, headers, packed = self.server.get(target, BROWSER)
                self.assertEqual(headers.get("Content-Encoding"), "gzip")
                self.assertEqual(gzip.decompress(packed), plain)
                self.assertLess(len(packed), len(plain) / 2)

    def test_places_name_their_municipality(self):
        _, _, body = self.server.get("/api/v1/places")
        places = json.loads(body)
        _, _, body = self.server.get("/api/v1/comuni")
        comuni = {c["name"]: c["extent"] for c in json.loads(body)}
        self.assertGreater(len(places), 3000)
        for place in places[::50]:
            e = comuni[place["comune"]]
            self.assertTrue(e["xMin"] <= place["x"] <= e["xMax"] and e["yMin"] <= place["y"] <= e["yMax"], place)
        status, _, body = self.server.get("/api/v1/outline?comune=Berluracco")
        rings = json.loads(body)["rings"]
        e = comuni["Berluracco"]
        xs = [x for ring in rings for x, _ in ring]
        self.assertEqual((status, round(min(xs)), round(max(xs))), (200, round(e["xMin"]), round(e["xMax"])))
        status, _, _ = self.server.get("/api/v1/outline?comune=Nessuno")
        self.assertEqual(status, 404)

    def test_typed_points_get_the_dialog_faults(self):
        cases = [  # crs, x, y, faults (a part of them), converted
            ("wgs84", "13,3", "46,1", "", True),
            ("wgs84", "nord", "46", 'Casella Lon (WGS84 lat/lon): "nord" non è un angolo', False),
            ("wgs84", "46,1", "13,3", "sembrano scambiati", True),
            ("utm33", "", "5100000", "Casella E vuota", False),
        ]
        for crs, x, y, faults, converted in cases:
            with self.subTest(crs=crs, x=x, y=y):
                status, _, body = self.server.get("/api/v1/typed?" + urllib.parse.urlencode(
                    {"crs": crs, "x": x, "y": y}))
                answer = json.loads(body)
                self.assertEqual(status, 200)
                self.assertIn(faults, answer["faults"])
                self.assertEqual(faults == "", answer["faults"] == "")
                self.assertEqual("east" in answer, converted)

    def test_sheet_is_a_pdf_named_as_asked(self):
        status, headers, body = self.server.get("/api/v1/sheet?" + query("2400000", "5100000", name="Punto_1"))
        self.assertEqual((status, headers["Content-Type"], body[:5]), (200, "application/pdf", b"%PDF-"))
        self.assertEqual(headers["Content-Disposition"], 'attachment; filename="Punto_1.pdf"')
        status, _, body = self.server.get("/api/v1/sheet?" + query("2480200", "5080200"))
        self.assertEqual((status, json.loads(body)["error"]["kind"]), (422, "NoValidData"))


class Hostile(ServerCase):
    arguments = (SERVER, APP)

    def test_each_gets_its_4xx_and_the_server_goes_on(self):
        good = "2381000"
        big = b"id,East,North\n" + b"x" * (20 << 20)
        table = [
            ("NaN", "GET /api/v1/rain?east=NaN&north=5118000", None, 400, "TypeMismatch"),
            ("1e309", "GET /api/v1/rain?east=1e309&north=5118000", None, 400, "TypeMismatch"),
            ("beyond single precision", "GET /api/v1/rain?east=%s&north=1" % ("9" * 60), None, 400, "Overflow"),
            ("empty value", "GET /api/v1/rain?east=&north=5118000", None, 400, "TypeMismatch"),
            ("no value", "GET /api/v1/report?north=5118000", None, 400, "TypeMismatch"),
            ("100 KB query", "GET /api/v1/rain?east=%s&north=1" % ("1" * 100000), None, 414, "Overflow"),
            ("name ../", "GET /api/v1/report?east=%s&north=5118000&name=..%%2Fx" % good, None, 400, "PathAccess"),
            ("name /", "GET /api/v1/report?east=%s&north=5118000&name=a%%2Fb" % good, None, 400, "PathAccess"),
            ("name ..", "GET /api/v1/report?east=%s&north=5118000&name=.." % good, None, 400, "PathAccess"),
            ("name with a control", "GET /api/v1/report?east=%s&north=5118000&name=a%%0Ab" % good, None, 400, "PathAccess"),
            ("name not UTF-8", "GET /api/v1/report?east=%s&north=5118000&name=%%FF%%FE" % good, None, 400, "PathAccess"),
            ("overlong UTF-8", "GET /api/v1/report?east=%s&north=5118000&name=%%C0%%AF" % good, None, 400, "PathAccess"),
            ("outside the grids", "GET /api/v1/rain?east=1&north=1", None, 404, "SubscriptOutOfRange"),
            ("far outside", "GET /api/v1/rain?east=1e30".replace("1e30", "9" * 30) + "&north=1", None, 404, "Overflow"),
            ("the sea", "GET /api/v1/rain?east=2410250&north=5040250", None, 422, "NoValidData"),
            ("unknown crs", "GET /api/v1/rain?east=1&north=2&crs=EPSG:32633", None, 400, "TypeMismatch"),
            ("61 minutes", "GET /api/v1/report?crs=wgs84&lat=45%2061&lon=13", None, 400, "TypeMismatch"),
            ("unknown route", "GET /api/v2/rain", None, 404, "FileNotFound"),
            ("unknown file", "GET /nothing.js", None, 404, "FileNotFound"),
            ("unknown method", "FOO /api/v1/rain", None, 405, "TypeMismatch"),
            ("wrong method", "DELETE /api/v1/rain", None, 405, "TypeMismatch"),
            ("GET of the batch", "GET /api/v1/batch", None, 405, "TypeMismatch"),
            ("20 MiB body", "POST /api/v1/batch", big, 413, "Overflow"),
            ("20 MiB body, wrong route", "POST /api/v1/rain", big, 405, "TypeMismatch"),
            ("empty batch", "POST /api/v1/batch", b"", 400, "BadFileFormat"),
            ("batch without coordinates", "POST /api/v1/batch", b"a,b,c\n1,2,3\n", 400, "BadFileFormat"),
            ("batch with an open quote", "POST /api/v1/batch", b'id,East,North\n"open,1,2\n', 400, "BadFileFormat"),
            ("batch with a 2 MiB field", "POST /api/v1/batch", b"id,East,North\n" + b"9" * (1 << 21), 400,
             "BadFileFormat"),
            # Requests that no HTTP library would send, as bytes.
            ("name of raw bytes", b"GET /api/v1/report?east=2381000&north=5118000&name=\xff\xfe HTTP/1.1\r\n"
                                  b"Connection: close\r\n\r\n", None, 400, "PathAccess"),
            ("garbage line", b"\x00\x01\x02 garbage\r\n\r\n", None, 400, "TypeMismatch"),
            ("20 MiB chunked", b"POST /api/v1/batch HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
             + b"".join(b"100000\r\n" + b"x" * 0x100000 + b"\r\n" for _ in range(20)) + b"0\r\n\r\n",
             None, 413, "Overflow"),
        ]
        for name, line, body, status, kind in table:
            if isinstance(line, bytes):
                [(got, _, answer)] = exchange(self.server.port, line)[:1]
            else:
                method, target = line.split(" ", 1)
                got, _, answer = self.server.get(target, method=method, body=body)
            self.assertEqual(got, status, name)
            self.assertEqual(json.loads(answer)["error"]["kind"], kind, name)
            self.assertEqual(self.server.get("/api/v1/health")[0], 200, "after " + name)


class PageFiles(ServerCase):
    root = os.path.join(WORK, "site")
    arguments = (SERVER, APP, "--web", os.path.join(root, "web"))

    @classmethod
    def setUpClass(cls):
        web = os.path.join(cls.root, "web")
        os.makedirs(os.path.join(web, "assets"))
        cls.files = {"index.html": b"<!doctype html><title>Quorvel</title>", "assets/app.js": b"console.log(1);" * 100,
                     "quorvel-5ZKQ2T3M.js": b"console.log(2);"}
        for name, data in cls.files.items():
            with open(os.path.join(web, name), "wb") as f:
                f.write(data)
        with open(os.path.join(web, "assets/app.js.gz"), "wb") as f:
            f.write(gzip.compress(cls.files["assets/app.js"]))
        with open(os.path.join(cls.root, "secret.txt"), "w") as f:
            f.write("secret")
        os.symlink(os.path.join(cls.root, "secret.txt"), os.path.join(web, "out.txt"))
        with open(os.path.join(cls.root, "secret.gz"), "wb") as f:
            f.write(gzip.compress(b"secret"))
        os.symlink(os.path.join(cls.root, "secret.gz"), os.path.join(web, "index.html.gz"))
        super().setUpClass()

    def test_files_are_served_with_their_type(self):
        status, headers, body = self.server.get("/")
        self.assertEqual((status, body), (200, self.files["index.html"]))
        self.assertEqual(headers["Content-Type"], "text/html; charset=utf-8")
        status, headers, body = self.server.get("/assets/app.js")
        self.assertEqual((status, body), (200, self.files["assets/app.js"]))
        self.assertEqual(headers["Content-Type"], "text/javascript; charset=utf-8")
        status, headers, body = self.server.get("/assets/app.js", {"Accept-Encoding": "gzip, deflate, br"})
        self.assertEqual(headers.get("Content-Encoding"), "gzip")
        self.assertEqual(gzip.decompress(body), self.files["assets/app.js"])
        status, headers, body = self.server.get("/", method="HEAD")
        self.assertEqual((status, body, headers["Content-Length"]), (200, b"", str(len(self.files["index.html"]))))

    def test_a_compressed_sibling_out_of_the_folder_is_never_sent(self):
        status, headers, body = self.server.get("/", BROWSER)
        self.assertEqual((status, body), (200, self.files["index.html"]))
        self.assertNotIn("Content-Encoding", headers)

    def test_hashed_names_are_kept_for_a_year_and_the_others_revalidated(self):
        cases = [  # target, Cache-Control
            ("/quorvel-5ZKQ2T3M.js", "public, max-age=31536000, immutable"),
            ("/", "no-cache"),
            ("/assets/app.js", "no-cache"),
        ]
        for target, control in cases:
            with self.subTest(target=target):
                status, headers, _ = self.server.get(target)
                self.assertEqual((status, headers["Cache-Control"]), (200, control))
                if "ETag" in headers:
                    status, _, body = self.server.get(target, {"If-None-Match": headers["ETag"]})
                    self.assertEqual((status, body), (304, b""))

    def test_no_path_leads_out_of_the_folder(self):
        for target in ["/../secret.txt", "/%2e%2e/secret.txt", "/assets/..%2f..%2fsecret.txt", "/out.txt",
                       "/assets/%2e/app.js", "/assets%5c..%5c..%5csecret.txt", "/index.html%00.js", "/assets/"]:
            status, _, body = self.server.get(target)
            self.assertIn(status, (400, 404), target)
            self.assertNotIn(b"secret", body, target)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
