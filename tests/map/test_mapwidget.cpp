#include "map/GdalLayers.h"
#include "map/MapOverlay.h"
#include "map/MapPointer.h"
#include "map/MapWidget.h"
#include "map/OverviewCache.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <sys/stat.h>

using namespace quorvel;

namespace {

// A square with a square hole, a rectangle, two islands; with a name, an integer and a real.
QString WritePolygons(const QTemporaryDir& dir, const char* encoding = "UTF-8")
{
    const QString path = dir.filePath(QStringLiteral("poly_%1.shp").arg(QString(encoding).remove('-')));
    GDALAllRegister();
    GDALDatasetUniquePtr ds(GetGDALDriverManager()->GetDriverByName("ESRI Shapefile")
                                ->Create(path.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayer* layer =
        ds->CreateLayer("layer", nullptr, wkbPolygon, CPLStringList().SetNameValue("ENCODING", encoding).List());
    OGRFieldDefn name("NAME", OFTString), code("CODE", OFTInteger), area("AREA", OFTReal);
    for (OGRFieldDefn* field : {&name, &code, &area})
        layer->CreateField(field);
    const char* rows[][4] = {
        {"POLYGON((0 0,100 0,100 100,0 100,0 0),(40 40,60 40,60 60,40 60,40 40))", "Citt\xc3\xa0", "42", "12.5"},
        {"POLYGON((200 0,300 0,300 50,200 50,200 0))", "Borgo", "-7", "3.0"},
        {"MULTIPOLYGON(((400 0,450 0,450 50,400 50,400 0)),((500 0,550 0,550 50,500 50,500 0)))", "Isole", "0",
         "0.125"},
    };
    for (const auto& row : rows) {
        OGRFeature feature(layer->GetLayerDefn());
        OGRGeometry* geometry = nullptr;
        OGRGeometryFactory::createFromWkt(row[0], nullptr, &geometry);
        feature.SetGeometryDirectly(geometry);
        for (int field = 0; field < 3; ++field)
            feature.SetField(field, row[field + 1]);
        if (layer->CreateFeature(&feature) != OGRERR_NONE)
            qFatal("cannot write a test feature");
    }
    return path;
}

// A GeoTIFF of size pixels of `pixel` metres, its south-west corner at (0, 0);
// value gives each pixel's value in each band from its column.
QString WriteRaster(const QString& path, QSize size, double pixel, GDALDataType type, int bands,
                    const std::function<double(int column, int band)>& value, const char* option = nullptr)
{
    const char* options[] = {option, nullptr};
    GDALDatasetUniquePtr ds(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
        path.toUtf8().constData(), size.width(), size.height(), bands, type, const_cast<char**>(options)));
    double geo[6] = {0, pixel, 0, size.height() * pixel, 0, -pixel};
    ds->SetGeoTransform(geo);
    std::vector<double> values;
    for (int band = 0; band < bands; ++band)
        for (int i = 0; i < size.width() * size.height(); ++i)
            values.push_back(value(i % size.width(), band));
    if (ds->RasterIO(GF_Write, 0, 0, size.width(), size.height(), values.data(), size.width(), size.height(),
                     GDT_Float64, bands, nullptr, 0, 0, 0, nullptr) != CE_None)
        qFatal("cannot write a test raster");
    return path;
}

// The file as a layer of map, opened or not: a shapefile by its name, else an image.
std::unique_ptr<MapLayer> Open(MapWidget& map, const QString& path)
{
    if (path.endsWith(QStringLiteral(".shp"))) {
        auto layer = map.NewShapefile();
        layer->OpenShapefile(path.toStdString());
        return layer;
    }
    auto layer = map.NewImage();
    layer->OpenImage(path.toStdString(), 2, false);
    return layer;
}

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& match)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(argb.constBits());
    return int(std::count_if(pixels, pixels + argb.width() * argb.height(), match));
}

// Records the map's events, and the view each kind of event last saw.
struct Recorder : MapEvents {
    explicit Recorder(MapWidget& m) : map(m) { map.SetEventSink(this); }
    MapWidget& map;
    QStringList calls;
    QMap<QString, MapExtents> seen;
    void Saw(const QString& call)
    {
        calls << call;
        seen[call] = map.GetExtents();
    }
    void MouseDown(int, int, int x, int y) override { Saw(QStringLiteral("down %1 %2").arg(x).arg(y)); }
    void MouseUp(int, int, int, int) override { Saw("up"); }
    void MouseMove(int, int, int, int) override { Saw("move"); }
    void MouseLeave() override { Saw("leave"); }
    void SelectBoxFinal(int, int, int, int) override { Saw("box"); }
};

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

bool Near(double a, double b) { return std::abs(a - b) <= 1e-6; }

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

}  // namespace

class TestMapWidget : public QObject {
    Q_OBJECT

    // A map of that size showing the files; the polygons are 550 m wide.
    static std::unique_ptr<MapWidget> MapOf(const QStringList& files, QSize size = {300, 200})
    {
        auto map = std::make_unique<MapWidget>();
        map->resize(size);
        for (const QString& file : files)
            map->AddLayer(Open(*map, file), true);
        return map;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // Overviews go into a cache of the test's own.
        qputenv("XDG_CACHE_HOME", cache_.toUtf8());
        polygons_ = WritePolygons(dir_);
    }

    // A file that does not open still takes its handle and is told with its
    // file and GDAL's words. The first layer with data sets the view, a resize
    // keeps its centre and scale, a zoom to a shape fits it with a small margin;
    // calls naming no layer, or a layer that cannot do it, change nothing. A
    // new layer takes the lowest free handle and is drawn on top.
    void layersAndViews()
    {
        const QString table = QString(polygons_).replace(".shp", ".dbf");  // a file, but no image
        const QStringList files{dir_.filePath("missing.shp"), polygons_, dir_.filePath("missing.tif"), table};
        const QStringList reasons{"No such file", "", "No such file", "not recognized as a supported file format"};
        const auto map = MapOf(files);
        QList<int> failed;
        for (const auto& problem : map->LayerProblems()) {
            failed << problem.handle;
            QCOMPARE(QString::fromStdString(problem.file), files.value(problem.handle));
            QVERIFY(QString::fromStdString(problem.reason).contains(reasons.value(problem.handle)));
        }
        QCOMPARE(failed, (QList<int>{0, 2, 3}));

        const MapExtents first = map->GetExtents();
        QVERIFY(Near(first.xMin, 0) && Near(first.xMax, 550));
        map->resize(200, 400);
        const MapExtents resized = map->GetExtents();
        QVERIFY(Near(resized.xMin + resized.xMax, first.xMin + first.xMax));
        QVERIFY(Near(resized.yMin + resized.yMax, first.yMin + first.yMax));
        QVERIFY(Near((resized.xMax - resized.xMin) / 200, (first.xMax - first.xMin) / 300));

        map->resize(600, 100);
        map->ZoomToShape(1, 2);  // both islands
        const MapExtents view = map->GetExtents();
        QVERIFY(view.xMin < 400 && view.xMax > 550 && view.yMin < 0 && view.yMax > 50);
        QVERIFY(50 / (view.yMax - view.yMin) > 0.8);
        double x, y;
        map->PixelToProj(600, 100, x, y);
        QVERIFY(Near(x, view.xMax) && Near(y, view.yMin));

        const QImage picture = map->RenderMap().copy();
        const std::vector<std::function<void()>> calls = {
            [&] { map->ZoomToLayer(0); },     [&] { map->ZoomToLayer(2); },     [&] { map->ZoomToShape(0, 0); },
            [&] { map->ZoomToShape(2, 0); },  [&] { map->ZoomToShape(1, -1); }, [&] { map->ZoomToShape(1, 3); },
            [&] { map->ZoomToShape(9, 0); },  [&] { map->ZoomToLayer(-1); },    [&] { map->RemoveLayer(7); },
            [&] { map->SetLayerVisible(-3, false); }, [&] { map->SetLayerLineColor(5, Rgb(255, 0, 0)); },
            [&] { map->AddLabel(5, "x", 0, 250, 25, 1, 0); }, [&] { map->SetCursorMode(3); },
        };
        for (std::size_t i = 0; i < calls.size(); ++i) {
            calls[i]();
            QVERIFY2(map->GetExtents() == view && map->RenderMap() == picture, qPrintable(QString::number(i)));
        }
        QCOMPARE(map->GetLayerObject(2), nullptr);  // an image
        QVERIFY(map->GetLayerObject(1) != nullptr);
        QCOMPARE(map->CursorMode(), int(kNoTool));

        // Extents of no size keep the scale; a map squeezed to nothing still has a pixel.
        map->ZoomToExtents({7, 7, 8, 8});
        const MapExtents point = map->GetExtents();
        QVERIFY(Near(point.xMin + point.xMax, 14) && Near(point.xMax - point.xMin, view.xMax - view.xMin));
        map->resize(0, 0);
        map->ZoomToLayer(1);
        QVERIFY(Near(map->GetExtents().xMax - map->GetExtents().xMin, 550));

        map->RemoveLayer(2);
        map->RemoveLayer(0);
        QList<int> added, positions;
        for (int i = 0; i < 3; ++i)
            added << map->AddLayer(Open(*map, polygons_), true);
        QCOMPARE(added, (QList<int>{0, 2, 4}));
        for (int p = -1; p <= 5; ++p)
            positions << map->LayerHandle(p);
        QCOMPARE(positions, (QList<int>{-1, 1, 3, 0, 2, 4, -1}));
    }

    // Each shape's cells, then which of these points it contains: in the square,
    // in its hole, in the rectangle, in each island and between them.
    void shapesAndCells()
    {
        const QPointF points[] = {{20, 80}, {50, 50}, {250, 25}, {425, 25}, {475, 25}, {525, 25}};
        const auto rowsOf = [&](const GdalShapefileLayer& layer) {
            QStringList rows;
            for (int shape = -1; shape <= layer.ShapeCount(); ++shape) {
                QString row;
                for (int field = 0; field <= 3; ++field)
                    row += QString::fromStdString(layer.CellValue(field, shape)) + '|';
                for (const QPointF& p : points)
                    row += layer.ShapeContainsPoint(shape, p.x(), p.y()) ? 'x' : '.';
                rows << row;
            }
            return rows;
        };
        GdalShapefileLayer layer, coded;
        QVERIFY(layer.OpenShapefile(polygons_.toStdString()));
        QCOMPARE(rowsOf(layer), (QStringList{"||||......", "Citt\xc3\xa0|42|12.5||x.....", "Borgo|-7|3||..x...",
                                             "Isole|0|0.125||...x.x", "||||......"}));
        // Text comes back in UTF-8 whatever the file's code page.
        QVERIFY(coded.OpenShapefile(WritePolygons(dir_, "CP1252").toStdString()));
        QCOMPARE(rowsOf(coded), rowsOf(layer));
    }

    // 110 x 20 pixels of 5 m, grey 0 | 100 or, with three bands, red | blue:
    // 550 pixels show them enlarged, 55 reduced.
    void rasterColours()
    {
        for (int bands : {1, 3}) {
            const auto value = [bands](int column, int band) {
                const bool west = column < 55;
                return bands == 1 ? (west ? 0 : 100) : band == (west ? 0 : 2) ? 255 : 0;
            };
            const QString file = WriteRaster(dir_.filePath(QStringLiteral("halves%1.tif").arg(bands)), {110, 20}, 5,
                                             bands == 1 ? GDT_Float32 : GDT_Byte, bands, value);
            const QRgb west = bands == 1 ? qRgb(0, 0, 0) : qRgb(255, 0, 0);
            const QRgb east = bands == 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 255);
            for (const QSize size : {QSize(550, 100), QSize(55, 10)}) {
                const QImage picture = MapOf({file}, size)->RenderMap();
                QCOMPARE(picture.pixel(size.width() / 5, size.height() / 2), west);
                QCOMPARE(picture.pixel(size.width() * 4 / 5, size.height() / 2), east);
            }
        }
    }

    void gestures_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("gesture");  // a drag, one with mouse-down events on, or a wheel turn at `from`
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<double>("widthRatio");
        QTest::addColumn<QPoint>("lands");  // where the map's point under `from` is shown afterwards
        QTest::addColumn<QStringList>("calls");
        const QStringList clicked{"move", "move", "up", "leave"};
        QTest::newRow("zoom box") << int(kZoomIn) << "drag" << QPoint(90, 40) << QPoint(240, 140) << 0.5 << QPoint(0, 0)
                                  << QStringList{"move", "move", "box", "up", "leave"};
        QTest::newRow("zoom in click") << int(kZoomIn) << "drag" << QPoint(100, 50) << QPoint(100, 50) << 0.5
                                       << QPoint(150, 100) << clicked;
        QTest::newRow("zoom out click") << int(kZoomOut) << "drag" << QPoint(100, 50) << QPoint(100, 50) << 2.0
                                        << QPoint(150, 100) << clicked;
        QTest::newRow("pan") << int(kPan) << "drag" << QPoint(100, 50) << QPoint(160, 20) << 1.0 << QPoint(160, 20)
                             << clicked;
        // The turn ends like a click's release, after the new view is in place.
        QTest::newRow("wheel") << int(kNoTool) << "wheel" << QPoint(70, 30) << QPoint(70, 30) << 0.8 << QPoint(70, 30)
                               << QStringList{"up", "leave"};
        QTest::newRow("no tool, picking") << int(kNoTool) << "pick" << QPoint(30, 40) << QPoint(80, 90) << 1.0
                                          << QPoint(30, 40) << QStringList{"down 30 40", "move", "move", "up", "leave"};
        QTest::newRow("no tool, events off") << int(kNoTool) << "drag" << QPoint(30, 40) << QPoint(80, 90) << 1.0
                                             << QPoint(30, 40) << QStringList{};
    }
    // The view changes before the events are raised, so they see the new one.
    void gestures()
    {
        QFETCH(int, mode);
        QFETCH(QString, gesture);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QPoint, lands);
        QFETCH(QStringList, calls);
        const auto map = MapOf({polygons_});
        Recorder recorder(*map);
        map->SetCursorMode(mode);
        const bool send = gesture == "pick" || !calls.isEmpty();
        map->SetSendMouseDown(gesture == "pick");
        map->SetSendMouseMove(send);
        map->SetSendMouseUp(send);
        map->SetSendSelectBoxFinal(send);
        const MapExtents before = map->GetExtents();
        double grabX, grabY, x, y;
        map->PixelToProj(from.x(), from.y(), grabX, grabY);

        if (gesture == "wheel") {
            QWheelEvent turn(from, map->mapToGlobal(QPointF(from)), QPoint(), QPoint(0, 120), Qt::NoButton,
                             Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(map.get(), &turn);
        } else {
            QTest::mousePress(map.get(), Qt::LeftButton, {}, from);
            QTest::mouseMove(map.get(), (from + to) / 2);
            QTest::mouseMove(map.get(), to);
            QTest::mouseRelease(map.get(), Qt::LeftButton, {}, to);
        }
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(map.get(), &leave);
        QCOMPARE(recorder.calls, calls);
        const MapExtents after = map->GetExtents();
        QTEST((after.xMax - after.xMin) / (before.xMax - before.xMin), "widthRatio");
        for (const QString& end : {QStringLiteral("up"), QStringLiteral("box")})
            QCOMPARE(recorder.seen.value(end, after), after);
        map->PixelToProj(lands.x(), lands.y(), x, y);
        QVERIFY(Near(x, grabX) && Near(y, grabY));
    }

    // The pointer shows the tool in force; the cross-hair, asked for picking,
    // wins over any tool, and the hand closes only while it drags.
    void pointers()
    {
        MapWidget map;
        const auto pressed = [&](int mode, int pointer) {
            map.SetCursorMode(mode);
            map.SetMapCursor(pointer);
            QTest::mousePress(&map, Qt::LeftButton, {}, QPoint(100, 100));
            const Qt::CursorShape shape = map.cursor().shape();
            QTest::mouseRelease(&map, Qt::LeftButton, {}, QPoint(100, 100));
            return std::pair(shape, map.cursor().shape());
        };
        QCOMPARE(pressed(kNoTool, kArrow), std::pair(Qt::ArrowCursor, Qt::ArrowCursor));
        QCOMPARE(pressed(kPan, kArrow), std::pair(Qt::ClosedHandCursor, Qt::OpenHandCursor));
        QCOMPARE(pressed(kZoomOut, kArrow), std::pair(Qt::BitmapCursor, Qt::BitmapCursor));
        QCOMPARE(pressed(kPan, kCrossHair), std::pair(Qt::CrossCursor, Qt::CrossCursor));
    }

    // A label goes with its layer and is left out where it would overlap an
    // earlier one; the highlight lasts until the view changes; the names over
    // the map show only while the view is wider than asked.
    void labelsHighlightAndOverlayNames()
    {
        const auto map = MapOf({polygons_}, {600, 200});
        map->SetLayerLineColor(0, Rgb(255, 0, 0));
        map->SetLayerLineWidth(0, 2.0f);
        const auto red = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80; };
        const auto dark = [](QRgb c) { return qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60; };
        const auto orange = [](QRgb c) { return qRed(c) > 230 && qGreen(c) > 140 && qGreen(c) < 200 && qBlue(c) < 40; };
        QVERIFY(CountPixels(map->RenderMap(), red) > 100);
        QCOMPARE(CountPixels(map->RenderMap(), dark), 0);

        map->AddLabel(0, "Primo nome", 0, 150, 37, 1, 0);
        const QImage one = map->RenderMap().copy();
        QVERIFY(CountPixels(one, dark) > 20);
        // A second name a metre (a pixel) away would overlap the first; one far away is drawn.
        map->AddLabel(0, "Secondo nome", 0, 151, 37.5, 1, 0);
        QCOMPARE(map->RenderMap(), one);
        map->AddLabel(0, "Lontano", 0, 40, 30, 1, 0);
        QVERIFY(map->RenderMap() != one);

        map->SetHighlight(0, 1);  // the rectangle from x 200 to 300
        const QImage lit = map->grab().toImage();
        QVERIFY(CountPixels(lit, orange) > 200);
        // The square, drawn in the first hundred pixels, stays as it is.
        QCOMPARE(CountPixels(lit.copy(0, 0, 100, 200), orange), 0);

        map->SetOverlayLabels({{"Provincia", 275, 25}}, 500);
        QVERIFY(map->grab().toImage() != lit);
        map->ZoomToExtents({0, 400, 0, 50});
        const QImage narrow = map->grab().toImage();
        QCOMPARE(CountPixels(narrow, orange), 0);
        map->SetOverlayLabels({}, 500);
        QCOMPARE(map->grab().toImage(), narrow);

        map->SetLayerVisible(0, false);
        QCOMPARE(CountPixels(map->RenderMap(), red) + CountPixels(map->RenderMap(), dark), 0);
    }

    // The bar may take 100 pixels, a third of the map.
    void scaleBar()
    {
        const struct {
            double viewWidth, metres;  // metres across the 300 pixels of the map; of the bar
            const char* text;
        } cases[] = {{450, 100, "100 m"}, {3000, 1000, "1 km"}, {7500, 2000, "2 km"}, {150000, 50000, "50 km"}};
        MapWidget map;
        map.resize(300, 200);
        for (const auto& c : cases) {
            map.ZoomToExtents({1000, 1000 + c.viewWidth, 0, c.viewWidth * 2 / 3});
            QCOMPARE(ChooseScaleBar(c.viewWidth / 300, 100).text, QString(c.text));
            QCOMPARE(LongestBlackRun(map.grab().toImage(), 30), int(std::lround(c.metres * 300 / c.viewWidth)));
        }
    }

    // 1000 m in 200 pixels over grey: a run's mark sits at its cell's bounds
    // (the cell from 250 to 750 m spans pixels 50 to 150); the notice's band
    // runs along the top edge only, over whatever the view shows, and goes
    // with empty text.
    void runMarksAndNoticeBand()
    {
        const QColor background(192, 192, 192);
        MapWidget map;
        map.resize(200, 200);
        map.SetBackColor(Rgb(192, 192, 192));
        map.ZoomToExtents({0, 1000, 0, 1000});
        map.SetRunMarks({RunMark{600, 400, {250, 750, 250, 750}, true}});
        const QImage image = map.grab().toImage();
        const auto marked = [&](QPoint p) { return image.pixelColor(p) != background; };
        // Each edge, with one pixel across it outwards.
        for (const auto& [edge, across] : {std::pair{QPoint(50, 100), QPoint(-1, 0)}, {QPoint(150, 100), QPoint(1, 0)},
                                           {QPoint(100, 50), QPoint(0, -1)}, {QPoint(100, 150), QPoint(0, 1)}}) {
            QVERIFY(marked(edge - across) || marked(edge) || marked(edge + across));
            QVERIFY(!marked(edge + across * 5) && !marked(edge - across * 5));
        }
        QVERIFY(marked({120, 120}));  // the point's dot

        map.SetRunMarks({});
        map.SetNotice("Dati di esempio sintetici");
        for (const MapExtents& view : {MapExtents{0, 1000, 0, 1000}, MapExtents{700, 730, 500, 520}}) {
            map.ZoomToExtents(view);
            const QImage band = map.grab().toImage();
            QVERIFY(band.pixelColor(2, 2) != background && band.pixelColor(197, 2) != background);
            QCOMPARE(band.pixelColor(100, 100), background);
        }
        map.SetNotice("");
        QCOMPARE(map.grab().toImage().pixelColor(2, 2), background);
    }

    // Built once into the user's cache, found there at the next start; a cache
    // that cannot be made leaves the map drawing all the same. As root no
    // permission stops a write, so a file stands where the cache would be.
    void overviewsBuiltOnceIntoTheCache()
    {
        QTemporaryDir data;
        // 3000 x 2000 grey pixels of 1 m, tiled, without overviews: too large to be read whole.
        const QString raster = WriteRaster(data.filePath(QStringLiteral("large.tif")), {3000, 2000}, 1, GDT_Byte, 1,
                                           [](int column, int) { return column / 12; }, "TILED=YES");
        const QStringList dataFiles = FilesUnder(data.path());
        {
            const auto map = MapOf({raster});
            QCOMPARE(map->Preparations().size(), 1u);
            QCOMPARE(map->Preparations()[0].file, raster.toStdString());
            // Until the overviews exist the whole raster is left out, not read.
            QVERIFY(!DrawnWhole(*map));
            QTRY_VERIFY_WITH_TIMEOUT(map->Preparations().empty(), 60000);
            QVERIFY(DrawnWhole(*map));
        }
        const QStringList cached = FilesUnder(cache_);
        QCOMPARE(cached.filter(QRegularExpression(QStringLiteral("large-[0-9a-f]+\\.vrt(\\.ovr)?$"))).size(), 2);
        const auto again = MapOf({raster});
        QVERIFY(again->Preparations().empty() && DrawnWhole(*again));
        QCOMPARE(FilesUnder(cache_), cached);

        QVERIFY(QDir(cache_).removeRecursively() && QFile(cache_).open(QIODevice::WriteOnly));
        const auto uncached = MapOf({raster});
        QTRY_VERIFY_WITH_TIMEOUT(uncached->Preparations().empty(), 60000);
        uncached->ZoomToExtents({1000, 1300, 1000, 1200});  // a small view is read from the file
        QVERIFY(DrawnWhole(*uncached));
        QCOMPARE(FilesUnder(data.path()), dataFiles);
    }

    // A FIFO among a map file's companions would hold GDAL's open for ever:
    // the layer is not opened, and its problem names the FIFO.
    void companionsThatAreNotFilesKeepTheLayerClosed()
    {
        const QStringList companions{".prj",       ".cpg",       ".dbf",       ".shx", ".shp.xml",
                                     "tif.aux.xml", "tif.ovr", "tfw", "_rpc.txt"};
        for (const QString& companion : companions) {
            QTemporaryDir data;
            const bool raster = !companion.startsWith(QLatin1String("."));
            const QString file = raster ? WriteRaster(data.filePath(QStringLiteral("small.tif")), {20, 10}, 1,
                                                      GDT_Byte, 1, [](int column, int) { return column; })
                                        : WritePolygons(data);
            const QString fifo =
                raster ? data.filePath(QStringLiteral("small") + (companion.startsWith('_') ? "" : ".") + companion)
                       : QString(file).replace(".shp", companion);
            QFile::remove(fifo);
            QVERIFY2(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0, qPrintable(fifo));
            const auto map = MapOf({file});
            QCOMPARE(map->LayerProblems().size(), 1u);
            QCOMPARE(QString::fromStdString(map->LayerProblems()[0].reason),
                     fifo + QStringLiteral(" is not a regular file; the file is not opened"));
        }
    }

    // Two programs building the same overviews each end with a whole cache;
    // a cached .ovr cut short is not used but built again; a relative
    // XDG_CACHE_HOME is ignored.
    void overviewCacheSharedCutShortAndMisplaced()
    {
        QTemporaryDir data, cache;
        const QString raster = WriteRaster(data.filePath(QStringLiteral("shared.tif")), {1200, 800}, 1, GDT_Byte, 1,
                                           [](int column, int) { return column / 5; }, "TILED=YES");
        const auto build = [&](int builders) {
            std::vector<std::unique_ptr<OverviewCache>> caches;
            std::vector<std::unique_ptr<QSignalSpy>> spies;
            for (int i = 0; i < builders; ++i) {
                caches.push_back(std::make_unique<OverviewCache>(cache.path()));
                spies.push_back(std::make_unique<QSignalSpy>(caches.back().get(), &OverviewCache::Finished));
            }
            for (const auto& each : caches)
                each->Request(raster);
            for (const auto& spy : spies) {
                QTRY_COMPARE_WITH_TIMEOUT(spy->size(), 1, 60000);
                QVERIFY(!spy->at(0).at(1).toString().isEmpty());
            }
        };
        build(2);
        const OverviewCache reader(cache.path());
        const QString vrt = reader.Cached(raster);
        QVERIFY(!vrt.isEmpty());
        QCOMPARE(FilesUnder(cache.path()), (QStringList{vrt, vrt + QStringLiteral(".ovr")}));

        QFile ovr(vrt + QStringLiteral(".ovr"));
        QVERIFY(ovr.resize(ovr.size() / 2));
        QVERIFY(reader.Cached(raster).isEmpty());
        build(1);
        QCOMPARE(reader.Cached(raster), vrt);
        QCOMPARE(FilesUnder(cache.path()).size(), 2);

        const QByteArray saved = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", "relative/cache");
        QCOMPARE(OverviewCache::DefaultFolder(), QDir::homePath() + QStringLiteral("/.cache/quorvel/overviews"));
        qputenv("XDG_CACHE_HOME", saved);
        QCOMPARE(OverviewCache::DefaultFolder(), cache_ + QStringLiteral("/quorvel/overviews"));
    }

private:
    QTemporaryDir dir_;
    const QString cache_ = dir_.filePath(QStringLiteral("cache"));
    QString polygons_;
};

QTEST_MAIN(TestMapWidget)
#include "test_mapwidget.moc"
