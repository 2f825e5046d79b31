#include "map/ViewTransform.h"

#include <QTest>

using quorvel::MapExtents;
using quorvel::ViewTransform;

Q_DECLARE_METATYPE(ViewTransform)
Q_DECLARE_METATYPE(MapExtents)

class TestViewTransform : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void fit_data();
    void fit();
    void zoomAndPan_data();
    void zoomAndPan();
};

void TestViewTransform::roundTrip_data()
{
    QTest::addColumn<ViewTransform>("view");
    QTest::addColumn<double>("px");
    QTest::addColumn<double>("py");
    QTest::newRow("region, centre") << ViewTransform(2380000, 5110000, 150, 945, 609) << 472.5 << 304.5;
    QTest::newRow("region, corner") << ViewTransform(2380000, 5110000, 150, 945, 609) << 0.0 << 609.0;
    QTest::newRow("fine scale, off widget") << ViewTransform(2345678.5, 5080000.25, 0.01, 300, 200) << -40.0
                                            << 777.0;
    QTest::newRow("one pixel") << ViewTransform(-5, 7, 3, 1, 1) << 0.5 << 0.25;
}

void TestViewTransform::roundTrip()
{
    QFETCH(ViewTransform, view);
    QFETCH(double, px);
    QFETCH(double, py);
    double x, y, backX, backY;
    view.PixelToMap(px, py, x, y);
    view.MapToPixel(x, y, backX, backY);
    QVERIFY(std::abs(backX - px) < 1e-6);
    QVERIFY(std::abs(backY - py) < 1e-6);

    // The pixel corners are the corners of the extents: top-left is west-north.
    const MapExtents e = view.Extents();
    view.PixelToMap(0, 0, x, y);
    QCOMPARE(x, e.xMin);
    QCOMPARE(y, e.yMax);
    view.PixelToMap(view.Width(), view.Height(), x, y);
    QCOMPARE(x, e.xMax);
    QCOMPARE(y, e.yMin);
}

void TestViewTransform::fit_data()
{
    QTest::addColumn<MapExtents>("extents");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("unitsPerPixel");
    QTest::newRow("wide extent, wide widget") << MapExtents{0, 1000, 0, 100} << 500 << 300 << 2.0;
    QTest::newRow("tall extent, wide widget") << MapExtents{0, 100, 0, 1000} << 500 << 250 << 4.0;
    QTest::newRow("square into tall") << MapExtents{-50, 50, -50, 50} << 100 << 400 << 1.0;
    QTest::newRow("a point keeps the fallback") << MapExtents{7, 7, 8, 8} << 100 << 100 << 0.5;
    QTest::newRow("zero-size widget") << MapExtents{0, 10, 0, 10} << 0 << 0 << 10.0;
}

void TestViewTransform::fit()
{
    QFETCH(MapExtents, extents);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, unitsPerPixel);
    const ViewTransform view = ViewTransform::Fit(extents, width, height, 0.5);
    QCOMPARE(view.UnitsPerPixel(), unitsPerPixel);
    QCOMPARE(view.CentreX(), (extents.xMin + extents.xMax) / 2);
    QCOMPARE(view.CentreY(), (extents.yMin + extents.yMax) / 2);
    const MapExtents e = view.Extents();
    QVERIFY(e.xMin <= extents.xMin && e.xMax >= extents.xMax);
    QVERIFY(e.yMin <= extents.yMin && e.yMax >= extents.yMax);
    // One scale both ways.
    QCOMPARE((e.xMax - e.xMin) / view.Width(), (e.yMax - e.yMin) / view.Height());
}

void TestViewTransform::zoomAndPan_data()
{
    QTest::addColumn<double>("px");
    QTest::addColumn<double>("py");
    QTest::addColumn<double>("factor");
    QTest::newRow("in at a corner") << 0.0 << 0.0 << 2.0;
    QTest::newRow("out off centre") << 310.0 << 20.0 << 0.5;
    QTest::newRow("wheel step") << 123.0 << 456.0 << 1.25;
}

void TestViewTransform::zoomAndPan()
{
    QFETCH(double, px);
    QFETCH(double, py);
    QFETCH(double, factor);
    const ViewTransform view(2380000, 5110000, 150, 640, 480);
    double x, y, x2, y2;
    view.PixelToMap(px, py, x, y);

    const ViewTransform around = view.ZoomedAround(px, py, factor);
    QCOMPARE(around.UnitsPerPixel(), 150 / factor);
    around.PixelToMap(px, py, x2, y2);
    QVERIFY(std::abs(x2 - x) < 1e-6 && std::abs(y2 - y) < 1e-6);

    const ViewTransform centred = view.ZoomedCentredOn(px, py, factor);
    QCOMPARE(centred.CentreX(), x);
    QCOMPARE(centred.CentreY(), y);

    // Dragging the picture by (dx, dy) keeps the grabbed map point under the pointer.
    const ViewTransform panned = view.Panned(37, -12);
    panned.PixelToMap(px + 37, py - 12, x2, y2);
    QVERIFY(std::abs(x2 - x) < 1e-6 && std::abs(y2 - y) < 1e-6);
}

QTEST_APPLESS_MAIN(TestViewTransform)
#include "test_viewtransform.moc"
