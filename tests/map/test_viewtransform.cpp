#include "map/ViewTransform.h"

#include <QTest>

using quorvel::MapExtents;
using quorvel::ViewTransform;

Q_DECLARE_METATYPE(MapExtents)

namespace {

bool Near(double a, double b)
{
    return std::abs(a - b) < 1e-6;
}

}  // namespace

class TestViewTransform : public QObject {
    Q_OBJECT

private slots:
    void fit_data()
    {
        QTest::addColumn<MapExtents>("extents");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("unitsPerPixel");
        QTest::newRow("wide extent, wide widget") << MapExtents{0, 1000, 0, 100} << 500 << 300 << 2.0;
        QTest::newRow("tall extent, wide widget") << MapExtents{0, 100, 0, 1000} << 500 << 250 << 4.0;
        QTest::newRow("a point keeps the fallback") << MapExtents{7, 7, 8, 8} << 100 << 100 << 0.5;
        QTest::newRow("zero-size widget") << MapExtents{0, 10, 0, 10} << 0 << 0 << 10.0;
    }
    // The whole of the extents, centred, one scale both ways; the pixel corners
    // are the corners of the view, top-left west-north, and map back.
    void fit()
    {
        QFETCH(MapExtents, extents);
        QFETCH(int, width);
        QFETCH(int, height);
        const ViewTransform view = ViewTransform::Fit(extents, width, height, 0.5);
        QTEST(view.UnitsPerPixel(), "unitsPerPixel");
        QCOMPARE(view.CentreX(), (extents.xMin + extents.xMax) / 2);
        QCOMPARE(view.CentreY(), (extents.yMin + extents.yMax) / 2);
        const MapExtents e = view.Extents();
        QVERIFY(e.xMin <= extents.xMin && e.xMax >= extents.xMax);
        QVERIFY(e.yMin <= extents.yMin && e.yMax >= extents.yMax);
        QCOMPARE((e.xMax - e.xMin) / view.Width(), (e.yMax - e.yMin) / view.Height());
        double x, y, px, py;
        view.PixelToMap(0, 0, x, y);
        QVERIFY(Near(x, e.xMin) && Near(y, e.yMax));
        view.PixelToMap(view.Width(), view.Height(), x, y);
        QVERIFY(Near(x, e.xMax) && Near(y, e.yMin));
        view.PixelToMap(-40, 777, x, y);
        view.MapToPixel(x, y, px, py);
        QVERIFY(Near(px, -40) && Near(py, 777));
    }

    void zoomAndPan()
    {
        for (const auto& [px, py, factor] : {std::tuple{0.0, 0.0, 2.0}, {310.0, 20.0, 0.5}, {123.0, 456.0, 1.25}}) {
            const ViewTransform view(2380000, 5110000, 150, 640, 480);
            double x, y, x2, y2;
            view.PixelToMap(px, py, x, y);
            const ViewTransform around = view.ZoomedAround(px, py, factor);
            QCOMPARE(around.UnitsPerPixel(), 150 / factor);
            around.PixelToMap(px, py, x2, y2);
            QVERIFY(Near(x2, x) && Near(y2, y));

            const ViewTransform centred = view.ZoomedCentredOn(px, py, factor);
            QCOMPARE(centred.UnitsPerPixel(), 150 / factor);
            QCOMPARE(centred.CentreX(), x);
            QCOMPARE(centred.CentreY(), y);

            // Dragging the picture by (dx, dy) keeps the grabbed map point under the pointer.
            view.Panned(37, -12).PixelToMap(px + 37, py - 12, x2, y2);
            QVERIFY(Near(x2, x) && Near(y2, y));
        }
    }
};

QTEST_APPLESS_MAIN(TestViewTransform)
#include "test_viewtransform.moc"
