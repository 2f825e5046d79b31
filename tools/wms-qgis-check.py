#!/usr/bin/python3
"""Shows that QGIS takes quorvel-server's map as a WMS layer: PyQGIS, offscreen,
adds the layer "quorvel" from the server's /wms, renders it at its full extent
and saves the picture with a caption naming the QGIS version and the layer.

    tools/wms-qgis-check.py http://127.0.0.1:8080/wms docs/wms-qgis.png

Needs the qgis and python3-qgis packages, which the build does not; exits 1
when QGIS cannot add the layer or draws nothing of it.

    tools/wms-qgis-check.py --identify http://127.0.0.1:8080/wms [POINTS]

adds "quorvel" and "pioggia_T100", identifies POINTS random points of the
region (20 by default) with QGIS's identify on each layer, as the identify tool
does, and compares the values QGIS shows with /api/v1/rain's for the point;
exits 1 on the first difference. Sea and outside must say "no data".
"""
import os
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

from qgis.core import (Qgis, QgsApplication, QgsCoordinateReferenceSystem, QgsMapRendererParallelJob,
                       QgsMapSettings, QgsRasterLayer)
from qgis.PyQt.QtCore import QRect, QSize, Qt
from qgis.PyQt.QtGui import QColor, QFont, QImage, QPainter


def main(url, output):
    app = QgsApplication([], False)
    app.initQgis()
    uri = "url=%s&layers=quorvel&styles=&format=image/png&crs=EPSG:3004" % url
    layer = QgsRasterLayer(uri, "Quorvel", "wms")
    if not layer.isValid():
        print("QGIS cannot add the layer: %s" % layer.error().summary(), file=sys.stderr)
        return 1
    settings = QgsMapSettings()
    settings.setLayers([layer])
    settings.setDestinationCrs(QgsCoordinateReferenceSystem("EPSG:3004"))
    settings.setExtent(layer.extent())
    settings.setOutputSize(QSize(945, 609))
    settings.setBackgroundColor(QColor(255, 255, 255))
    job = QgsMapRendererParallelJob(settings)
    job.start()
    job.waitForFinished()
    map_image = job.renderedImage()
    drawn = sum(1 for y in range(0, map_image.height(), 5) for x in range(0, map_image.width(), 5)
                if map_image.pixelColor(x, y) != QColor(255, 255, 255))
    total = len(range(0, map_image.height(), 5)) * len(range(0, map_image.width(), 5))
    errors = [e.message for e in job.errors()]
    if errors or drawn < total // 2:
        print("QGIS drew %d of %d sampled pixels; errors: %s" % (drawn, total, errors), file=sys.stderr)
        return 1

    caption = 36
    picture = QImage(map_image.width(), map_image.height() + caption, QImage.Format_RGB32)
    picture.fill(QColor(240, 240, 240))
    painter = QPainter(picture)
    painter.drawImage(0, 0, map_image)
    painter.setFont(QFont("DejaVu Sans", 10))
    painter.drawText(QRect(10, map_image.height(), map_image.width() - 20, caption), Qt.AlignVCenter,
                     "QGIS %s (PyQGIS, offscreen): the WMS layer \"quorvel\" of %s, in EPSG:3004"
                     % (Qgis.QGIS_VERSION.split("-")[0], url))
    painter.end()
    picture.save(output)
    print("QGIS %s added the WMS layer and drew %d of %d sampled pixels into %s"
          % (Qgis.QGIS_VERSION, drawn, total, output))
    app.exitQgis()
    return 0


def identify(url, points):
    import json
    import random
    import urllib.request
    from qgis.core import QgsPointXY, QgsRaster, QgsRectangle
    app = QgsApplication([], False)
    app.initQgis()
    base = url[:url.rindex("/wms")]
    grid = json.load(urllib.request.urlopen(base + "/api/v1/health"))["grid"]
    rng = random.Random(3)
    checked = no_data = 0
    for name in ["quorvel", "pioggia_T100"]:
        uri = "url=%s&layers=%s&styles=&format=image/png&crs=EPSG:3004&INFO_FORMAT=application/json" % (url, name)
        layer = QgsRasterLayer(uri, name, "wms")
        if not layer.isValid():
            print("QGIS cannot add %s: %s" % (name, layer.error().summary()), file=sys.stderr)
            return 1
        for _ in range(points):
            x, y = rng.uniform(grid["west"], grid["east"]), rng.uniform(grid["south"], grid["north"])
            extent = QgsRectangle(x - 5000, y - 5000, x + 5000, y + 5000)
            # What the identify tool asks: the feature info of the clicked pixel of the canvas.
            result = layer.dataProvider().identify(QgsPointXY(x, y), QgsRaster.IdentifyFormatText, extent, 400, 400)
            if not result.isValid():
                print("QGIS's identify failed at %r, %r: %s" % (x, y, result.error().summary()), file=sys.stderr)
                return 1
            shown = "\n".join(str(v) for v in result.results().values())
            # The pixel's centre is what the service answers for.
            px = extent.xMinimum() + (int((x - extent.xMinimum()) / 25) + 0.5) * 25
            py = extent.yMaximum() - (int((extent.yMaximum() - y) / 25) + 0.5) * 25
            try:
                rain = json.load(urllib.request.urlopen(base + "/api/v1/rain?east=%r&north=%r" % (px, py)))
            except urllib.error.HTTPError as error:
                rain = json.load(error)
            if "error" in rain:
                if "no data" not in shown:
                    print("at %r, %r the API has no rain but QGIS shows:\n%s" % (px, py, shown), file=sys.stderr)
                    return 1
                no_data += 1
                continue
            for key in ["a2", "a1", "cv"]:
                if json.dumps(rain[key]) not in shown:
                    print("QGIS shows no %s = %s at %r, %r:\n%s" % (key, rain[key], px, py, shown), file=sys.stderr)
                    return 1
            for q in rain["quantiles"]:
                if "q%d = %s" % (q["T"], json.dumps(q["mm"])) not in shown:
                    print("QGIS shows no q%d = %s:\n%s" % (q["T"], q["mm"], shown), file=sys.stderr)
                    return 1
            checked += 1
    print("QGIS %s identified %d points as /api/v1/rain answers them, %d with no data"
          % (Qgis.QGIS_VERSION, checked, no_data))
    app.exitQgis()
    return 0


if __name__ == "__main__":
    if len(sys.argv) in (3, 4) and sys.argv[1] == "--identify":
        sys.exit(identify(sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else 20))
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
