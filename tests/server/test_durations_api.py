"""quorvel-server's durations and design hyetographs against quorvel-batch.

Usage: test_durations_api.py SERVER BATCH APP_FOLDER
"""
import http.client
import json
import os
import random
import struct
import subprocess
import sys
import unittest
import urllib.parse

from serverproc import WORK, Server, ServerCase, linked_folder
from test_api import APP, BATCH, SERVER, points_file, random_points, run_batch

DURATIONS = ["10min", "15min", "20min", "0.5", "45min", "1", "1.5", "2", "3", "6", "12", "24"]


def single(value):
    """The single-precision rounding of a double."""
    return struct.unpack("f", struct.pack("f", value))[0]


def batch_rows(points, *options):
    return [line.split(",") for line in run_batch(points_file(points), *options).decode().splitlines()]


class Durations(ServerCase):
    arguments = (SERVER, APP)

    def get_json(self, target):
        status, _, body = self.server.get(target)
        return status, json.loads(body, parse_float=str, parse_int=str)

    def test_heights_are_the_batch_columns_to_the_last_digit(self):
        # 1000 cells, each with durations drawn from across the law's range.
        rng = random.Random(30)
        points = random_points(1500, 30)
        rows = batch_rows(points, "--durate", ",".join(DURATIONS))
        header, rows = rows[0], rows[1:]
        subhour = float(self.get_json("/api/v1/law")[1]["subhourExponent"])
        compared = 0
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=60)
        for (pid, east, north), row in zip(points, rows):
            if row[17]:
                continue
            chosen = rng.sample(DURATIONS, 3)
            conn.request("GET", "/api/v1/rain?" + urllib.parse.urlencode(
                {"east": east, "north": north, "durate": ",".join(chosen)}))
            response = conn.getresponse()
            body = json.loads(response.read(), parse_float=str, parse_int=str)
            self.assertEqual(response.status, 200, body)
            for duration, answer in zip(chosen, body["durations"]):
                self.assertEqual(answer["duration"], duration)
                expected = [row[header.index("h_%s_T%d" % (duration, t))] for t in (2, 5, 10, 20, 50, 100, 200)]
                self.assertEqual(answer["mm"], expected, (pid, duration))
                # Both computed in double and rounded once to single.
                hours = float(answer["hours"])
                exponent = subhour if hours < 1 else single(float(row[7]))
                for t, (mm, per_hour) in enumerate(zip(answer["mm"], answer["mmPerHour"])):
                    depth = single(float(row[10 + t])) * hours ** exponent
                    self.assertEqual(single(float(mm)), single(depth), (pid, duration))
                    self.assertEqual(single(float(per_hour)), single(depth / hours), (pid, duration))
            compared += 1
            if compared == 1000:
                break
        conn.close()
        self.assertEqual(compared, 1000)

    def test_hyetograph_is_the_batch_file_in_every_format(self):
        point = ("P1", "2400000", "5100000")
        for method, duration, step, peak, period in [("chicago", "2", 10, "0.4", 100),
                                                       ("alternating-blocks", "30min", 1, "0.4", 5),
                                                       ("chicago", "24", 1, "0.3", 200)]:
            storms = os.path.join(WORK, "storms-%s-%s" % (method, duration))
            for form, extension in (("csv", ".csv"), ("swmm", ".inp.txt"), ("rain", ".dat")):
                batch_rows([point], "--ietogramma", storms, "--durata", duration, "--passo", str(step),
                           "--metodo", method, "--picco", peak, "--tempo-ritorno", str(period), "--formato", form,
                           "--inizio", "2026-06-01T14:30")
                query = urllib.parse.urlencode({"east": point[1], "north": point[2], "durata": duration,
                                                "passo": step, "metodo": method, "picco": peak, "T": period,
                                                "formato": form, "inizio": "2026-06-01T14:30", "nome": "P1"})
                status, headers, body = self.server.get("/api/v1/ietogramma?" + query)
                self.assertEqual(status, 200, body)
                with open(os.path.join(storms, "P1" + extension), "rb") as f:
                    self.assertEqual(body, f.read(), (method, duration, form))
                self.assertIn("attachment", headers["Content-Disposition"])
            query = urllib.parse.urlencode({"east": point[1], "north": point[2], "durata": duration, "passo": step,
                                            "metodo": method, "picco": peak, "T": period})
            status, storm = self.get_json("/api/v1/ietogramma?" + query)
            self.assertEqual(status, 200)
            with open(os.path.join(storms, "P1.csv")) as f:
                lines = [line.split(",") for line in f.read().splitlines()[1:]]
            self.assertEqual(storm["mm"], [line[2] for line in lines])
            self.assertEqual(storm["mmPerHour"], [line[1] for line in lines])
            self.assertEqual(storm["totalMm"], lines[-1][3])
            self.assertEqual(float(storm["peakMmPerHour"]), max(float(line[1]) for line in lines))

    def test_each_refusal_gets_its_4xx_and_the_server_goes_on(self):
        rain = "/api/v1/rain?east=2400000&north=5100000&"
        storm = "/api/v1/ietogramma?east=2400000&north=5100000&"
        table = [
            (rain + "durate=48", 400, "SubscriptOutOfRange", "10 min to 24 h"),
            (rain + "durate=5min", 400, "SubscriptOutOfRange", "10 min to 24 h"),
            (rain + "durate=abc", 400, "TypeMismatch", "not a duration"),
            (rain + "durate=", 400, "TypeMismatch", "not a duration"),
            (rain + "durate=1,1", 400, "TypeMismatch", "twice"),
            (rain + "durate=nan", 400, "TypeMismatch", ""),
            (rain + "durate=1e400", 400, "TypeMismatch", ""),
            (rain + "durate=" + ",".join(["1"] * 70), 400, "TypeMismatch", ""),
            (rain + "durate=" + "9" * 5000, 400, "TypeMismatch", ""),
            (storm + "durata=25", 400, "SubscriptOutOfRange", "10 min to 24 h"),
            (storm + "durata=1&passo=7", 400, "TypeMismatch", "1, 5, 10, 15, 30 or 60"),
            (storm + "durata=15min&passo=10", 400, "TypeMismatch", "divide"),
            (storm + "passo=99999999999999999999", 400, "TypeMismatch", "not a number"),
            (storm + "picco=1.5", 400, "TypeMismatch", "between 0 and 1"),
            (storm + "picco=-0", 200, None, None),
            (storm + "picco=nan", 400, "TypeMismatch", ""),
            (storm + "T=3", 400, "TypeMismatch", "one of 2"),
            (storm + "metodo=scs", 400, "TypeMismatch", "chicago"),
            (storm + "formato=xml", 400, "TypeMismatch", "json, csv"),
            (storm + "formato=rain&nome=..%2Fx", 400, "TypeMismatch", "letters"),
            (storm + "formato=rain&inizio=2026-02-30", 400, "TypeMismatch", "YYYY-MM-DD"),
            ("/api/v1/ietogramma?east=1&north=1", 404, "SubscriptOutOfRange", ""),
            ("/api/v1/ietogramma?east=2410250&north=5040250", 422, "NoValidData", ""),
            ("/api/v1/ietogramma?east=x&north=1", 400, "TypeMismatch", ""),
        ]
        for target, status, kind, said in table:
            got, _, answer = self.server.get(target)
            self.assertEqual(got, status, target[:120])
            if kind:
                error = json.loads(answer)["error"]
                self.assertEqual(error["kind"], kind, target[:120])
                self.assertIn(said, error["en"], target[:120])
                self.assertTrue(error["it"])
            self.assertEqual(self.server.get("/api/v1/health")[0], 200, "after " + target[:120])

    def test_law_names_its_range(self):
        status, law = self.get_json("/api/v1/law")
        self.assertEqual(status, 200)
        self.assertEqual((law["fromHours"], law["toHours"], law["subhourExponent"]), ("1", "24", "0.5"))

    def test_no_durations_anywhere_without_the_law(self):
        """A folder without the law answers as before and offers no durations."""
        folder = linked_folder(APP, "nolaw", left_out=[os.path.join("dat", "durate.txt")])
        without = Server(SERVER, folder)
        self.addCleanup(without.stop)
        plain = "/api/v1/rain?east=2400000&north=5100000"
        self.assertEqual(without.get(plain)[2], self.server.get(plain)[2])
        for target in (plain + "&durate=1", "/api/v1/law", "/api/v1/ietogramma?east=2400000&north=5100000"):
            status, _, body = without.get(target)
            self.assertEqual(status, 404, target)
            self.assertIn("no depth-duration law", json.loads(body)["error"]["en"])
        result = subprocess.run([BATCH, "-", "--folder", folder, "--durate", "1"], input=b"id,East,North\n",
                                capture_output=True)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"needs the depth-duration law", result.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
