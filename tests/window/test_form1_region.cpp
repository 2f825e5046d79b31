#include <algorithm>
#include <cmath>
#include <memory>

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include "window/Form1.h"
#include "map/MapWidget.h"
#include "window/MainWindowState.h"
#include "tests/window/RecordingReporter.h"

using namespace quorvel;
using namespace quorvel::testing;

namespace {

// What the sample region's own files say, read with OGR apart from the window.
struct Municipality {
    QString name;
    OGREnvelope box;
};

std::vector<Municipality> MunicipalitiesFromShapefile()
{
    std::vector<Municipality> all;
    GDALDatasetUniquePtr data(GDALDataset::Open("Shp/comuniPoly.shp", GDAL_OF_VECTOR));
    if (!data)
        return all;
    for (const auto& feature : *data->GetLayer(0)) {
        Municipality m;
        m.name = QString::fromUtf8(feature->GetFieldAsString("DENOMINAZI"));
        feature->GetGeometryRef()->getEnvelope(&m.box);
        all.push_back(m);
    }
    return all;
}

QString DistrictAt(double x, double y)
{
    GDALDatasetUniquePtr data(GDALDataset::Open("Shp/V_ISPETTORATI.shp", GDAL_OF_VECTOR));
    const char* codes[4] = {"UD", "TG", "PN", "TO"};
    OGRPoint point(x, y);
    int index = 0;
    for (const auto& feature : *data->GetLayer(0)) {
        if (index < 4 && feature->GetGeometryRef()->Contains(&point))
            return QString::fromLatin1(codes[index]);
        ++index;
    }
    return {};
}

}  // namespace

class TestForm1Region : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listHoldsTheTableInFileOrder();
    void searchZoomsToThePolygon_data();
    void searchZoomsToThePolygon();
    void readOutAtAKnownPixel();
    void fullExtentShowsTheWholeRaster();

private:
    void Search(int index);

    RecordingReporter reporter_;
    MapWidget* map_ = nullptr;
    std::unique_ptr<Form1> form_;
    std::vector<Municipality> municipalities_;
};

void TestForm1Region::initTestCase()
{
    GDALAllRegister();
    municipalities_ = MunicipalitiesFromShapefile();
    QCOMPARE(int(municipalities_.size()), 219);
    map_ = new MapWidget;
    form_ = std::make_unique<Form1>(*map_, map_, reporter_);
    form_->Load();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void TestForm1Region::cleanupTestCase()
{
    form_.reset();
}

void TestForm1Region::listHoldsTheTableInFileOrder()
{
    auto* combo = form_->findChild<QComboBox*>(QStringLiteral("Combo1"));
    QCOMPARE(combo->count(), 219);
    for (int i = 0; i < 219; ++i)
        QCOMPARE(combo->itemText(i), municipalities_[i].name);
    QCOMPARE(form_->State().distretto, QStringLiteral("UD"));
    QVERIFY(reporter_.messages.isEmpty());
}

void TestForm1Region::Search(int index)
{
    auto* combo = form_->findChild<QComboBox*>(QStringLiteral("Combo1"));
    combo->setCurrentIndex(index);
    QTest::mouseClick(form_->findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
}

void TestForm1Region::searchZoomsToThePolygon_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("first") << 0;
    QTest::newRow("middle") << 109;
    QTest::newRow("last") << 218;
}

void TestForm1Region::searchZoomsToThePolygon()
{
    QFETCH(int, index);
    Search(index);
    QVERIFY(reporter_.messages.isEmpty());
    const MainWindowState& state = form_->State();
    QCOMPARE(state.DENOMINAZIcom, municipalities_[index].name);
    QCOMPARE(int(state.FID), index);

    // The view fits the polygon: it holds its whole box, with at most a small
    // margin in the direction that limits the scale.
    const OGREnvelope& box = municipalities_[index].box;
    const MapExtents view = map_->GetExtents();
    QVERIFY(view.xMin <= box.MinX + 1 && view.xMax >= box.MaxX - 1);
    QVERIFY(view.yMin <= box.MinY + 1 && view.yMax >= box.MaxY - 1);
    const double fit = std::min((view.xMax - view.xMin) / (box.MaxX - box.MinX),
                                (view.yMax - view.yMin) / (box.MaxY - box.MinY));
    QVERIFY2(fit < 1.25, qPrintable(QString::number(fit)));

    // The layers follow the new width and the district under the new centre.
    const float width = static_cast<float>(view.xMax - view.xMin);
    QCOMPARE(map_->LayerVisible(3), width > 10000 && width <= 50000);
    QCOMPARE(map_->LayerVisible(4), width > 5000 && width <= 10000);
    QCOMPARE(map_->LayerVisible(6), width <= 5000);
    const QString district = DistrictAt((view.xMin + view.xMax) / 2, (view.yMin + view.yMax) / 2);
    if (!district.isEmpty())
        QCOMPARE(state.distretto, district);
}

void TestForm1Region::readOutAtAKnownPixel()
{
    Search(0);
    const MapExtents view = map_->GetExtents();
    const QPoint centre(map_->width() / 2, map_->height() / 2);
    QMouseEvent move(QEvent::MouseMove, QPointF(centre), map_->mapToGlobal(QPointF(centre)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(map_, &move);

    const double metresPerPixel = (view.xMax - view.xMin) / map_->width();
    const double east = form_->findChild<QLabel*>(QStringLiteral("Label1"))->text().toDouble();
    const double north = form_->findChild<QLabel*>(QStringLiteral("Label2"))->text().toDouble();
    QVERIFY(std::abs(east - (view.xMin + view.xMax) / 2) <= metresPerPixel + 0.5);
    QVERIFY(std::abs(north - (view.yMin + view.yMax) / 2) <= metresPerPixel + 0.5);
    QVERIFY(east == std::round(east) && east > 2300000 && east < 2500000);
    QVERIFY(north == std::round(north) && north > 5000000 && north < 5200000);
}

void TestForm1Region::fullExtentShowsTheWholeRaster()
{
    Search(0);
    QTest::mouseClick(form_->findChild<QToolButton*>(QStringLiteral("Command3")), Qt::LeftButton);
    const MapExtents view = map_->GetExtents();
    QVERIFY(view.xMax - view.xMin > 150000);
    for (int layer : {3, 4, 6})
        QVERIFY(!map_->LayerVisible(layer));
    QCOMPARE(map_->CursorMode(), int(kNoTool));
}

QTEST_MAIN(TestForm1Region)
#include "test_form1_region.moc"
