#include "map/OffscreenMap.h"
#include "maplayers/DetailView.h"
#include "maplayers/LayerTable.h"
#include "wms/WmsService.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <charconv>
#include <filesystem>
#include <future>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace quorvel;

namespace {

// Runs in the sample region's folder, so the desktop's relative paths hold.
const std::string kFolder = QUORVEL_APP_DIR;

WmsParams GetMap(const std::string& layers, const std::string& box, int width, int height,
                 const std::string& transparent = "FALSE", const std::string& format = "image/png")
{
    return {{"service", "WMS"}, {"Request", "GetMap"}, {"VERSION", "1.3.0"},        {"LAYERS", layers},
            {"STYLES", ""},     {"CRS", "EPSG:3004"},  {"BBOX", box},               {"WIDTH", std::to_string(width)},
            {"HEIGHT", std::to_string(height)},         {"FORMAT", format},        {"TRANSPARENT", transparent}};
}

QImage Decoded(const WmsResponse& response)
{
    return QImage::fromData(QByteArray::fromStdString(response.body));
}

// The desktop's map of that view: its layers, after its detail rules, with its overlay names.
QImage DesktopPicture(const MapExtents& box, int width, int height)
{
    OffscreenMap map(width, height);
    AddLayerTable(map);
    map.SetOverlayLabels(LayerShapeNames(map, kProvinceLayer, kProvinceNameField), kProvinceNamesMinWidth);
    map.ZoomToExtents(box);
    QString district = "UD";
    UpdateDetailView(map, district);
    QImage picture = map.Render();
    map.DrawOverlayNames(picture);
    return picture.convertToFormat(QImage::Format_RGB32);
}

// A copy of the sample region's map files, to change under a running service.
struct MapFolder {
    QTemporaryDir dir;
    std::string path;
    MapFolder()
    {
        path = dir.path().toStdString() + "/";
        for (const char* folder : {"Shp", "Raster"})
            std::filesystem::copy(kFolder + "/" + folder, path + folder, std::filesystem::copy_options::recursive);
    }
    // The desktop's picture of the folder as it is now.
    QImage Desktop(const MapExtents& box, int width, int height) const
    {
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        QImage picture = DesktopPicture(box, width, height);
        QDir::setCurrent(before);
        return picture;
    }
};

// GetMaps of the view, several at once so that every renderer draws one.
std::vector<QImage> DrawnAtOnce(WmsService& wms, const std::string& box, int width, int height, int count)
{
    std::vector<std::future<WmsResponse>> answers;
    for (int i = 0; i < count; ++i)
        answers.push_back(std::async(std::launch::async, [&] { return wms.Handle(GetMap("quorvel", box, width, height), ""); }));
    std::vector<QImage> pictures;
    for (auto& answer : answers) {
        const WmsResponse response = answer.get();
        pictures.push_back(response.status == 200 ? Decoded(response).convertToFormat(QImage::Format_RGB32) : QImage());
    }
    return pictures;
}

// Every descriptor the process may still open, taken while it lives.
class DescriptorsTaken {
public:
    DescriptorsTaken()
    {
        ::getrlimit(RLIMIT_NOFILE, &limit_);
        rlimit lower = limit_;
        lower.rlim_cur = 512;
        ::setrlimit(RLIMIT_NOFILE, &lower);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken_.push_back(fd);
    }
    ~DescriptorsTaken()
    {
        for (const int fd : taken_)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &limit_);
    }

private:
    rlimit limit_{};
    std::vector<int> taken_;
};

}  // namespace

class TestWms : public QObject {
    Q_OBJECT

    std::unique_ptr<WmsService> wms_;

private slots:
    // Requests wait for a renderer as long as they must: on a machine busy
    // with other tests a dozen at once may take longer than a client would wait.
    void initTestCase()
    {
        WmsServiceOptions options;
        options.limits.maxWait = std::chrono::minutes(10);
        wms_ = std::make_unique<WmsService>(kFolder, options);
    }

    // The "quorvel" layer is the desktop's map of the view, pixel for pixel,
    // from the whole region down to a district raster; the other layers each
    // draw alone, over nothing when asked to be transparent.
    void getMapIsTheDesktopMap()
    {
        struct Row {
            MapExtents box;
            int width, height;
        };
        const Row rows[] = {
            {{2310000, 2490500, 5040000, 5156322.222}, 945, 609},
            {{2398500, 2401500, 5109000, 5111000}, 300, 200},
            {{2338500, 2341500, 5059000, 5061000}, 300, 200},
            {{2390000, 2420000, 5100000, 5120000}, 600, 400},
        };
        for (const Row& row : rows) {
            // As a client writes it, whatever the locale this test runs in.
            std::string box;
            for (const double edge : {row.box.xMin, row.box.yMin, row.box.xMax, row.box.yMax}) {
                char text[32];
                box += (box.empty() ? "" : ",") + std::string(text, std::to_chars(text, text + sizeof text, edge).ptr);
            }
            const WmsResponse response = wms_->Handle(GetMap("quorvel", box, row.width, row.height), "");
            QCOMPARE(response.status, 200);
            QCOMPARE(response.contentType, std::string("image/png"));
            const QImage picture = Decoded(response).convertToFormat(QImage::Format_RGB32);
            QCOMPARE(picture.size(), QSize(row.width, row.height));
            QVERIFY2(picture == DesktopPicture(row.box, row.width, row.height), box.c_str());
        }
        // The same picture as JPEG, for pages on slow links: alike once JPEG's
        // blur of one-pixel lines is averaged away over 8 x 8 blocks.
        const WmsResponse lossy =
            wms_->Handle(GetMap("quorvel", "2310000,5040000,2490500,5156322.222", 945, 609, "FALSE", "image/jpeg"), "");
        QCOMPARE(lossy.contentType, std::string("image/jpeg"));
        const QImage decoded = Decoded(lossy).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(decoded.size(), QSize(945, 609));
        const auto blocks = [](const QImage& image) {
            return image.scaled(118, 76, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        };
        const QImage near = blocks(decoded), exact = blocks(DesktopPicture({2310000, 2490500, 5040000, 5156322.222}, 945, 609));
        double difference = 0;
        for (int y = 0; y < exact.height(); ++y)
            for (int x = 0; x < exact.width(); ++x) {
                const QRgb a = near.pixel(x, y), b = exact.pixel(x, y);
                difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        const double mean = difference / (3.0 * exact.width() * exact.height());
        QVERIFY2(mean < 2, QByteArray::number(mean).constData());
        // A picture for a screen of two or more pixels to a point is sent
        // lighter: its blocks are too small to see, and a phone waits for it.
        for (const auto& [dpi, lighter] : {std::pair{"90", false}, {"180", true}, {"270", true}}) {
            WmsParams sharp = GetMap("quorvel", "2310000,5040000,2490500,5156322.222", 945, 609, "FALSE", "image/jpeg");
            sharp.emplace_back("DPI", dpi);
            const std::size_t size = wms_->Handle(sharp, "").body.size();
            QVERIFY2((size < lossy.body.size() * 0.8) == lighter, dpi);
        }
        const QImage outlines =
            Decoded(wms_->Handle(GetMap("comuni,province", "2310000,5040000,2490000,5170000", 360, 260, "TRUE"), ""));
        QCOMPARE(outlines.size(), QSize(360, 260));
        QVERIFY(outlines.hasAlphaChannel());
        QCOMPARE(qAlpha(outlines.pixel(0, 0)), 0);
        QVERIFY(outlines.pixelColor(180, 130).alpha() == 0 || outlines.pixelColor(180, 130).alpha() == 255);
    }

    // Requests at once on several threads give what they give one by one.
    // The server draws on its workers, never on the GUI thread, where Qt
    // places the glyphs of the names a fraction of a pixel apart: a service
    // of its own, drawing on other threads alone, as the server's.
    void concurrentRequestsDrawAlike()
    {
        WmsServiceOptions options;
        options.limits.maxWait = std::chrono::minutes(10);
        WmsService service(kFolder, options);
        const std::vector<std::string> boxes = {"2310000,5040000,2490000,5170000", "2338500,5059000,2341500,5061000",
                                                "2398500,5109000,2401500,5111000", "2390000,5100000,2420000,5120000"};
        std::vector<std::string> alone;
        for (const std::string& box : boxes)
            alone.push_back(std::async(std::launch::async, [&] {
                return service.Handle(GetMap("quorvel", box, 300, 200), "").body;
            }).get());
        std::vector<std::future<std::string>> together;
        for (int i = 0; i < 12; ++i)
            together.push_back(std::async(std::launch::async, [&, i] {
                return service.Handle(GetMap("quorvel", boxes[size_t(i) % boxes.size()], 300, 200), "").body;
            }));
        for (int i = 0; i < 12; ++i)
            QVERIFY(together[size_t(i)].get() == alone[size_t(i) % boxes.size()]);
    }

    // The capabilities are WMS 1.3.0 XML that lists every layer with its box in EPSG:3004.
    void capabilitiesListEveryLayer()
    {
        const WmsResponse response = wms_->Handle(
            {{"SERVICE", "WMS"}, {"REQUEST", "GetCapabilities"}}, "http://127.0.0.1:8080/wms");
        QCOMPARE(response.status, 200);
        QProcess python;
        python.start("/usr/bin/python3", {"-c", R"(
import sys, xml.etree.ElementTree as ET
ns = {'w': 'http://www.opengis.net/wms', 'x': 'http://www.w3.org/1999/xlink'}
root = ET.fromstring(sys.stdin.buffer.read())
assert root.tag == '{http://www.opengis.net/wms}WMS_Capabilities' and root.get('version') == '1.3.0'
assert root.find('w:Service/w:OnlineResource', ns).get('{http://www.w3.org/1999/xlink}href').startswith('http://127.0.0.1:8080/wms')
assert [f.text for f in root.findall('w:Capability/w:Request/w:GetMap/w:Format', ns)] == ['image/png', 'image/jpeg']
top = root.find('w:Capability/w:Layer', ns)
assert top.find('w:CRS', ns).text == 'EPSG:3004'
for layer in top.findall('w:Layer', ns):
    box = layer.find("w:BoundingBox[@CRS='EPSG:3004']", ns)
    assert float(box.get('minx')) < float(box.get('maxx')) and float(box.get('miny')) < float(box.get('maxy'))
    assert layer.find('w:EX_GeographicBoundingBox/w:westBoundLongitude', ns) is not None
    print(layer.find('w:Name', ns).text)
)"});
        python.write(QByteArray::fromStdString(response.body));
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(30000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        QStringList expected;
        for (const std::string& name : WmsService::LayerNames())
            expected << QString::fromStdString(name);
        QCOMPARE(QString(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), expected);
    }

    // The map follows its files: with the municipality borders moved away
    // every renderer draws without them, and once they are back with them,
    // as the desktop does with the folder as it is.
    void mapFollowsItsFiles()
    {
        MapFolder folder;
        WmsService wms(folder.path);
        const MapExtents box{2310000, 2490000, 5040000, 5170000};
        const std::string text = "2310000,5040000,2490000,5170000";
        const QImage with = folder.Desktop(box, 360, 260);
        for (const QImage& picture : DrawnAtOnce(wms, text, 360, 260, 4))
            QVERIFY(picture == with);
        const std::string shapes = folder.path + "Shp/comuniPoly";
        const struct {
            const char* what;
            bool away;
        } steps[] = {{"moved away", true}, {"put back", false}, {"moved away again", true}, {"put back again", false}};
        for (const auto& step : steps) {
            for (const char* part : {".shp", ".shx", ".dbf"})
                std::filesystem::rename(shapes + (step.away ? "" : ".away") + part,
                                        shapes + (step.away ? ".away" : "") + part);
            const QImage expected = folder.Desktop(box, 360, 260);
            QVERIFY2((expected == with) != step.away, step.what);
            for (int round = 0; round < 3; ++round)
                for (const QImage& picture : DrawnAtOnce(wms, text, 360, 260, 4))
                    QVERIFY2(picture == expected, step.what);
        }
    }

    // A renderer made while no file could be opened draws no map with holes:
    // the answer is 503, and the next request, with descriptors to spare,
    // gets the whole map from a renderer made anew.
    void aRendererWithUnopenedLayersIsNeverKept()
    {
        MapFolder folder;
        const MapExtents box{2310000, 2490000, 5040000, 5170000};
        const QImage expected = folder.Desktop(box, 360, 260);
        std::unique_ptr<WmsService> wms;
        WmsResponse starved;
        {
            const DescriptorsTaken taken;
            wms = std::make_unique<WmsService>(folder.path);
            starved = wms->Handle(GetMap("quorvel", "2310000,5040000,2490000,5170000", 360, 260), "");
        }
        QCOMPARE(starved.status, 503);
        QVERIFY(starved.retryAfter > 0);
        QVERIFY2(starved.english.find(folder.path) == std::string::npos, starved.english.c_str());
        for (const QImage& picture : DrawnAtOnce(*wms, "2310000,5040000,2490000,5170000", 360, 260, 4))
            QVERIFY(picture == expected);
    }

    // Work has a ceiling: a picture larger than the limit is refused, and
    // requests beyond those drawing and waiting get 503 at once.
    void limitsBoundTheWork()
    {
        WmsServiceOptions options;
        options.limits.maxPixels = 1000 * 1000;
        options.limits.waiting = 0;
        WmsService wms(kFolder, options);
        const std::string box = "2310000,5040000,2490000,5170000";
        const struct {
            int width, height, status;
        } sizes[] = {{1000, 1000, 200}, {1001, 1000, 400}, {4096, 244, 200}, {4096, 245, 400}};
        for (const auto& size : sizes)
            QCOMPARE(wms.Handle(GetMap("quorvel", box, size.width, size.height), "").status, size.status);
        std::vector<std::future<WmsResponse>> flood;
        for (int i = 0; i < 16; ++i)
            flood.push_back(std::async(std::launch::async, [&] { return wms.Handle(GetMap("quorvel", box, 1000, 1000), ""); }));
        int drawn = 0, refused = 0;
        for (auto& answer : flood) {
            const WmsResponse response = answer.get();
            QVERIFY(response.status == 200 || (response.status == 503 && response.retryAfter > 0));
            (response.status == 200 ? drawn : refused) += 1;
        }
        QVERIFY2(drawn >= 1 && refused >= 1, qPrintable(QString("%1 drawn, %2 refused").arg(drawn).arg(refused)));
    }

    // Every bad request gets a ServiceExceptionReport with its code, and 400.
    void badRequestsAreServiceExceptions()
    {
        const std::string box = "2310000,5040000,2490000,5170000";
        auto with = [&](const char* name, const std::string& value) {
            WmsParams params = GetMap("quorvel", box, 100, 100);
            std::erase_if(params, [&](const auto& p) { return QString::fromStdString(p.first).toUpper() == name; });
            if (value != "-")
                params.emplace_back(name, value);
            return params;
        };
        const struct {
            WmsParams params;
            const char* code;
        } rows[] = {
            {{{"REQUEST", "GetMap"}}, "MissingParameterValue"},
            {with("REQUEST", "GetStyles"), "OperationNotSupported"},
            {with("CRS", "EPSG:4258"), "InvalidCRS"},
            {with("CRS", "-"), "MissingParameterValue"},
            {with("FORMAT", "image/gif"), "InvalidFormat"},
            {with("LAYERS", "quorvel,../etc"), "LayerNotDefined"},
            {with("LAYERS", "\xff\xfe"), "LayerNotDefined"},
            {with("STYLES", "fancy"), "StyleNotDefined"},
            {with("BBOX", "1,2,3"), "InvalidParameterValue"},
            {with("BBOX", "2490000,5040000,2310000,5170000"), "InvalidParameterValue"},
            {with("BBOX", "nan,5040000,2490000,5170000"), "InvalidParameterValue"},
            {with("BBOX", "1e309,5040000,2490000,5170000"), "InvalidParameterValue"},
            {with("WIDTH", "4097"), "InvalidParameterValue"},
            {with("WIDTH", "0"), "InvalidParameterValue"},
            {with("HEIGHT", "12px"), "InvalidParameterValue"},
            {with("HEIGHT", ""), "InvalidParameterValue"},
            {with("TRANSPARENT", "yes"), "InvalidParameterValue"},
            {with("BGCOLOR", "red"), "InvalidParameterValue"},
            {with("VERSION", "1.1.1"), "InvalidParameterValue"},
            {with("DPI", "high"), "InvalidParameterValue"},
            {with("DPI", "0"), "InvalidParameterValue"},
        };
        for (const auto& row : rows) {
            const WmsResponse response = wms_->Handle(row.params, "");
            QCOMPARE(response.status, 400);
            QVERIFY(QString::fromStdString(response.contentType).startsWith("text/xml"));
            QXmlStreamReader xml(QByteArray::fromStdString(response.body));
            QString code;
            while (!xml.atEnd())
                if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("ServiceException"))
                    code = xml.attributes().value("code").toString();
            QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
            QCOMPARE(code, QString(row.code));
        }
    }
};

QTEST_MAIN(TestWms)
#include "test_wms.moc"
