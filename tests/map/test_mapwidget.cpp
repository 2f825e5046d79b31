#include "map/GdalLayers.h"
#include "map/MapOverlay.h"
#include "map/MapWidget.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace quorvel;

namespace {

// A square with a square hole, a rectangle, two islands; with a name, an integer and a real.
QString WritePolygons(const QTemporaryDir& dir, const char* encoding = "UTF-8")
{
    const QString path = dir.filePath(QStringLiteral("poly_%1.shp").arg(QString(encoding).remove('-')));
    GDALAllRegister();
    GDALDatasetUniquePtr ds(GetGDALDriverManager()->GetDriverByName("ESRI Shapefile")
                                ->Create(path.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr));
    char** options = CSLSetNameValue(nullptr, "ENCODING", encoding);
    OGRLayer* layer = ds->CreateLayer("layer", nullptr, wkbPolygon, options);
    CSLDestroy(options);
    OGRFieldDefn name("NAME", OFTString), code("CODE", OFTInteger), area("AREA", OFTReal);
    area.SetWidth(12);
    area.SetPrecision(3);
    for (OGRFieldDefn* field : {&name, &code, &area})
        layer->CreateField(field);
    const struct {
        const char* wkt;
        const char* name;
        int code;
        double area;
    } rows[] = {
        {"POLYGON((0 0,100 0,100 100,0 100,0 0),(40 40,60 40,60 60,40 60,40 40))", "Citt\xc3\xa0", 42, 12.5},
        {"POLYGON((200 0,300 0,300 50,200 50,200 0))", "Borgo", -7, 3.0},
        {"MULTIPOLYGON(((400 0,450 0,450 50,400 50,400 0)),((500 0,550 0,550 50,500 50,500 0)))", "Isole", 0, 0.125},
    };
    for (const auto& row : rows) {
        OGRFeature feature(layer->GetLayerDefn());
        OGRGeometry* geometry = nullptr;
        OGRGeometryFactory::createFromWkt(row.wkt, nullptr, &geometry);
        feature.SetGeometryDirectly(geometry);
        feature.SetField(0, row.name);
        feature.SetField(1, row.code);
        feature.SetField(2, row.area);
        if (layer->CreateFeature(&feature) != OGRERR_NONE)
            qFatal("cannot write a test feature");
    }
    return path;
}

// 110 x 20 pixels of 5 m over the polygons: grey 0 | 100, or red | blue with three bands.
QString WriteRaster(const QTemporaryDir& dir, int bands)
{
    const QString path = dir.filePath(QStringLiteral("raster%1.tif").arg(bands));
    GDALDatasetUniquePtr ds(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
        path.toUtf8().constData(), 110, 20, bands, bands == 1 ? GDT_Float32 : GDT_Byte, nullptr));
    double geo[6] = {0, 5, 0, 100, 0, -5};
    ds->SetGeoTransform(geo);
    std::vector<float> values(110 * 20 * bands, 0.0f);
    for (int i = 0; i < 110 * 20; ++i) {
        const bool west = i % 110 < 55;
        if (bands == 1)
            values[i] = west ? 0 : 100;
        else
            values[i + (west ? 0 : 2 * 110 * 20)] = 255;
    }
    if (ds->RasterIO(GF_Write, 0, 0, 110, 20, values.data(), 110, 20, GDT_Float32, bands, nullptr, 0, 0, 0,
                     nullptr) != CE_None)
        qFatal("cannot write the test raster");
    return path;
}

std::unique_ptr<MapLayer> Shapes(MapWidget& map, const QString& path)
{
    auto layer = map.NewShapefile();
    layer->OpenShapefile(path.toStdString());
    return layer;
}

std::unique_ptr<MapLayer> Image(MapWidget& map, const QString& path)
{
    auto layer = map.NewImage();
    layer->OpenImage(path.toStdString(), 2, false);
    return layer;
}

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& match)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += match(image.pixel(x, y)) ? 1 : 0;
    return n;
}

struct Recorder : MapEvents {
    explicit Recorder(MapWidget& m) : map(m) { map.SetEventSink(this); }
    MapWidget& map;
    QStringList calls;
    MapExtents atSelectBox, atMouseUp;
    void MouseDown(int, int, int x, int y) override { calls << QStringLiteral("down %1 %2").arg(x).arg(y); }
    void MouseUp(int, int, int, int) override
    {
        calls << "up";
        atMouseUp = map.GetExtents();
    }
    void MouseMove(int, int, int, int) override { calls << "move"; }
    void MouseLeave() override { calls << "leave"; }
    void SelectBoxFinal(int, int, int, int) override
    {
        calls << "box";
        atSelectBox = map.GetExtents();
    }
};

void Mouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w.mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

void Drag(QWidget& w, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton)
{
    Mouse(w, QEvent::MouseButtonPress, from, button, button);
    Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button);
    Mouse(w, QEvent::MouseMove, to, Qt::NoButton, button);
    Mouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton);
}

bool IsHighlight(QRgb c)
{
    return qRed(c) > 230 && qGreen(c) > 140 && qGreen(c) < 200 && qBlue(c) < 40;
}

// The longest run of black pixels in any row of the bottom strip of the picture.
int LongestBlackRun(const QImage& image, int strip)
{
    int longest = 0;
    for (int y = image.height() - strip; y < image.height(); ++y)
        for (int x = 0, run = 0; x < image.width(); ++x) {
            run = image.pixel(x, y) == qRgb(0, 0, 0) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    return longest;
}

bool Near(double a, double b, double tolerance = 1e-6)
{
    return std::abs(a - b) <= tolerance;
}

}  // namespace

// 3000 x 2000 grey pixels of 1 m, tiled, without overviews: too large to be
// read whole for a small view.
QString WriteLargeRaster(const QString& folder)
{
    const QString path = folder + QStringLiteral("/large.tif");
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    const char* options[] = {"TILED=YES", nullptr};
    GDALDatasetUniquePtr ds(
        driver->Create(path.toUtf8().constData(), 3000, 2000, 1, GDT_Byte, const_cast<char**>(options)));
    double geo[6] = {0, 1, 0, 2000, 0, -1};
    ds->SetGeoTransform(geo);
    std::vector<GByte> values(3000 * 2000);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = GByte(i % 3000 / 12);
    if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, 3000, 2000, values.data(), 3000, 2000, GDT_Byte, 0, 0,
                                       nullptr) != CE_None)
        qFatal("cannot write the test raster");
    return path;
}

QStringList FilesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

bool DrawnWhole(MapWidget& map)
{
    const QImage frame = map.RenderMap();
    return CountPixels(frame, [](QRgb c) { return c != qRgb(255, 255, 255); }) > frame.width() * frame.height() / 2;
}

class TestMapWidget : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        polygons_ = WritePolygons(dir_);
    }

    // The lowest free handle first, drawn on top.
    void handles()
    {
        MapWidget map;
        QList<int> added;
        for (const char* step : {"a", "a", "a", "a", "r2", "r0", "a", "a", "a"}) {
            if (step[0] == 'a')
                added << map.AddLayer(Shapes(map, polygons_), true);
            else
                map.RemoveLayer(step[1] - '0');
        }
        QCOMPARE(added, (QList<int>{0, 1, 2, 3, 0, 2, 4}));
        QList<int> positions;
        for (int p = -1; p <= 5; ++p)
            positions << map.LayerHandle(p);
        QCOMPARE(positions, (QList<int>{-1, 1, 3, 0, 2, 4, -1}));
    }

    // Calls naming no layer, or a layer that cannot do it, change nothing.
    void badArgumentsChangeNothing()
    {
        const std::vector<std::function<void(MapWidget&)>> calls = {
            [](MapWidget& m) { m.ZoomToShape(1, -1); },       [](MapWidget& m) { m.ZoomToShape(1, 3); },
            [](MapWidget& m) { m.ZoomToShape(9, 0); },        [](MapWidget& m) { m.ZoomToShape(0, 0); },
            [](MapWidget& m) { m.ZoomToLayer(-1); },          [](MapWidget& m) { m.RemoveLayer(7); },
            [](MapWidget& m) { m.SetLayerVisible(-3, false); },
            [](MapWidget& m) { m.SetLayerLineColor(2, Rgb(255, 0, 0)); },
            [](MapWidget& m) { m.AddLabel(5, "x", 0, 250, 25, 1, 0); }, [](MapWidget& m) { m.SetCursorMode(3); },
        };
        for (std::size_t i = 0; i < calls.size(); ++i) {
            MapWidget map;
            map.resize(400, 300);
            map.AddLayer(Image(map, WriteRaster(dir_, 1)), true);  // 0: an image has no shapes
            map.AddLayer(Shapes(map, polygons_), true);            // 1
            map.ZoomToShape(1, 1);
            const MapExtents before = map.GetExtents();
            const QImage picture = map.RenderMap().copy();
            calls[i](map);
            QVERIFY2(map.GetExtents() == before && map.RenderMap() == picture, qPrintable(QString::number(i)));
            QCOMPARE(map.LayerHandle(2), -1);
            QCOMPARE(map.GetLayerObject(0), nullptr);
            QVERIFY(map.GetLayerObject(1) != nullptr);
            QCOMPARE(map.CursorMode(), int(kNoTool));
        }
    }

    // A file that does not open still takes its handle, and is then a layer without data.
    void missingFileKeepsItsHandle()
    {
        MapWidget map;
        map.resize(300, 200);
        map.AddLayer(Shapes(map, dir_.filePath("absent.shp")), true);
        QCOMPARE(map.AddLayer(Shapes(map, polygons_), true), 1);
        auto image = map.NewImage();
        QVERIFY(!image->OpenImage(dir_.filePath("absent.tif").toStdString(), 2, false));
        QVERIFY(!static_cast<GdalImageLayer&>(*image).OpenError().empty());
        QCOMPARE(map.AddLayer(std::move(image), true), 2);
        // The first layer with data sets the first view; empty layers zoom nowhere.
        const MapExtents view = map.GetExtents();
        QVERIFY(Near(view.xMin, 0) && Near(view.xMax, 550));
        map.ZoomToLayer(0);
        map.ZoomToLayer(2);
        map.ZoomToShape(0, 0);
        map.AddLabel(0, "x", 0, 50, 50, 1, 0);
        QCOMPARE(map.GetExtents(), view);
        // A resize keeps the centre and the scale: a larger map shows more around it.
        map.resize(200, 400);
        const MapExtents resized = map.GetExtents();
        QVERIFY(Near(resized.xMin + resized.xMax, view.xMin + view.xMax));
        QVERIFY(Near(resized.yMin + resized.yMax, view.yMin + view.yMax));
        QVERIFY(Near((resized.xMax - resized.xMin) / 200, (view.xMax - view.xMin) / 300, 1e-9));
    }

    void zoomToShapeFitsTheShape()
    {
        for (const auto& [shape, size] : {std::pair{0, QSize(600, 300)}, {1, QSize(300, 600)}, {2, QSize(400, 400)}}) {
            MapWidget map;
            map.resize(size);
            map.AddLayer(Shapes(map, polygons_), true);
            const MapExtents s = map.GetLayerObject(0)->ShapeExtents(shape);
            map.ZoomToShape(0, shape);
            const MapExtents v = map.GetExtents();
            QVERIFY(v.xMin < s.xMin && v.xMax > s.xMax && v.yMin < s.yMin && v.yMax > s.yMax);
            // The shape fills the view in one direction, but for a small margin.
            QVERIFY(std::max((s.xMax - s.xMin) / (v.xMax - v.xMin), (s.yMax - s.yMin) / (v.yMax - v.yMin)) > 0.8);
            double x, y;
            map.PixelToProj(size.width(), size.height(), x, y);
            QVERIFY(Near(x, v.xMax) && Near(y, v.yMin));
        }
    }

    void shapesAndCells()
    {
        GdalShapefileLayer layer;
        QVERIFY(layer.OpenShapefile(polygons_.toStdString()));
        QCOMPARE(layer.ShapeCount(), 3);
        const struct {
            int shape;
            double x, y;
            bool inside;
        } points[] = {{0, 20, 80, true},    {0, 50, 50, false},   {0, 250, 25, false}, {1, 250, 25, true},
                      {2, 425, 25, true},   {2, 475, 25, false},  {2, 525, 25, true},  {-1, 20, 80, false},
                      {3, 20, 80, false}};
        for (const auto& p : points)
            QVERIFY2(layer.ShapeContainsPoint(p.shape, p.x, p.y) == p.inside,
                     qPrintable(QStringLiteral("%1 %2 %3").arg(p.shape).arg(p.x).arg(p.y)));
        const struct {
            int field, shape;
            const char* text;
        } cells[] = {{1, 1, "-7"}, {2, 0, "12.5"}, {2, 1, "3"}, {2, 2, "0.125"}, {3, 0, ""}, {0, -1, ""}};
        for (const auto& c : cells)
            QCOMPARE(layer.CellValue(c.field, c.shape), std::string(c.text));
        // Text comes back in UTF-8 whatever the file's code page.
        QCOMPARE(layer.CellValue(0, 0), std::string("Citt\xc3\xa0"));
        GdalShapefileLayer coded;
        QVERIFY(coded.OpenShapefile(WritePolygons(dir_, "CP1252").toStdString()));
        QCOMPARE(coded.CellValue(0, 0), std::string("Citt\xc3\xa0"));
    }

    void hiddenLayersAndOverlappingLabelsAreNotDrawn()
    {
        MapWidget map;
        map.resize(600, 200);
        map.SetBackColor(Rgb(255, 255, 255));
        map.AddLayer(Shapes(map, polygons_), true);
        map.SetLayerLineColor(0, Rgb(255, 0, 0));
        map.SetLayerLineWidth(0, 2.0f);
        const auto red = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80; };
        const auto dark = [](QRgb c) { return qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60; };
        QVERIFY(CountPixels(map.RenderMap(), red) > 100);
        QCOMPARE(CountPixels(map.RenderMap(), dark), 0);

        map.AddLabel(0, "Primo nome", 0, 150, 37, 1, 0);
        const QImage one = map.RenderMap().copy();
        QVERIFY(CountPixels(one, dark) > 20);
        // A second name a metre (three pixels) away would overlap the first; one far away is drawn.
        map.AddLabel(0, "Secondo nome", 0, 151, 37.5, 1, 0);
        QCOMPARE(map.RenderMap(), one);
        map.AddLabel(0, "Lontano", 0, 40, 30, 1, 0);
        QVERIFY(map.RenderMap() != one);

        // The label goes with its layer.
        map.SetLayerVisible(0, false);
        QVERIFY(!map.LayerVisible(0));
        QCOMPARE(CountPixels(map.RenderMap(), red) + CountPixels(map.RenderMap(), dark), 0);
    }

    // 550 pixels show the file's 110 enlarged, 55 show them reduced.
    void rasterColours()
    {
        for (int bands : {1, 3})
            for (const QSize size : {QSize(550, 100), QSize(55, 10)}) {
                MapWidget map;
                map.resize(size);
                map.AddLayer(Image(map, WriteRaster(dir_, bands)), true);
                const QImage picture = map.RenderMap();
                QCOMPARE(picture.pixel(size.width() / 5, size.height() / 2), bands == 1 ? qRgb(0, 0, 0) : qRgb(255, 0, 0));
                QCOMPARE(picture.pixel(size.width() * 4 / 5, size.height() / 2),
                         bands == 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 255));
            }
    }

    void gestures_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("sendDown");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<double>("widthRatio");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("zoom box") << int(kZoomIn) << false << QPoint(90, 40) << QPoint(240, 140) << 0.5
                                  << QStringList{"move", "move", "box", "up", "leave"};
        QTest::newRow("zoom in click") << int(kZoomIn) << false << QPoint(100, 50) << QPoint(100, 50) << 0.5
                                       << QStringList{"move", "move", "up", "leave"};
        QTest::newRow("zoom out click") << int(kZoomOut) << false << QPoint(100, 50) << QPoint(100, 50) << 2.0
                                        << QStringList{"move", "move", "up", "leave"};
        QTest::newRow("pan") << int(kPan) << false << QPoint(100, 50) << QPoint(160, 20) << 1.0
                             << QStringList{"move", "move", "up", "leave"};
        QTest::newRow("no tool, picking") << int(kNoTool) << true << QPoint(30, 40) << QPoint(80, 90) << 1.0
                                          << QStringList{"down 30 40", "move", "move", "up", "leave"};
        QTest::newRow("no tool, events off") << int(kNoTool) << false << QPoint(30, 40) << QPoint(80, 90) << 1.0
                                             << QStringList{};
    }
    // The view changes before the events are raised, so they see the new one.
    void gestures()
    {
        QFETCH(int, mode);
        QFETCH(bool, sendDown);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(double, widthRatio);
        QFETCH(QStringList, calls);
        MapWidget map;
        map.resize(300, 200);
        map.AddLayer(Shapes(map, polygons_), true);
        Recorder recorder(map);
        map.SetCursorMode(mode);
        const bool send = sendDown || !calls.isEmpty();
        map.SetSendMouseDown(sendDown);
        map.SetSendMouseMove(send);
        map.SetSendMouseUp(send);
        map.SetSendSelectBoxFinal(send);
        const MapExtents before = map.GetExtents();
        double grabX, grabY;
        map.PixelToProj(from.x(), from.y(), grabX, grabY);

        Drag(map, from, to);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&map, &leave);
        QCOMPARE(recorder.calls, calls);
        const MapExtents after = map.GetExtents();
        QVERIFY(Near((after.xMax - after.xMin) / (before.xMax - before.xMin), widthRatio));
        if (send)
            QCOMPARE(recorder.atMouseUp, after);
        double x, y;
        if (calls.contains("box")) {
            QCOMPARE(recorder.atSelectBox, after);
            QVERIFY(Near(after.xMin, before.xMin + (before.xMax - before.xMin) * from.x() / 300.0));
            QVERIFY(Near(after.yMin, before.yMax - (before.yMax - before.yMin) * to.y() / 200.0));
        } else if (mode == kPan) {
            map.PixelToProj(to.x(), to.y(), x, y);  // the grabbed point ends under the pointer
            QVERIFY(Near(x, grabX) && Near(y, grabY));
        } else if (mode != kNoTool) {
            QVERIFY(Near((after.xMin + after.xMax) / 2, grabX, 1.0) && Near((after.yMin + after.yMax) / 2, grabY, 1.0));
        }
    }

    void wheelKeepsPointUnderPointer()
    {
        MapWidget map;
        map.resize(300, 200);
        map.AddLayer(Shapes(map, polygons_), true);
        Recorder recorder(map);
        map.SetSendMouseUp(true);
        const MapExtents before = map.GetExtents();
        double x, y, x2, y2;
        map.PixelToProj(70, 30, x, y);
        QWheelEvent wheel(QPointF(70, 30), map.mapToGlobal(QPointF(70, 30)), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&map, &wheel);
        const MapExtents after = map.GetExtents();
        QVERIFY(after.xMax - after.xMin < before.xMax - before.xMin);
        // The turn ends like a click's release, after the new view is in place.
        QCOMPARE(recorder.calls, QStringList{"up"});
        QCOMPARE(recorder.atMouseUp, after);
        map.PixelToProj(70, 30, x2, y2);
        QVERIFY(Near(x, x2) && Near(y, y2));
    }

    void pointers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("pointer");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<int>("shape");
        QTest::addColumn<QString>("lens");  // "+" or "-" for a magnifier
        QTest::newRow("no tool") << int(kNoTool) << int(kArrow) << false << int(Qt::ArrowCursor) << "";
        QTest::newRow("pan, dragging") << int(kPan) << int(kArrow) << true << int(Qt::ClosedHandCursor) << "";
        QTest::newRow("zoom in") << int(kZoomIn) << int(kArrow) << false << int(Qt::BitmapCursor) << "+";
        QTest::newRow("zoom out") << int(kZoomOut) << int(kArrow) << true << int(Qt::BitmapCursor) << "-";
        QTest::newRow("cross-hair asked whatever the mode") << int(kPan) << int(kCrossHair) << false
                                                            << int(Qt::CrossCursor) << "";
    }
    void pointers()
    {
        QFETCH(int, mode);
        QFETCH(int, pointer);
        QFETCH(bool, pressed);
        QFETCH(int, shape);
        QFETCH(QString, lens);
        MapWidget map;
        map.resize(300, 200);
        map.AddLayer(Shapes(map, polygons_), true);
        map.SetMapCursor(kCrossHair);
        map.SetCursorMode(mode);
        map.SetMapCursor(pointer);
        if (pressed)
            Mouse(map, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(int(map.cursor().shape()), shape);
        if (!lens.isEmpty()) {
            QCOMPARE(map.cursor().hotSpot(), QPoint(12, 12));
            // Above the lens centre lies the upright stroke of the "+", or the bare lens.
            const QImage image = map.cursor().pixmap().toImage();
            const QRgb above = image.pixel(image.width() * 12 / 32, image.height() * 9 / 32);
            QVERIFY(qBlue(above) > 150);
            QCOMPARE(qRed(above) < 100, lens == "+");
        }
        if (pressed) {
            Mouse(map, QEvent::MouseButtonRelease, QPoint(100, 100), Qt::LeftButton, Qt::NoButton);
            QCOMPARE(int(map.cursor().shape()), mode == kPan ? int(Qt::OpenHandCursor) : shape);
        }
    }

    void highlightUntilTheViewChanges()
    {
        MapWidget map;
        map.resize(300, 200);
        const int handle = map.AddLayer(Shapes(map, polygons_), true);
        QCOMPARE(CountPixels(map.grab().toImage(), IsHighlight), 0);
        map.SetHighlight(handle, 1);  // the rectangle from x 200 to 300
        const QImage lit = map.grab().toImage();
        QVERIFY(CountPixels(lit, IsHighlight) > 200);
        // The square, drawn in the first hundred pixels, stays as it is.
        QCOMPARE(CountPixels(lit.copy(0, 0, 100, 200), IsHighlight), 0);
        map.SetCursorMode(kPan);
        Drag(map, QPoint(100, 100), QPoint(120, 110));
        QCOMPARE(CountPixels(map.grab().toImage(), IsHighlight), 0);
    }

    // The bar may take 100 pixels, a third of the map.
    void scaleBar()
    {
        const struct {
            double viewWidth, metres;  // metres across the 300 pixels of the map; of the bar
            const char* text;
        } cases[] = {{450, 100, "100 m"}, {3000, 1000, "1 km"}, {7500, 2000, "2 km"}, {150000, 50000, "50 km"}};
        for (const auto& c : cases) {
            MapWidget map;
            map.resize(300, 200);
            map.ZoomToExtents({1000, 1000 + c.viewWidth, 0, c.viewWidth * 2 / 3});
            const double metresPerPixel = (map.GetExtents().xMax - map.GetExtents().xMin) / 300;
            QVERIFY(Near(metresPerPixel, c.viewWidth / 300, 1e-9));
            const ScaleBar bar = ChooseScaleBar(metresPerPixel, 100);
            QCOMPARE(bar.metres, c.metres);
            QCOMPARE(bar.text, QString(c.text));
            QCOMPARE(LongestBlackRun(map.grab().toImage(), 30), int(std::lround(c.metres / metresPerPixel)));
        }
    }

    // 1000 m in 200 pixels: the cell from 250 to 750 m spans pixels 50 to 150.
    void runMarksSitAtTheCellBounds()
    {
        const QColor background(192, 192, 192);
        for (const bool strong : {true, false}) {
            MapWidget map;
            map.resize(200, 200);
            map.SetBackColor(Rgb(192, 192, 192));
            map.ZoomToExtents({0, 1000, 0, 1000});
            map.show();
            QVERIFY(QTest::qWaitForWindowExposed(&map));
            const int renders = map.RenderCount();
            map.SetRunMarks({RunMark{600, 400, {250, 750, 250, 750}, strong}});
            const QImage image = map.grab().toImage();
            QCOMPARE(map.RenderCount(), renders);  // the marks go over the cached picture
            // Each edge, with one pixel across it outwards.
            for (const auto& [edge, across] : {std::pair{QPoint(50, 100), QPoint(-1, 0)}, {QPoint(150, 100), QPoint(1, 0)},
                                               {QPoint(100, 50), QPoint(0, -1)}, {QPoint(100, 150), QPoint(0, 1)}}) {
                bool marked = false;
                for (int step = -1; step <= 1; ++step)
                    marked = marked || image.pixelColor(edge + across * step) != background;
                QVERIFY(marked);
                QCOMPARE(image.pixelColor(edge + across * 5), background);
                QCOMPARE(image.pixelColor(edge - across * 5), background);
            }
            QVERIFY(image.pixelColor(120, 120) != background);  // the point's dot
        }
    }

    void overlayNamesOnlyWhenWide()
    {
        MapWidget map;
        map.resize(300, 200);
        map.AddLayer(Shapes(map, polygons_), true);  // 550 m wide
        const QImage plain = map.grab().toImage();
        map.SetOverlayLabels({{"Provincia", 275, 25}}, 500);
        QVERIFY(map.grab().toImage() != plain);
        map.ZoomToExtents({0, 400, 0, 50});
        const QImage narrow = map.grab().toImage();
        map.SetOverlayLabels({}, 500);
        QCOMPARE(map.grab().toImage(), narrow);
    }

    // Each layer that did not open is told with its file and GDAL's words.
    void layerProblemsSayGdalsReason()
    {
        const struct {
            const char* file;
            const char* content;  // empty: no file
            const char* reason;
        } cases[] = {{"missing.shp", "", "No such file or directory"},
                     {"missing.tif", "", "No such file or directory"},
                     {"relief.ecw", "ECW bytes this GDAL cannot read", "not recognized as a supported file format"}};
        for (const auto& c : cases) {
            const std::string path = dir_.filePath(QString::fromLatin1(c.file)).toStdString();
            if (*c.content) {
                QFile bytes(QString::fromStdString(path));
                QVERIFY(bytes.open(QIODevice::WriteOnly));
                bytes.write(c.content);
            }
            MapWidget map;
            map.AddLayer(Shapes(map, polygons_), true);
            map.AddLayer(QString::fromStdString(path).endsWith(".shp") ? Shapes(map, QString::fromStdString(path))
                                                                       : Image(map, QString::fromStdString(path)),
                         true);
            const auto problems = map.LayerProblems();
            QCOMPARE(problems.size(), 1u);
            QCOMPARE(problems[0].handle, 1);
            QCOMPARE(problems[0].file, path);
            QVERIFY2(problems[0].reason.find(c.reason) != std::string::npos, problems[0].reason.c_str());
        }
    }

    // Built once into the user's cache, found there at the next start; a cache
    // that cannot be made leaves the map drawing all the same. As root no
    // permission stops a write, so a file stands where the cache would be.
    void overviewsBuiltOnceIntoTheCache()
    {
        for (const bool writable : {true, false}) {
            QTemporaryDir data, home;
            const QString raster = WriteLargeRaster(data.path());
            const QStringList dataFiles = FilesUnder(data.path());
            const QString cacheHome = home.filePath(QStringLiteral("cache"));
            if (!writable) {
                QFile blocker(cacheHome);
                QVERIFY(blocker.open(QIODevice::WriteOnly));
            }
            const QByteArray oldCacheHome = qgetenv("XDG_CACHE_HOME");
            qputenv("XDG_CACHE_HOME", cacheHome.toUtf8());
            const auto restore = qScopeGuard([&] { qputenv("XDG_CACHE_HOME", oldCacheHome); });
            auto open = [&](MapWidget& map) {
                map.resize(300, 200);
                map.AddLayer(Image(map, raster), true);
            };
            QStringList cached;
            {
                MapWidget map;
                open(map);
                QCOMPARE(map.Preparations().size(), 1u);
                QCOMPARE(map.Preparations()[0].file, raster.toStdString());
                // Until the overviews exist the whole raster is left out, not read.
                QVERIFY(!DrawnWhole(map));
                QTRY_VERIFY_WITH_TIMEOUT(map.Preparations().empty(), 60000);
                if (!writable)
                    map.ZoomToExtents({1000, 1300, 1000, 1200});  // a small view is read from the file
                QVERIFY(DrawnWhole(map));
            }
            QCOMPARE(FilesUnder(data.path()), dataFiles);
            if (writable) {
                cached = FilesUnder(cacheHome);
                QCOMPARE(cached.filter(QRegularExpression(QStringLiteral("large-[0-9a-f]+\\.vrt(\\.ovr)?$"))).size(), 2);
            }
            const QDateTime builtAt =
                writable ? QFileInfo(cached.filter(QStringLiteral(".ovr")).first()).lastModified() : QDateTime();

            MapWidget again;
            open(again);
            QCOMPARE(again.Preparations().empty(), writable);
            if (writable) {
                QVERIFY(DrawnWhole(again));
                QCOMPARE(FilesUnder(cacheHome), cached);
                QCOMPARE(QFileInfo(cached.filter(QStringLiteral(".ovr")).first()).lastModified(), builtAt);
            }
        }
    }

private:
    QTemporaryDir dir_;
    QString polygons_;
};

QTEST_MAIN(TestMapWidget)
#include "test_mapwidget.moc"
