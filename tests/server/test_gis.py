"""quorvel-server as GIS programs see it: GetFeatureInfo against /api/v1/rain,
the grids' GeoTIFF read back by GDAL against quorvel-batch, the capabilities
read by OWSLib, EPSG:3857 pictures against gdalwarp's, the map service's
answers over HTTP, and web tiles cached by nginx with the shipped site file.

Usage: test_gis.py SERVER BATCH APP_FOLDER SITE_FILE [FULL_SIZE_REGION]
"""
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

import numpy
from osgeo import gdal, osr

from serverproc import WORK, Nginx, Server, ServerCase, linked_folder, request

SERVER, BATCH, APP, SITE = sys.argv[1:5]
# A full-size region's folder (tools/make-large-region.sh): then only its test runs.
LARGE = sys.argv[5] if len(sys.argv) > 5 else None
gdal.UseExceptions()
MAPS = ["a2", "a1", "cv", "q2", "q5", "q10", "q20", "q50", "q100", "q200"]
RAINFALL = ["pioggia_T2", "pioggia_T5", "pioggia_T10", "pioggia_T20", "pioggia_T50", "pioggia_T100",
            "pioggia_T200", "a2"]


def rgba(png):
    """The PNG as an array of rows x columns x RGBA, read by GDAL."""
    gdal.FileFromMemBuffer("/vsimem/picture.png", png)
    data = gdal.Open("/vsimem/picture.png").ReadAsArray()
    gdal.Unlink("/vsimem/picture.png")
    return numpy.moveaxis(data, 0, -1)


class Gis(ServerCase):
    arguments = (SERVER, APP)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.temp = tempfile.mkdtemp(dir=WORK)
        cls.health = json.loads(cls.server.get("/api/v1/health")[2])

    def wms(self, **params):
        query = "&".join("%s=%s" % (k, v) for k, v in params.items())
        return self.server.get("/wms?SERVICE=WMS&VERSION=1.3.0&" + query)

    def feature_info(self, layer, box, width, height, i, j, crs="EPSG:3004", info="application/json"):
        return self.wms(REQUEST="GetFeatureInfo", LAYERS=layer, QUERY_LAYERS=layer, STYLES="", CRS=crs,
                        BBOX=",".join(repr(v) for v in box), WIDTH=width, HEIGHT=height, I=i, J=j,
                        INFO_FORMAT=info)

    def test_feature_info_is_the_api_rain_of_the_pixel(self):
        grid = self.health["grid"]
        rng = random.Random(32)
        answered = no_data = 0
        for _ in range(200):
            width, height = rng.randint(50, 1200), rng.randint(50, 900)
            metres = rng.choice([2, 20, 200, 800])
            cx = rng.uniform(grid["west"] - 5000, grid["east"] + 5000)
            cy = rng.uniform(grid["south"] - 5000, grid["north"] + 5000)
            box = (cx - width * metres / 2, cy - height * metres / 2, cx + width * metres / 2, cy + height * metres / 2)
            i, j = rng.randrange(width), rng.randrange(height)
            layer = rng.choice(["quorvel"] + RAINFALL)
            status, headers, body = self.feature_info(layer, box, width, height, i, j)
            self.assertEqual((status, headers["Content-Type"]), (200, "application/json"), body)
            answer = json.loads(body)["layers"][0]
            self.assertEqual(answer["layer"], layer)
            # The pixel's centre in map metres, to single precision.
            east = box[0] + (i + 0.5) * (box[2] - box[0]) / width
            north = box[3] - (j + 0.5) * (box[3] - box[1]) / height
            _, _, rain = self.server.get("/api/v1/rain?east=%r&north=%r" % (struct.unpack("f", struct.pack("f", east))[0],
                                                                      struct.unpack("f", struct.pack("f", north))[0]))
            rain = json.loads(rain)
            if "error" in rain:
                self.assertEqual(answer, {"layer": layer, "noData": True}, rain)
                no_data += 1
                continue
            del rain["sample"]
            del answer["layer"]
            self.assertEqual(answer, rain)
            answered += 1
        self.assertGreater(answered, 50)
        self.assertGreater(no_data, 5)

    def test_sea_and_outside_say_no_data_in_every_format(self):
        sea = (2410250, 5040250)
        self.assertEqual(self.server.get("/api/v1/rain?east=%r&north=%r" % sea)[0], 422)
        outside = (self.health["grid"]["east"] + 50000, self.health["grid"]["north"] + 50000)
        for x, y in [sea, outside]:
            box = (x - 50, y - 50, x + 50, y + 50)
            for info, says in [("text/plain", b"no data"), ("text/html", "nessun dato".encode()),
                               ("application/json", b'"noData":true')]:
                status, headers, body = self.feature_info("pioggia_T100", box, 11, 11, 5, 5, info=info)
                self.assertEqual(status, 200)
                self.assertIn(says, body)
        status, _, body = self.feature_info("quorvel", (0, 0, 1, 1), 10, 10, 10, 0)
        self.assertEqual(status, 400)
        self.assertIn(b"InvalidPoint", body)

    def test_capabilities_getmap_and_exceptions_over_http(self):
        """The capabilities lead back to the host the client called, the picture
        has the asked size, and a refusal is a ServiceExceptionReport."""
        status, headers, body = self.server.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities", {"Host": "maps.example:8080"})
        self.assertEqual((status, headers["Content-Type"].split(";")[0]), (200, "text/xml"))
        href = ET.fromstring(body).find("w:Service/w:OnlineResource", {"w": "http://www.opengis.net/wms"}).get(
            "{http://www.w3.org/1999/xlink}href")
        self.assertTrue(href.startswith("http://maps.example:8080/wms"), href)
        getmap = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=quorvel,comuni&STYLES=&CRS={crs}"
                  "&BBOX=2310000,5040000,2490500,5156322&WIDTH=945&HEIGHT=609&FORMAT=image/png&TRANSPARENT=TRUE")
        status, headers, body = self.server.get(getmap.format(crs="EPSG:3004"))
        self.assertEqual((status, headers["Content-Type"], body[:8]), (200, "image/png", b"\x89PNG\r\n\x1a\n"))
        self.assertEqual(struct.unpack(">IIBB", body[16:26]), (945, 609, 8, 6))  # RGBA, as asked transparent
        status, headers, body = self.server.get(getmap.format(crs="EPSG:4258"))
        self.assertEqual((status, headers["Content-Type"].split(";")[0]), (400, "text/xml"))
        exception = ET.fromstring(body).find("{http://www.opengis.net/ogc}ServiceException")
        self.assertEqual(exception.get("code"), "InvalidCRS")
        self.assertEqual(self.server.get(getmap.format(crs="EPSG:3004"))[0], 200)

    def test_feature_info_in_web_coordinates_and_the_municipality(self):
        comuni = json.loads(self.server.get("/api/v1/comuni")[2])
        m = comuni[len(comuni) // 2]
        x, y = (m["extent"]["xMin"] + m["extent"]["xMax"]) / 2, (m["extent"]["yMin"] + m["extent"]["yMax"]) / 2
        gb, monte_mario, wgs = osr.SpatialReference(), osr.SpatialReference(), osr.SpatialReference()
        gb.ImportFromEPSG(3004)
        monte_mario.ImportFromEPSG(4265)
        wgs.ImportFromEPSG(4326)
        options = osr.CoordinateTransformationOptions()
        options.SetOperation("urn:ogc:def:coordinateOperation:EPSG::1660")
        lat, lon, _ = osr.CoordinateTransformation(monte_mario, wgs, options).TransformPoint(
            *osr.CoordinateTransformation(gb, monte_mario).TransformPoint(x, y)[:2])
        d = 0.0001
        status, _, body = self.feature_info("comuni,quorvel", (lat - d, lon - d, lat + d, lon + d), 101, 101, 50, 50,
                                            crs="EPSG:4326")
        self.assertEqual(status, 200, body)
        comune, rain = json.loads(body)["layers"]
        inside = [c["name"] for c in comuni if c["extent"]["xMin"] <= x <= c["extent"]["xMax"] and c["extent"]["yMin"] <= y <= c["extent"]["yMax"]]
        self.assertIn(comune["name"], inside)
        self.assertEqual(comune["province"], next(c["province"] for c in comuni if c["name"] == comune["name"]))
        # Back to Gauss-Boaga within the conversion's rounding, as the API converts it.
        self.assertLess(abs(rain["point"]["east"] - x), 1.5)
        self.assertLess(abs(rain["point"]["north"] - y), 1.5)

    def test_owslib_reads_the_capabilities(self):
        from owslib.wms import WebMapService
        service = WebMapService(self.server.base + "/wms", version="1.3.0")
        self.assertIn("GetFeatureInfo", [op.name for op in service.operations])
        self.assertEqual(set(service.getOperationByName("GetFeatureInfo").formatOptions),
                         {"text/plain", "text/html", "application/json"})
        for name in ["quorvel", "comuni"] + RAINFALL:
            self.assertEqual(service[name].queryable, 1, name)
        self.assertTrue({"EPSG:3004", "EPSG:4326", "EPSG:3857"} <= set(service["pioggia_T100"].crsOptions))
        legend = service["pioggia_T100"].styles["default"]["legend"]
        status, headers, body = self.server.get(legend[legend.index("/wms"):])
        self.assertEqual((status, headers["Content-Type"]), (200, "image/png"))
        picture = rgba(body)
        self.assertGreater(len(numpy.unique(picture.reshape(-1, 4), axis=0)), 9)  # nine classes and the text

    def test_rainfall_layer_colours_data_and_leaves_the_sea(self):
        grid = self.health["grid"]
        box = (grid["west"], grid["south"], grid["east"], grid["north"])
        status, _, body = self.server.get("/api/v1/griglie/q2.tif")
        gdal.FileFromMemBuffer("/vsimem/q2.tif", body)
        q2 = gdal.Open("/vsimem/q2.tif").ReadAsArray()
        gdal.Unlink("/vsimem/q2.tif")
        sea = q2 == -9999
        pictures = []
        for layer in ["pioggia_T2", "pioggia_T200"]:
            status, _, body = self.wms(REQUEST="GetMap", LAYERS=layer, STYLES="", CRS="EPSG:3004",
                                       BBOX=",".join(map(repr, box)), WIDTH=q2.shape[1], HEIGHT=q2.shape[0],
                                       FORMAT="image/png")
            self.assertEqual(status, 200, body)
            pictures.append(rgba(body)[:, :, :3].astype(int))
        # One scale for every T: the rarer rain is coloured differently where there are data ...
        land_changed = (numpy.abs(pictures[0] - pictures[1]).sum(axis=2) > 30)[~sea].mean()
        self.assertGreater(land_changed, 0.5)
        # ... and the sea shows the relief alike in both.
        self.assertEqual(numpy.abs(pictures[0] - pictures[1])[sea].max(), 0)

    def test_grids_as_cloud_optimized_geotiff(self):
        batch_dir = os.path.join(self.temp, "griglie")
        os.mkdir(batch_dir)
        run = subprocess.run([BATCH, "--griglie", batch_dir, "--folder", APP], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        rasters = {}
        for name in MAPS:
            status, headers, body = self.server.get("/api/v1/griglie/%s.tif" % name)
            self.assertEqual(status, 200, body[:200])
            self.assertEqual(body, open(os.path.join(batch_dir, name + ".tif"), "rb").read(), name)
            path = os.path.join(self.temp, name + ".tif")
            open(path, "wb").write(body)
            info = gdal.Info(path, format="json")
            self.assertEqual(info["metadata"]["IMAGE_STRUCTURE"]["LAYOUT"], "COG")
            self.assertEqual(info["geoTransform"], [2310000.0, 500.0, 0.0, 5170000.0, 0.0, -500.0])
            self.assertEqual(info["bands"][0]["type"], "Float32")
            self.assertEqual(info["bands"][0]["noDataValue"], -9999.0)
            dataset = gdal.Open(path)
            self.assertEqual(dataset.GetSpatialRef().GetAuthorityCode(None), "3004")
            metadata = dataset.GetMetadata()
            self.assertEqual(metadata["sha256_grd_param_a2_ras"], self.health["sha256"]["a2"])
            self.assertEqual(metadata["dati"], "esempio")
            rasters[name] = dataset.ReadAsArray()
        rows, columns = rasters["a2"].shape
        rng = random.Random(1000)
        cells = [(rng.randrange(rows), rng.randrange(columns)) for _ in range(1000)]
        points = "id,East,North\n" + "".join("%d,%d,%d\n" % (k, 2310000 + 500 * c + 250, 5170000 - 500 * r - 250)
                                            for k, (r, c) in enumerate(cells))
        run = subprocess.run([BATCH, "-", "--folder", APP], input=points, capture_output=True, text=True)
        lines = run.stdout.splitlines()
        header = lines[0].split(",")
        for (r, c), line in zip(cells, lines[1:]):
            fields = dict(zip(header, line.split(",")))
            for name in MAPS:
                value = rasters[name][r, c]
                if fields["error"]:
                    self.assertEqual(value, -9999.0, (name, r, c))
                else:
                    # Bit for bit: the batch's shortest text reads back to the same single.
                    self.assertEqual(numpy.float32(fields[name]).tobytes(), value.tobytes(), (name, r, c))

    def test_web_mercator_outline_where_gdalwarp_puts_it(self):
        comuni = json.loads(self.server.get("/api/v1/comuni")[2])
        m = max(comuni, key=lambda c: (c["extent"]["xMax"] - c["extent"]["xMin"]) * (c["extent"]["yMax"] - c["extent"]["yMin"]))
        pad = 1000
        box = (m["extent"]["xMin"] - pad, m["extent"]["yMin"] - pad, m["extent"]["xMax"] + pad, m["extent"]["yMax"] + pad)
        width = 600
        height = round(width * (box[3] - box[1]) / (box[2] - box[0]))
        status, _, body = self.wms(REQUEST="GetMap", LAYERS="comuni", STYLES="", CRS="EPSG:3004",
                                   BBOX=",".join(map(repr, box)), WIDTH=width, HEIGHT=height, FORMAT="image/png",
                                   TRANSPARENT="TRUE")
        self.assertEqual(status, 200)
        source = os.path.join(self.temp, "gb.tif")
        picture = rgba(body)
        out = gdal.GetDriverByName("GTiff").Create(source, width, height, 1, gdal.GDT_Byte)
        out.SetGeoTransform([box[0], (box[2] - box[0]) / width, 0, box[3], 0, -(box[3] - box[1]) / height])
        gb = osr.SpatialReference()
        gb.ImportFromEPSG(3004)
        out.SetSpatialRef(gb)
        out.GetRasterBand(1).WriteArray((picture[:, :, 3] > 0).astype(numpy.uint8) * 255)
        out = None
        # gdalwarp with the very Helmert transformation EPSG:1660, as PROJ lists it.
        listing = subprocess.run(["projinfo", "-s", "EPSG:3004", "-t", "EPSG:3857", "-o", "PROJ",
                                  "--spatial-test", "intersects"], capture_output=True, text=True).stdout
        block = listing[listing.index("Monte Mario to WGS 84 (4)"):]
        pipeline = " ".join(block[block.index("+proj=pipeline"):block.index("\n\n")].split())
        mercator = osr.SpatialReference()
        mercator.ImportFromEPSG(3857)
        mercator.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
        gb.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
        options = osr.CoordinateTransformationOptions()
        options.SetOperation(pipeline)
        to_web = osr.CoordinateTransformation(gb, mercator, options)
        corners = [to_web.TransformPoint(x, y)[:2] for x in box[0:3:2] for y in box[1:4:2]]
        inner = (max(corners[0][0], corners[1][0]), max(corners[0][1], corners[2][1]),
                 min(corners[2][0], corners[3][0]), min(corners[1][1], corners[3][1]))
        web_w = 500
        web_h = round(web_w * (inner[3] - inner[1]) / (inner[2] - inner[0]))
        warped = os.path.join(self.temp, "web.tif")
        subprocess.run(["gdalwarp", "-q", "-overwrite", "-ct", pipeline, "-t_srs", "EPSG:3857", "-te", *map(repr, inner),
                        "-ts", str(web_w), str(web_h), "-r", "near", source, warped], check=True)
        expected = gdal.Open(warped).ReadAsArray() > 0
        status, _, body = self.wms(REQUEST="GetMap", LAYERS="comuni", STYLES="", CRS="EPSG:3857",
                                   BBOX=",".join(map(repr, inner)), WIDTH=web_w, HEIGHT=web_h, FORMAT="image/png",
                                   TRANSPARENT="TRUE")
        self.assertEqual(status, 200)
        ours = rgba(body)[:, :, 3] > 0
        self.assertGreater(ours.sum(), 500)

        def near(mask, pixels):
            grown = numpy.zeros_like(mask)
            for dy in range(-pixels, pixels + 1):
                for dx in range(-pixels, pixels + 1):
                    grown |= numpy.roll(numpy.roll(mask, dy, axis=0), dx, axis=1)
            return grown
        self.assertGreater((ours & near(expected, 2)).sum() / ours.sum(), 0.99)
        self.assertGreater((expected & near(ours, 2)).sum() / expected.sum(), 0.99)

    def test_tile_twice_through_nginx_is_a_cache_hit(self):
        if not shutil.which("nginx"):
            self.skipTest("nginx is not installed")
        nginx = Nginx(SITE, self.server.port)
        self.addCleanup(nginx.stop)
        # A tile of zoom 9 over the region.
        grid = self.health["grid"]
        gb, wgs = osr.SpatialReference(), osr.SpatialReference()
        gb.ImportFromEPSG(3004)
        wgs.ImportFromEPSG(4326)
        wgs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
        lon, lat, _ = osr.CoordinateTransformation(gb, wgs).TransformPoint(
            (grid["west"] + grid["east"]) / 2, (grid["south"] + grid["north"]) / 2)
        z = 9
        x = int((lon + 180) / 360 * 2 ** z)
        y = int((1 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2 * 2 ** z)
        tile = "/tiles/%d/%d/%d.png" % (z, x, y)
        first = request(nginx.port, tile)
        second = request(nginx.port, tile)
        self.assertEqual(first[0], 200, first[2][:200])
        self.assertEqual(first[1]["X-Cache-Status"], "MISS")
        self.assertEqual(second[1]["X-Cache-Status"], "HIT")
        self.assertEqual(first[2], second[2])
        picture = rgba(first[2])
        self.assertEqual(picture.shape, (256, 256, 4))
        self.assertGreater((picture[:, :, 3] > 0).mean(), 0.2)

    def test_health_tells_the_overviews(self):
        self.assertEqual(self.health["overviews"], "ready")


def district_never_blank(test, folder):
    """The server on folder, whose UD district raster lacks overviews: GetMap
    of raster_distretto at 50 km around its centre is never blank, while the
    overviews are built and once they are ready. The states health went
    through, in order."""
    source = gdal.Open(os.path.join(folder, "Raster", "UD.tif"))
    gt = source.GetGeoTransform()
    centre = (gt[0] + gt[1] * source.RasterXSize / 2, gt[3] + gt[5] * source.RasterYSize / 2)
    source = None
    server = Server(SERVER, folder, cache=tempfile.mkdtemp(dir=WORK))
    test.addCleanup(server.stop)
    box = ",".join(repr(v) for v in (centre[0] - 25000, centre[1] - 16000, centre[0] + 25000, centre[1] + 16000))

    def picture(layers):
        status, _, body = server.get("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=%s&STYLES="
                                     "&CRS=EPSG:3004&BBOX=%s&WIDTH=500&HEIGHT=320&FORMAT=image/png" % (layers, box))
        test.assertEqual(status, 200)
        return rgba(body)[:, :, :3]

    relief = picture("rilievo")
    deadline = time.time() + 240
    states = []
    while True:
        state = json.loads(server.get("/api/v1/health")[2])["overviews"]
        if not states or states[-1] != state:
            states.append(state)
        district = picture("raster_distretto")
        test.assertGreater((district != 255).any(axis=2).mean(), 0.5, state)  # never blank
        if state == "ready":
            break
        test.assertLess(time.time(), deadline, "the overviews were never ready")
        time.sleep(0.5)
    test.assertFalse(numpy.array_equal(district, relief))  # the district raster itself
    test.assertTrue(server.lines("overviews ready"))
    return states


class LargeRaster(unittest.TestCase):
    """A district raster too large to draw wide views from without overviews,
    as full-size data bring: the server builds them and meanwhile draws the
    relief in its place."""

    def test_district_raster_at_50_km_is_never_blank(self):
        district = os.path.join("Raster", "UD.tif")
        folder = linked_folder(APP, "large-raster", left_out=[district])
        gdal.Translate(os.path.join(folder, district), gdal.Open(os.path.join(APP, district)),
                       creationOptions=["TILED=YES", "COMPRESS=DEFLATE"])
        district_never_blank(self, folder)


@unittest.skipUnless(LARGE, "no full-size region given")
class FullSizeRegion(unittest.TestCase):
    """The region tools/make-large-region.sh writes: a district raster of
    25,000 x 13,700 cells without overviews, which take the server seconds."""

    def test_district_raster_at_50_km_is_never_blank_while_its_overviews_are_built(self):
        self.assertEqual(district_never_blank(self, os.path.abspath(LARGE)), ["building", "ready"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + (["FullSizeRegion"] if LARGE else []), verbosity=2)
