#!/usr/bin/python3
"""Shows that QGIS takes quorvel-server's map as a WMS layer: PyQGIS, offscreen,
adds the layer "quorvel" from the server's /wms, renders it at its full extent
and saves the picture with a caption naming the QGIS version and the layer.

    tools/wms-qgis-check.py http://127.0.0.1:8080/wms docs/wms-qgis.png

Needs the qgis and python3-qgis packages, which the build does not; exits 1
when QGIS cannot add the layer or draws nothing of it.
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


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
