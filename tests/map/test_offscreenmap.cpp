#include "map/MapWidget.h"
#include "map/OffscreenMap.h"
#include "maplayers/DetailView.h"
#include "maplayers/LayerTable.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quorvel;

// The map without a window draws what the widget draws, layer for layer and
// label for label, on the sample region set up as the main window sets it up.
class TestOffscreenMap : public QObject {
    Q_OBJECT

private slots:
    void drawsWhatTheWidgetDraws()
    {
        QTemporaryDir cache;
        qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
        const std::string folder = QUORVEL_APP_DIR;
        MapWidget widget;
        widget.resize(640, 400);
        OffscreenMap offscreen(640, 400);
        QString widgetDistrict = "UD", offscreenDistrict = "UD";
        for (MapView* map : {static_cast<MapView*>(&widget), static_cast<MapView*>(&offscreen)}) {
            map->SetBackColor(Rgb(192, 192, 192));
            AddLayerTable(*map, folder);
        }
        QVERIFY(offscreen.LayerProblems().empty());
        const MapExtents full = offscreen.GetExtents();
        QCOMPARE(widget.GetExtents(), full);

        struct Row {
            double centreX, centreY, width;
            int shownHandle;  // a layer the detail rules show at that width
            const char* district;
        };
        const Row rows[] = {
            {(full.xMin + full.xMax) / 2, (full.yMin + full.yMax) / 2, full.xMax - full.xMin, kProvinceLayer, "UD"},
            {2400000, 5110000, 30000, kMunicipalityNames, "UD"},
            {2400000, 5110000, 8000, kPlaceNames, "UD"},
            {2400000, 5110000, 3000, kDistrictRaster, "UD"},
            {2340000, 5060000, 3000, kDistrictRaster, "PN"},
        };
        for (const Row& row : rows) {
            const MapExtents view{row.centreX - row.width / 2, row.centreX + row.width / 2, row.centreY - 100,
                                  row.centreY + 100};
            widget.ZoomToExtents(view);
            offscreen.ZoomToExtents(view);
            UpdateDetailView(widget, widgetDistrict);
            UpdateDetailView(offscreen, offscreenDistrict);
            QCOMPARE(offscreen.GetExtents(), widget.GetExtents());
            QCOMPARE(offscreenDistrict, QString(row.district));
            QVERIFY(offscreen.Scene().LayerVisible(row.shownHandle));
            const QImage picture = offscreen.Render();
            QCOMPARE(picture.size(), QSize(640, 400));
            QVERIFY2(picture == widget.RenderMap(), qPrintable(QString::number(row.width)));
        }
    }
};

QTEST_MAIN(TestOffscreenMap)
#include "test_offscreenmap.moc"
