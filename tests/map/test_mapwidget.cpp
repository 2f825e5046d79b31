#include "map/GdalLayers.h"
#include "map/MapOverlay.h"
#include "map/MapWidget.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace quorvel;

Q_DECLARE_METATYPE(MapExtents)

namespace {

// Three polygons with attributes: a square with a square hole, a rectangle, two islands.
struct PolygonRow {
    const char* wkt;
    const char* name;  // UTF-8
    int code;
    double area;
};
const PolygonRow kPolygons[] = {
    {"POLYGON((0 0,100 0,100 100,0 100,0 0),(40 40,60 40,60 60,40 60,40 40))", "Citt\xc3\xa0", 42, 12.5},
    {"POLYGON((200 0,300 0,300 50,200 50,200 0))", "Borgo", -7, 3.0},
    {"MULTIPOLYGON(((400 0,450 0,450 50,400 50,400 0)),((500 0,550 0,550 50,500 50,500 0)))", "Isole", 0, 0.125},
};

OGRLayer* NewLayer(GDALDataset& ds, OGRwkbGeometryType type, const char* encoding)
{
    char** options = encoding ? CSLSetNameValue(nullptr, "ENCODING", encoding) : nullptr;
    OGRLayer* layer = ds.CreateLayer("layer", nullptr, type, options);
    CSLDestroy(options);
    OGRFieldDefn name("NAME", OFTString);
    name.SetWidth(40);
    layer->CreateField(&name);
    return layer;
}

GDALDatasetUniquePtr NewShapefile(const QString& path)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    return GDALDatasetUniquePtr(driver->Create(path.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr));
}

void AddFeature(OGRLayer& layer, const char* wkt, const std::function<void(OGRFeature&)>& fill)
{
    OGRFeature feature(layer.GetLayerDefn());
    OGRGeometry* geometry = nullptr;
    OGRGeometryFactory::createFromWkt(wkt, nullptr, &geometry);
    feature.SetGeometryDirectly(geometry);
    fill(feature);
    if (layer.CreateFeature(&feature) != OGRERR_NONE)
        qFatal("cannot write a test feature");
}

QString WritePolygons(const QTemporaryDir& dir, const char* encoding = "UTF-8")
{
    const QString path = dir.filePath(QStringLiteral("poly_%1.shp").arg(QString(encoding).remove('-')));
    auto ds = NewShapefile(path);
    OGRLayer* layer = NewLayer(*ds, wkbPolygon, encoding);
    OGRFieldDefn code("CODE", OFTInteger);
    layer->CreateField(&code);
    OGRFieldDefn area("AREA", OFTReal);
    area.SetWidth(12);
    area.SetPrecision(3);
    layer->CreateField(&area);
    for (const PolygonRow& row : kPolygons)
        AddFeature(*layer, row.wkt, [&](OGRFeature& f) {
            f.SetField(0, row.name);
            f.SetField(1, row.code);
            f.SetField(2, row.area);
        });
    return path;
}

QString WritePoints(const QTemporaryDir& dir)
{
    const QString path = dir.filePath("points.shp");
    auto ds = NewShapefile(path);
    OGRLayer* layer = NewLayer(*ds, wkbPoint, "UTF-8");
    AddFeature(*layer, "POINT(50 50)", [](OGRFeature& f) { f.SetField(0, "Uno"); });
    AddFeature(*layer, "POINT(250 25)", [](OGRFeature& f) { f.SetField(0, "Due"); });
    return path;
}

// 110 x 20 pixels of 5 m over the polygons' extent: 0 in the west half, 100 in the east half.
QString WriteGreyRaster(const QTemporaryDir& dir)
{
    const QString path = dir.filePath("grey.tif");
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr ds(driver->Create(path.toUtf8().constData(), 110, 20, 1, GDT_Float32, nullptr));
    double geo[6] = {0, 5, 0, 100, 0, -5};
    ds->SetGeoTransform(geo);
    std::vector<float> values(110 * 20);
    for (int i = 0; i < 110 * 20; ++i)
        values[size_t(i)] = i % 110 < 55 ? 0.0f : 100.0f;
    if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, 110, 20, values.data(), 110, 20, GDT_Float32, 0, 0, nullptr) !=
        CE_None)
        qFatal("cannot write the test raster");
    return path;
}

// The same grid in colour: red in the west half, blue in the east half.
QString WriteRgbRaster(const QTemporaryDir& dir)
{
    const QString path = dir.filePath("rgb.tif");
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr ds(driver->Create(path.toUtf8().constData(), 110, 20, 3, GDT_Byte, nullptr));
    double geo[6] = {0, 5, 0, 100, 0, -5};
    ds->SetGeoTransform(geo);
    std::vector<GByte> values(110 * 20 * 3);
    for (int i = 0; i < 110 * 20; ++i) {
        const bool west = i % 110 < 55;
        values[size_t(i)] = west ? 255 : 0;
        values[size_t(i) + 110 * 20 * 2] = west ? 0 : 255;
    }
    if (ds->RasterIO(GF_Write, 0, 0, 110, 20, values.data(), 110, 20, GDT_Byte, 3, nullptr, 0, 0, 0, nullptr) !=
        CE_None)
        qFatal("cannot write the test raster");
    return path;
}

std::unique_ptr<MapLayer> OpenShapes(MapWidget& map, const QString& path)
{
    auto layer = map.NewShapefile();
    layer->OpenShapefile(path.toStdString());
    return layer;
}

std::unique_ptr<MapLayer> OpenRaster(MapWidget& map, const QString& path)
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

bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
}

bool IsDark(QRgb c)
{
    return qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60;
}

struct Recorder : MapEvents {
    explicit Recorder(MapWidget& m) : map(m) { map.SetEventSink(this); }
    MapWidget& map;
    QStringList calls;
    MapExtents atSelectBox;
    MapExtents atMouseUp;
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

void Drag(QWidget& w, QPoint from, QPoint to)
{
    Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

bool IsHighlight(QRgb c)
{
    return qRed(c) > 230 && qGreen(c) > 140 && qGreen(c) < 200 && qBlue(c) < 40;
}

// The longest run of black pixels in any row of the bottom strip of the picture.
int LongestBlackRun(const QImage& image, int strip)
{
    int longest = 0;
    for (int y = image.height() - strip; y < image.height(); ++y) {
        int run = 0;
        for (int x = 0; x < image.width(); ++x) {
            run = image.pixel(x, y) == qRgb(0, 0, 0) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

bool Near(double a, double b, double tolerance)
{
    return std::abs(a - b) <= tolerance;
}

}  // namespace

class TestMapWidget : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void handles_data();
    void handles();
    void badArgumentsChangeNothing_data();
    void badArgumentsChangeNothing();
    void missingFileKeepsItsHandle_data();
    void missingFileKeepsItsHandle();
    void initialViewFitsFirstLayerWithData();
    void pixelToProjMatchesExtents_data();
    void pixelToProjMatchesExtents();
    void zoomToShapeFitsTheShape_data();
    void zoomToShapeFitsTheShape();
    void shapeContainsPoint_data();
    void shapeContainsPoint();
    void cellValue_data();
    void cellValue();
    void cellValueEncodings_data();
    void cellValueEncodings();
    void visibility_data();
    void visibility();
    void overlappingLabelIsLeftOut();
    void rasterColours_data();
    void rasterColours();
    void eventSwitches_data();
    void eventSwitches();
    void gesturesZoomBeforeEvents_data();
    void gesturesZoomBeforeEvents();
    void panDragReusesPicture();
    void wheelKeepsPointUnderPointer();
    void pointers_data();
    void pointers();
    void highlightUntilTheViewChanges();
    void scaleBar_data();
    void scaleBar();
    void overlayNamesOnlyWhenWide();

private:
    QTemporaryDir dir_;
    QString polygons_;
    QString points_;
    QString raster_;
};

void TestMapWidget::initTestCase()
{
    QVERIFY(dir_.isValid());
    polygons_ = WritePolygons(dir_);
    points_ = WritePoints(dir_);
    raster_ = WriteGreyRaster(dir_);
}

void TestMapWidget::handles_data()
{
    // Each step: "a" adds a layer, "rN" removes handle N.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("added");
    QTest::addColumn<QList<int>>("positions");
    QTest::newRow("in order of adding") << QStringList{"a", "a", "a"} << QList<int>{0, 1, 2} << QList<int>{0, 1, 2};
    QTest::newRow("removed handle is reused on top")
        << QStringList{"a", "a", "a", "r1", "a"} << QList<int>{0, 1, 2, 1} << QList<int>{0, 2, 1};
    QTest::newRow("lowest free handle first")
        << QStringList{"a", "a", "a", "a", "r2", "r0", "a", "a", "a"} << QList<int>{0, 1, 2, 3, 0, 2, 4}
        << QList<int>{1, 3, 0, 2, 4};
    QTest::newRow("the last handle swapped, as the district raster is")
        << QStringList{"a", "a", "a", "r2", "a", "r2", "a"} << QList<int>{0, 1, 2, 2, 2} << QList<int>{0, 1, 2};
}

void TestMapWidget::handles()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, added);
    QFETCH(QList<int>, positions);
    MapWidget map;
    QList<int> got;
    for (const QString& step : steps) {
        if (step == "a")
            got << map.AddLayer(OpenShapes(map, polygons_), true);
        else
            map.RemoveLayer(step.mid(1).toInt());
    }
    QCOMPARE(got, added);
    for (int p = 0; p < positions.size(); ++p)
        QCOMPARE(map.LayerHandle(p), positions[p]);
    QCOMPARE(map.LayerHandle(int(positions.size())), -1);
    QCOMPARE(map.LayerHandle(-1), -1);
}

void TestMapWidget::badArgumentsChangeNothing_data()
{
    QTest::addColumn<QString>("call");
    for (const char* call : {"ZoomToShape(1, -1)", "ZoomToShape(1, 3)", "ZoomToShape(9, 0)", "ZoomToShape(0, 0)",
                             "ZoomToLayer(-1)", "RemoveLayer(7)", "SetLayerVisible(-3)", "SetLayerLineColor(2)",
                             "SetLayerLineWidth(2)", "AddLabel(5)", "SetCursorMode(3)"})
        QTest::newRow(call) << QString(call);
}

void TestMapWidget::badArgumentsChangeNothing()
{
    QFETCH(QString, call);
    MapWidget map;
    map.resize(400, 300);
    map.AddLayer(OpenRaster(map, raster_), true);    // 0: an image, it has no shapes
    map.AddLayer(OpenShapes(map, polygons_), true);  // 1
    map.ZoomToShape(1, 1);
    const MapExtents before = map.GetExtents();
    const QImage picture = map.RenderMap().copy();

    if (call == "ZoomToShape(1, -1)")
        map.ZoomToShape(1, -1);
    else if (call == "ZoomToShape(1, 3)")
        map.ZoomToShape(1, 3);
    else if (call == "ZoomToShape(9, 0)")
        map.ZoomToShape(9, 0);
    else if (call == "ZoomToShape(0, 0)")
        map.ZoomToShape(0, 0);
    else if (call == "ZoomToLayer(-1)")
        map.ZoomToLayer(-1);
    else if (call == "RemoveLayer(7)")
        map.RemoveLayer(7);
    else if (call == "SetLayerVisible(-3)")
        map.SetLayerVisible(-3, false);
    else if (call == "SetLayerLineColor(2)")
        map.SetLayerLineColor(2, Rgb(255, 0, 0));
    else if (call == "SetLayerLineWidth(2)")
        map.SetLayerLineWidth(2, 5.0f);
    else if (call == "AddLabel(5)")
        map.AddLabel(5, "x", 0, 250, 25, 1, 0);
    else if (call == "SetCursorMode(3)")
        map.SetCursorMode(3);

    QCOMPARE(map.GetExtents(), before);
    QCOMPARE(map.LayerHandle(0), 0);
    QCOMPARE(map.LayerHandle(1), 1);
    QCOMPARE(map.LayerHandle(2), -1);
    QCOMPARE(map.GetLayerObject(0), nullptr);
    QVERIFY(map.GetLayerObject(1) != nullptr);
    QCOMPARE(map.GetLayerObject(2), nullptr);
    QCOMPARE(map.CursorMode(), int(kNoTool));
    QCOMPARE(map.RenderMap(), picture);
}

void TestMapWidget::missingFileKeepsItsHandle_data()
{
    QTest::addColumn<bool>("image");
    QTest::newRow("shapefile") << false;
    QTest::newRow("image") << true;
}

void TestMapWidget::missingFileKeepsItsHandle()
{
    QFETCH(bool, image);
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenShapes(map, polygons_), true);
    const MapExtents view = map.GetExtents();

    const std::string missing = dir_.filePath("missing").toStdString() + (image ? ".tif" : ".shp");
    std::unique_ptr<MapLayer> layer;
    if (image) {
        auto img = map.NewImage();
        QVERIFY(!img->OpenImage(missing, 2, false));
        QVERIFY(!static_cast<GdalImageLayer&>(*img).OpenError().empty());
        layer = std::move(img);
    } else {
        auto shp = map.NewShapefile();
        QVERIFY(!shp->OpenShapefile(missing));
        QCOMPARE(shp->ShapeCount(), 0);
        QCOMPARE(shp->CellValue(0, 0), std::string());
        QVERIFY(!shp->ShapeContainsPoint(0, 50, 50));
        layer = std::move(shp);
    }
    QCOMPARE(map.AddLayer(std::move(layer), true), 1);
    QCOMPARE(map.AddLayer(OpenShapes(map, points_), true), 2);
    QCOMPARE(map.LayerHandle(1), 1);
    QCOMPARE(map.GetLayerObject(1) != nullptr, !image);

    map.ZoomToLayer(1);
    map.ZoomToShape(1, 0);
    map.AddLabel(1, "x", 0, 50, 50, 1, 0);
    QCOMPARE(map.GetExtents(), view);
    QVERIFY(!map.RenderMap().isNull());

    map.RemoveLayer(1);
    QCOMPARE(map.AddLayer(OpenShapes(map, polygons_), true), 1);
}

void TestMapWidget::initialViewFitsFirstLayerWithData()
{
    MapWidget map;
    map.resize(550, 100);
    map.AddLayer(OpenShapes(map, dir_.filePath("absent.shp")), true);
    map.AddLayer(OpenShapes(map, points_), true);  // points span 50..250 x 25..50
    const MapExtents first = map.GetExtents();
    QVERIFY(Near(first.xMin, 50, 1e-6) && Near(first.xMax, 250, 1e-6));

    map.AddLayer(OpenShapes(map, polygons_), true);
    QCOMPARE(map.GetExtents(), first);

    // A resize keeps showing what was asked for, at the new aspect.
    map.resize(200, 400);
    const MapExtents resized = map.GetExtents();
    QVERIFY(Near(resized.xMin, 50, 1e-6) && Near(resized.xMax, 250, 1e-6));
    QVERIFY(resized.yMin <= 25 && resized.yMax >= 50);
}

void TestMapWidget::pixelToProjMatchesExtents_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("shape");
    QTest::newRow("wide widget, square shape") << QSize(945, 609) << 0;
    QTest::newRow("tall widget, wide shape") << QSize(200, 700) << 1;
    QTest::newRow("odd sizes, two islands") << QSize(333, 111) << 2;
}

void TestMapWidget::pixelToProjMatchesExtents()
{
    QFETCH(QSize, size);
    QFETCH(int, shape);
    MapWidget map;
    map.resize(size);
    map.AddLayer(OpenShapes(map, polygons_), true);
    map.ZoomToShape(0, shape);
    const MapExtents e = map.GetExtents();
    double x, y;
    map.PixelToProj(0, 0, x, y);
    QCOMPARE(x, e.xMin);
    QCOMPARE(y, e.yMax);
    map.PixelToProj(size.width(), size.height(), x, y);
    QCOMPARE(x, e.xMax);
    QCOMPARE(y, e.yMin);
    map.PixelToProj(size.width() / 2.0, size.height() / 2.0, x, y);
    QCOMPARE(x, (e.xMin + e.xMax) / 2);
    QCOMPARE(y, (e.yMin + e.yMax) / 2);
    // The same scale in both directions.
    QCOMPARE((e.xMax - e.xMin) / size.width(), (e.yMax - e.yMin) / size.height());
}

void TestMapWidget::zoomToShapeFitsTheShape_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<QSize>("size");
    QTest::newRow("square in wide") << 0 << QSize(600, 300);
    QTest::newRow("rectangle in tall") << 1 << QSize(300, 600);
    QTest::newRow("multipolygon") << 2 << QSize(400, 400);
}

void TestMapWidget::zoomToShapeFitsTheShape()
{
    QFETCH(int, shape);
    QFETCH(QSize, size);
    MapWidget map;
    map.resize(size);
    map.AddLayer(OpenShapes(map, polygons_), true);
    const MapExtents s = map.GetLayerObject(0)->ShapeExtents(shape);
    map.ZoomToShape(0, shape);
    const MapExtents v = map.GetExtents();
    QVERIFY(v.xMin < s.xMin && v.xMax > s.xMax && v.yMin < s.yMin && v.yMax > s.yMax);
    // The shape fills the view in at least one direction, but for a small margin.
    const double fill = std::max((s.xMax - s.xMin) / (v.xMax - v.xMin), (s.yMax - s.yMin) / (v.yMax - v.yMin));
    QVERIFY2(fill > 0.8, qPrintable(QString::number(fill)));
}

void TestMapWidget::shapeContainsPoint_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<bool>("inside");
    QTest::newRow("inside the ring") << 0 << 20.0 << 80.0 << true;
    QTest::newRow("in the hole") << 0 << 50.0 << 50.0 << false;
    QTest::newRow("outside, within the box of another shape") << 0 << 250.0 << 25.0 << false;
    QTest::newRow("outside everything") << 1 << -10.0 << 500.0 << false;
    QTest::newRow("inside the second shape") << 1 << 250.0 << 25.0 << true;
    QTest::newRow("first island") << 2 << 425.0 << 25.0 << true;
    QTest::newRow("between the islands") << 2 << 475.0 << 25.0 << false;
    QTest::newRow("second island") << 2 << 525.0 << 25.0 << true;
    QTest::newRow("shape -1") << -1 << 20.0 << 80.0 << false;
    QTest::newRow("shape past the end") << 3 << 20.0 << 80.0 << false;
}

void TestMapWidget::shapeContainsPoint()
{
    QFETCH(int, shape);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(bool, inside);
    GdalShapefileLayer layer;
    QVERIFY(layer.OpenShapefile(polygons_.toStdString()));
    QCOMPARE(layer.ShapeContainsPoint(shape, x, y), inside);
}

void TestMapWidget::cellValue_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("shape");
    QTest::addColumn<QString>("text");
    QTest::newRow("accented text") << 0 << 0 << QString::fromUtf8("Citt\xc3\xa0");
    QTest::newRow("integer") << 1 << 0 << "42";
    QTest::newRow("negative integer") << 1 << 1 << "-7";
    QTest::newRow("real") << 2 << 0 << "12.5";
    QTest::newRow("whole real, no decimals") << 2 << 1 << "3";
    QTest::newRow("small real") << 2 << 2 << "0.125";
    QTest::newRow("field past the end") << 3 << 0 << "";
    QTest::newRow("shape -1") << 0 << -1 << "";
}

void TestMapWidget::cellValue()
{
    QFETCH(int, field);
    QFETCH(int, shape);
    QFETCH(QString, text);
    GdalShapefileLayer layer;
    QVERIFY(layer.OpenShapefile(polygons_.toStdString()));
    QCOMPARE(layer.ShapeCount(), 3);
    QCOMPARE(QString::fromStdString(layer.CellValue(field, shape)), text);
}

void TestMapWidget::cellValueEncodings_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::newRow("UTF-8 .cpg") << QByteArray("UTF-8");
    QTest::newRow("Latin-1 .cpg") << QByteArray("ISO-8859-1");
    QTest::newRow("Windows code page") << QByteArray("CP1252");
}

void TestMapWidget::cellValueEncodings()
{
    QFETCH(QByteArray, encoding);
    GdalShapefileLayer layer;
    QVERIFY(layer.OpenShapefile(WritePolygons(dir_, encoding.constData()).toStdString()));
    QCOMPARE(layer.CellValue(0, 0), std::string("Citt\xc3\xa0"));
}

void TestMapWidget::visibility_data()
{
    QTest::addColumn<bool>("visible");
    QTest::newRow("shown") << true;
    QTest::newRow("hidden") << false;
}

void TestMapWidget::visibility()
{
    QFETCH(bool, visible);
    MapWidget map;
    map.resize(600, 200);
    map.SetBackColor(Rgb(255, 255, 255));
    map.AddLayer(OpenShapes(map, polygons_), true);
    const int labelled = map.AddLayer(OpenShapes(map, points_), false);
    map.SetLayerLineColor(0, Rgb(255, 0, 0));
    map.SetLayerLineWidth(0, 2.0f);
    map.AddLabel(labelled, "Etichetta", Rgb(0, 0, 0), 150, 80, 1, 0);

    map.SetLayerVisible(labelled, visible);
    map.SetLayerVisible(0, visible);
    const QImage picture = map.RenderMap();
    QCOMPARE(map.LayerVisible(0), visible);
    QCOMPARE(CountPixels(picture, IsRed) > 100, visible);
    // The label, and the point markers, go with their layer.
    QCOMPARE(CountPixels(picture, IsDark) > 20, visible);
}

void TestMapWidget::overlappingLabelIsLeftOut()
{
    MapWidget map;
    map.resize(600, 200);
    map.SetBackColor(Rgb(255, 255, 255));
    const int h = map.AddLayer(OpenShapes(map, points_), true);
    map.SetLayerVisible(h, false);
    map.AddLabel(h, "Primo nome", 0, 150, 37, 1, 0);
    map.SetLayerVisible(h, true);
    const QImage one = map.RenderMap().copy();
    // A second name a metre (three pixels) away would overlap the first.
    map.AddLabel(h, "Secondo nome", 0, 151, 37.5, 1, 0);
    QCOMPARE(map.RenderMap(), one);
    // One far away is drawn.
    map.AddLabel(h, "Lontano", 0, 80, 30, 1, 0);
    QVERIFY(map.RenderMap() != one);
}

void TestMapWidget::rasterColours_data()
{
    QTest::addColumn<bool>("rgb");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRgb>("west");
    QTest::addColumn<QRgb>("east");
    // 550 pixels show the file's 110 enlarged; 55 show it reduced.
    QTest::newRow("grey ramp, enlarged") << false << QSize(550, 100) << qRgb(0, 0, 0) << qRgb(255, 255, 255);
    QTest::newRow("grey ramp, reduced") << false << QSize(55, 10) << qRgb(0, 0, 0) << qRgb(255, 255, 255);
    QTest::newRow("RGB, enlarged") << true << QSize(550, 100) << qRgb(255, 0, 0) << qRgb(0, 0, 255);
    QTest::newRow("RGB, reduced") << true << QSize(55, 10) << qRgb(255, 0, 0) << qRgb(0, 0, 255);
}

void TestMapWidget::rasterColours()
{
    QFETCH(bool, rgb);
    QFETCH(QSize, size);
    QFETCH(QRgb, west);
    QFETCH(QRgb, east);
    MapWidget map;
    map.resize(size);
    map.AddLayer(OpenRaster(map, rgb ? WriteRgbRaster(dir_) : raster_), true);
    const QImage picture = map.RenderMap();
    const MapExtents e = map.GetExtents();
    QVERIFY(Near(e.xMin, 0, 1e-6) && Near(e.xMax, 550, 1e-6));
    QCOMPARE(picture.pixel(size.width() / 5, size.height() / 2), west);
    QCOMPARE(picture.pixel(size.width() * 4 / 5, size.height() / 2), east);
}

void TestMapWidget::eventSwitches_data()
{
    QTest::addColumn<bool>("down");
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("all off") << false << false << false << QStringList{};
    QTest::newRow("as after the load: no mouse down") << false << true << true << QStringList{"move", "up", "leave"};
    QTest::newRow("picking") << true << true << true << QStringList{"down 30 40", "move", "up", "leave"};
    QTest::newRow("mouse down only") << true << false << false << QStringList{"down 30 40"};
}

void TestMapWidget::eventSwitches()
{
    QFETCH(bool, down);
    QFETCH(bool, move);
    QFETCH(bool, up);
    QFETCH(QStringList, calls);
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenShapes(map, polygons_), true);
    Recorder recorder(map);
    map.SetCursorMode(kNoTool);
    map.SetSendMouseDown(down);
    map.SetSendMouseMove(move);
    map.SetSendMouseUp(up);
    map.SetSendSelectBoxFinal(true);
    const MapExtents before = map.GetExtents();
    Mouse(map, QEvent::MouseButtonPress, QPoint(30, 40), Qt::RightButton, Qt::RightButton);
    Mouse(map, QEvent::MouseMove, QPoint(80, 90), Qt::NoButton, Qt::RightButton);
    Mouse(map, QEvent::MouseButtonRelease, QPoint(80, 90), Qt::RightButton, Qt::NoButton);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&map, &leave);
    QCOMPARE(recorder.calls, calls);
    QCOMPARE(map.GetExtents(), before);
}

void TestMapWidget::gesturesZoomBeforeEvents_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<double>("widthRatio");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("zoom box") << int(kZoomIn) << QPoint(90, 40) << QPoint(240, 140) << 0.5
                              << QStringList{"move", "move", "box", "up"};
    QTest::newRow("zoom in click") << int(kZoomIn) << QPoint(100, 50) << QPoint(100, 50) << 0.5
                                   << QStringList{"move", "move", "up"};
    QTest::newRow("zoom out click") << int(kZoomOut) << QPoint(100, 50) << QPoint(100, 50) << 2.0
                                    << QStringList{"move", "move", "up"};
    QTest::newRow("pan") << int(kPan) << QPoint(100, 50) << QPoint(160, 20) << 1.0
                         << QStringList{"move", "move", "up"};
    QTest::newRow("no tool") << int(kNoTool) << QPoint(100, 50) << QPoint(160, 20) << 1.0
                             << QStringList{"move", "move", "up"};
}

void TestMapWidget::gesturesZoomBeforeEvents()
{
    QFETCH(int, mode);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(double, widthRatio);
    QFETCH(QStringList, calls);
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenShapes(map, polygons_), true);
    Recorder recorder(map);
    map.SetCursorMode(mode);
    map.SetSendMouseDown(false);
    map.SetSendMouseMove(true);
    map.SetSendMouseUp(true);
    map.SetSendSelectBoxFinal(true);
    const MapExtents before = map.GetExtents();
    double grabX, grabY;
    map.PixelToProj(from.x(), from.y(), grabX, grabY);

    Drag(map, from, to);
    QCOMPARE(recorder.calls, calls);
    const MapExtents after = map.GetExtents();
    QVERIFY(Near((after.xMax - after.xMin) / (before.xMax - before.xMin), widthRatio, 1e-9));
    // The events saw the new view.
    QCOMPARE(recorder.atMouseUp, after);
    if (calls.contains("box")) {
        QCOMPARE(recorder.atSelectBox, after);
        double x0, y0, x1, y1;
        map.PixelToProj(0, 0, x0, y0);
        map.PixelToProj(300, 200, x1, y1);
        double bx0, by0, bx1, by1;  // the box, in the old view's map coordinates
        bx0 = before.xMin + (before.xMax - before.xMin) * from.x() / 300.0;
        bx1 = before.xMin + (before.xMax - before.xMin) * to.x() / 300.0;
        by1 = before.yMax - (before.yMax - before.yMin) * from.y() / 200.0;
        by0 = before.yMax - (before.yMax - before.yMin) * to.y() / 200.0;
        QVERIFY(Near(after.xMin, bx0, 1e-6) && Near(after.xMax, bx1, 1e-6));
        QVERIFY(Near(after.yMin, by0, 1e-6) && Near(after.yMax, by1, 1e-6));
    } else if (mode == kPan) {
        // The grabbed point ends under the pointer.
        double x, y;
        map.PixelToProj(to.x(), to.y(), x, y);
        QVERIFY(Near(x, grabX, 1e-6) && Near(y, grabY, 1e-6));
    } else if (mode != kNoTool) {
        // A click zooms around the clicked point, which becomes the centre.
        QVERIFY(Near((after.xMin + after.xMax) / 2, grabX, 1.0) && Near((after.yMin + after.yMax) / 2, grabY, 1.0));
    } else {
        QCOMPARE(after, before);
    }
}

void TestMapWidget::panDragReusesPicture()
{
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenRaster(map, raster_), true);
    map.AddLayer(OpenShapes(map, polygons_), true);
    map.show();
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    map.SetCursorMode(kPan);
    map.repaint();
    const int renders = map.RenderCount();

    Mouse(map, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 5; ++i) {
        Mouse(map, QEvent::MouseMove, QPoint(100 + 10 * i, 100 + 5 * i), Qt::NoButton, Qt::LeftButton);
        map.repaint();
    }
    QCOMPARE(map.RenderCount(), renders);
    Mouse(map, QEvent::MouseButtonRelease, QPoint(150, 125), Qt::LeftButton, Qt::NoButton);
    map.repaint();
    QCOMPARE(map.RenderCount(), renders + 1);
}

void TestMapWidget::wheelKeepsPointUnderPointer()
{
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenShapes(map, polygons_), true);
    Recorder recorder(map);
    map.SetSendMouseUp(true);
    const MapExtents before = map.GetExtents();
    double x, y;
    map.PixelToProj(70, 30, x, y);
    QWheelEvent wheel(QPointF(70, 30), map.mapToGlobal(QPointF(70, 30)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&map, &wheel);
    const MapExtents after = map.GetExtents();
    QVERIFY(after.xMax - after.xMin < before.xMax - before.xMin);
    // The turn ends like a click's release, after the new view is in place.
    QCOMPARE(recorder.calls, QStringList{"up"});
    QCOMPARE(recorder.atMouseUp, after);
    double x2, y2;
    map.PixelToProj(70, 30, x2, y2);
    QVERIFY(Near(x, x2, 1e-6) && Near(y, y2, 1e-6));
}

void TestMapWidget::pointers_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("pointer");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<int>("shape");
    QTest::addColumn<QString>("lens");  // "+" or "-" for a magnifier

    QTest::newRow("no tool") << int(kNoTool) << int(kArrow) << false << int(Qt::ArrowCursor) << "";
    QTest::newRow("pan") << int(kPan) << int(kArrow) << false << int(Qt::OpenHandCursor) << "";
    QTest::newRow("pan, dragging") << int(kPan) << int(kArrow) << true << int(Qt::ClosedHandCursor) << "";
    QTest::newRow("zoom in") << int(kZoomIn) << int(kArrow) << false << int(Qt::BitmapCursor) << "+";
    QTest::newRow("zoom out") << int(kZoomOut) << int(kArrow) << true << int(Qt::BitmapCursor) << "-";
    QTest::newRow("picking") << int(kNoTool) << int(kCrossHair) << true << int(Qt::CrossCursor) << "";
    QTest::newRow("cross-hair asked whatever the mode") << int(kPan) << int(kCrossHair) << false
                                                        << int(Qt::CrossCursor) << "";
}

void TestMapWidget::pointers()
{
    QFETCH(int, mode);
    QFETCH(int, pointer);
    QFETCH(bool, pressed);
    QFETCH(int, shape);
    QFETCH(QString, lens);
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenShapes(map, polygons_), true);
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
        QCOMPARE(int(map.cursor().shape()), mode == kPan && pointer == kArrow ? int(Qt::OpenHandCursor) : shape);
    }
}

void TestMapWidget::highlightUntilTheViewChanges()
{
    MapWidget map;
    map.resize(300, 200);
    const int handle = map.AddLayer(OpenShapes(map, polygons_), true);
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

void TestMapWidget::scaleBar_data()
{
    QTest::addColumn<double>("viewWidth");  // metres across the 300 pixels of the map
    QTest::addColumn<double>("metres");
    QTest::addColumn<QString>("text");
    // The bar may take 100 pixels, a third of the map.
    QTest::newRow("450 m") << 450.0 << 100.0 << "100 m";
    QTest::newRow("3 km: exactly 1 km fits") << 3000.0 << 1000.0 << "1 km";
    QTest::newRow("7.5 km") << 7500.0 << 2000.0 << "2 km";
    QTest::newRow("150 km") << 150000.0 << 50000.0 << "50 km";
}

void TestMapWidget::scaleBar()
{
    QFETCH(double, viewWidth);
    QFETCH(double, metres);
    QFETCH(QString, text);
    MapWidget map;
    map.resize(300, 200);
    map.ZoomToExtents({1000, 1000 + viewWidth, 0, viewWidth * 2 / 3});
    const MapExtents view = map.GetExtents();
    const double metresPerPixel = (view.xMax - view.xMin) / 300;
    QVERIFY(Near(metresPerPixel, viewWidth / 300, 1e-9));

    const ScaleBar bar = ChooseScaleBar(metresPerPixel, 100);
    QCOMPARE(bar.metres, metres);
    QCOMPARE(bar.text, text);
    QCOMPARE(LongestBlackRun(map.grab().toImage(), 30), int(std::lround(metres / metresPerPixel)));
}

void TestMapWidget::overlayNamesOnlyWhenWide()
{
    MapWidget map;
    map.resize(300, 200);
    map.AddLayer(OpenShapes(map, polygons_), true);  // 550 m wide
    const QImage plain = map.grab().toImage();
    map.SetOverlayLabels({{"Provincia", 275, 25}}, 500);
    QVERIFY(map.grab().toImage() != plain);

    map.ZoomToExtents({0, 400, 0, 50});
    const QImage narrow = map.grab().toImage();
    map.SetOverlayLabels({}, 500);
    QCOMPARE(map.grab().toImage(), narrow);
}

QTEST_MAIN(TestMapWidget)
#include "test_mapwidget.moc"
