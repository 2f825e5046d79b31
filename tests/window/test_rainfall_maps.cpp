// The design-rainfall maps laid over the main window's map, on the sample region.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gdal_priv.h>

#include "rainmaps/RainfallTiffs.h"
#include "tests/window/Form1Fixture.h"

namespace quorvel::testing {
namespace {

// The pixel's red, green, blue and alpha as the file holds them.
std::array<int, 4> PixelOf(GDALDataset& tiff, int column, int row)
{
    std::array<GByte, 4> rgba{};
    int bands[4] = {1, 2, 3, 4};
    if (tiff.RasterIO(GF_Read, column, row, 1, 1, rgba.data(), 1, 1, GDT_Byte, 4, bands, 4, 4, 1, nullptr) != CE_None)
        qFatal("cannot read the map's pixel");
    return {rgba[0], rgba[1], rgba[2], rgba[3]};
}

}  // namespace

class RainfallMapsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Form1Fixture> fx;
    std::unique_ptr<QTemporaryDir> cache;
    std::unique_ptr<RainfallTiffs> tiffs;

    QComboBox* Box() { return fx->form->findChild<QComboBox*>(QStringLiteral("MappaPioggia")); }
    QLabel* Legend() { return fx->form->findChild<QLabel*>(QStringLiteral("LegendaPioggia")); }
    void Choose(const QString& text)
    {
        const int index = Box()->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        Box()->setCurrentIndex(index);
        emit Box()->activated(index);
    }
    QStringList CachedFiles() { return QDir(cache->path()).entryList(QDir::Files); }

private slots:
    void init()
    {
        fx = std::make_unique<Form1Fixture>();
        cache = std::make_unique<QTemporaryDir>();
        tiffs = std::make_unique<RainfallTiffs>(QUORVEL_APP_DIR, cache->path());
        fx->Make().SetRainfallMaps(tiffs.get());
    }
    void cleanup()
    {
        fx.reset();
        tiffs.reset();
        cache.reset();
    }

    void offersEveryLayerAfterNone()
    {
        QStringList items;
        for (int i = 0; i < Box()->count(); ++i)
            items << Box()->itemText(i);
        QCOMPARE(items.join(u'|'), QStringLiteral("Nessuna|h 1 ora T2|h 1 ora T5|h 1 ora T10|h 1 ora T20|h 1 ora T50|"
                                                  "h 1 ora T100|h 1 ora T200|a2"));
    }

    void mapColoursFollowTheClasses_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("layer");
        QTest::addColumn<QString>("unit");
        QTest::newRow("T50") << "h 1 ora T50" << "pioggia_T50" << " mm";
        QTest::newRow("T2") << "h 1 ora T2" << "pioggia_T2" << " mm";
        QTest::newRow("a2") << "a2" << "a2" << "";
    }
    void mapColoursFollowTheClasses()
    {
        QFETCH(QString, choice);
        QFETCH(QString, layer);
        QFETCH(QString, unit);
        fx->map.ClearCalls();
        Choose(choice);
        QCOMPARE(fx->map.CallsTo({"AddLayer", "RemoveLayer"}).substr(0, 9), std::string("AddLayer("));
        QCOMPARE(fx->map.LayerHandle(1), -1);  // exactly one layer
        const std::string file = fx->map.LayerAt(fx->map.LayerHandle(0))->description.substr(6);
        QVERIFY(QString::fromStdString(file).startsWith(cache->path() + u'/' + layer + u'-'));

        RainfallLayers layers(QUORVEL_APP_DIR);
        const auto classes = layers.Current();
        const RainfallLayers::Layer& chosen = *RainfallLayers::Find(layer.toStdString());
        GDALAllRegister();
        GDALDatasetUniquePtr tiff(GDALDataset::Open(file.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
        QVERIFY(tiff);
        QCOMPARE(tiff->GetRasterXSize(), classes->maps.columns);
        QCOMPARE(tiff->GetRasterYSize(), classes->maps.rows);
        QCOMPARE(int(tiff->GetRasterBand(4)->GetColorInterpretation()), int(GCI_AlphaBand));
        double geo[6];
        QCOMPARE(tiff->GetGeoTransform(geo), CE_None);
        QCOMPARE(geo[0], double(kGridWestEdge));
        QCOMPARE(geo[3], kGridNorthEdge);
        QCOMPARE(geo[1], double(kGridCellSize));

        // The first cell of each class, and the first without data; the
        // quantiles share one scale, so a low T meets only its lower classes.
        const auto& cells = classes->cells[chosen.map];
        std::map<int, std::size_t> firstOf;
        for (std::size_t i = 0; i < cells.size(); ++i)
            firstOf.emplace(cells[i], i);
        QVERIFY(firstOf.size() >= 3 && firstOf.count(255) == 1);
        for (const auto& [cls, at] : firstOf) {
            const auto pixel = PixelOf(*tiff, int(at % std::size_t(classes->maps.columns)),
                                       int(at / std::size_t(classes->maps.columns)));
            if (cls == 255) {
                QCOMPARE(pixel[3], 0);
                continue;
            }
            // As the map service's pictures have it: the ramp over the relief, stored straight.
            const QRgb ramp = RainfallLayers::Ramp()[std::size_t(cls)];
            const QRgb drawn = qUnpremultiply(qPremultiply(qRgba(qRed(ramp), qGreen(ramp), qBlue(ramp), 215)));
            QCOMPARE(pixel, (std::array<int, 4>{qRed(drawn), qGreen(drawn), qBlue(drawn), 215}));
        }

        QVERIFY(Legend()->isVisibleTo(fx->form.get()));
        for (const QString& label : RainfallLayers::LegendLabels(*classes, chosen))
            QVERIFY2(Legend()->text().contains(label.toHtmlEscaped()), qPrintable(label));
        QVERIFY(Legend()->text().contains(QString::fromUtf8(chosen.title)));
        QCOMPARE(Legend()->text().contains(QStringLiteral(" mm")), !unit.isEmpty());
    }

    // Another choice replaces the map, the same grids reuse their file, and
    // "Nessuna" takes the map away.
    void choicesReplaceAndRemoveTheMap()
    {
        Choose(QStringLiteral("h 1 ora T10"));
        Choose(QStringLiteral("a2"));
        Choose(QStringLiteral("h 1 ora T10"));
        QCOMPARE(fx->map.LayerHandle(1), -1);
        QCOMPARE(CachedFiles().size(), 2);
        const int handle = fx->map.LayerHandle(0);
        fx->map.ClearCalls();
        Choose(QStringLiteral("Nessuna"));
        QCOMPARE(fx->map.CallsTo({"AddLayer", "RemoveLayer"}), "RemoveLayer(" + std::to_string(handle) + ")");
        QCOMPARE(fx->map.LayerHandle(0), -1);
        QVERIFY(!Legend()->isVisibleTo(fx->form.get()));
        QCOMPARE(Box()->currentIndex(), -1);  // the box says what it is again
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::RainfallMapsTest)
#include "test_rainfall_maps.moc"
