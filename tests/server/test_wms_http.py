"""quorvel-server's /wms over HTTP: the real server answers the map service's
capabilities, a PNG of the asked size, and a ServiceExceptionReport for a bad
request, and goes on answering.

Usage: test_wms_http.py SERVER APP_FOLDER
"""
import http.client
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

SERVER, APP = sys.argv[1:3]
GETMAP = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=quorvel,comuni&STYLES=&CRS={crs}"
          "&BBOX=2310000,5040000,2490500,5156322&WIDTH=945&HEIGHT=609&FORMAT=image/png&TRANSPARENT=TRUE")


class WmsOverHttp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.log = tempfile.NamedTemporaryFile("w+", suffix=".log")
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)  # the server chooses offscreen itself
        cls.process = subprocess.Popen([SERVER, "--folder", APP, "--listen", "127.0.0.1:0"], stderr=cls.log,
                                       stdin=subprocess.DEVNULL, env=env)
        deadline = time.time() + 20
        while time.time() < deadline:
            first = open(cls.log.name).readline()
            if "listening on http://127.0.0.1:" in first:
                cls.port = int(first.split("127.0.0.1:")[1].split("/")[0])
                return
            time.sleep(0.05)
        raise RuntimeError("the server did not start: " + open(cls.log.name).read())

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        cls.process.wait(timeout=10)

    def get(self, target):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            conn.request("GET", target, headers={"Host": "maps.example:8080"})
            response = conn.getresponse()
            return response.status, response.getheader("Content-Type"), response.read()
        finally:
            conn.close()

    def test_capabilities_getmap_and_exceptions(self):
        status, kind, body = self.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities")
        self.assertEqual((status, kind.split(";")[0]), (200, "text/xml"))
        ns = {"w": "http://www.opengis.net/wms"}
        root = ET.fromstring(body)
        href = root.find("w:Service/w:OnlineResource", ns).get("{http://www.w3.org/1999/xlink}href")
        self.assertTrue(href.startswith("http://maps.example:8080/wms"), href)

        status, kind, body = self.get(GETMAP.format(crs="EPSG:3004"))
        self.assertEqual((status, kind), (200, "image/png"))
        self.assertEqual(body[:8], b"\x89PNG\r\n\x1a\n")
        width, height, depth, colour = struct.unpack(">IIBB", body[16:26])
        self.assertEqual((width, height, depth, colour), (945, 609, 8, 6))  # RGBA, as asked transparent

        status, kind, body = self.get(GETMAP.format(crs="EPSG:4258"))
        self.assertEqual((status, kind.split(";")[0]), (400, "text/xml"))
        report = ET.fromstring(body)
        self.assertEqual(report.find("{http://www.opengis.net/ogc}ServiceException").get("code"), "InvalidCRS")
        self.assertEqual(self.get(GETMAP.format(crs="EPSG:3004"))[0], 200)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
