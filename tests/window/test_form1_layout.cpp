#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QSet>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTest>
#include <QToolButton>

#include "window/FormStyle.h"
#include "window/Reporter.h"
#include "window/SvgArt.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;
using namespace quorvel::testing;

class TestForm1Layout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void window();
    void geometry_data();
    void geometry();
    void texts_data();
    void texts();
    void toolButtons_data();
    void toolButtons();
    void pictures_data();
    void pictures();
    void frameLines_data();
    void frameLines();
    void messageBoxes_data();
    void messageBoxes();
    void resized_data();
    void resized();

private:
    Form1Fixture* fixture_ = nullptr;
    Form1* form_ = nullptr;
};

void TestForm1Layout::initTestCase()
{
    fixture_ = new Form1Fixture;
    fixture_->WriteTable(ComuniRecord(1, "Alfa", "1", "UD") + "\r\n");
    // Every layer opens, so no status area is added below the client area.
    fixture_->map.images = {"Raster/demTRNSh.ecw", "Raster/UD.tif"};
    for (const char* name : {"Shp/comuniPoly.shp", "Shp/V_PROVINCEpoly.shp", "Shp/toponomasticaComuni.shp",
                             "Shp/toponomastica25kdep.shp", "Shp/V_ISPETTORATI.shp"})
        fixture_->map.shapefiles[name] = {};
    form_ = &fixture_->MakeAndLoad();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
}

void TestForm1Layout::cleanupTestCase()
{
    delete fixture_;
}

void TestForm1Layout::window()
{
    QCOMPARE(form_->windowTitle(), QStringLiteral("Quorvel 2.0"));
    // It opens at the size of its layout, and the user may resize it.
    QCOMPARE(form_->size(), QSize(977, 743));
    QCOMPARE(form_->minimumSize(), QSize(800, 600));
    QVERIFY(form_->maximumWidth() > 1600 && form_->maximumHeight() > 1000);
    QCOMPARE(form_->centralWidget()->geometry(), QRect(0, 0, 977, 743));
    QVERIFY(!form_->windowIcon().isNull());
    for (const char* name : {"Picture1", "Picture2"})
        QVERIFY(!form_->findChild<QLabel*>(QLatin1String(name))->pixmap().isNull());
}

void TestForm1Layout::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");

    const struct {
        const char* name;
        int l, t, w, h;
    } controls[] = {
        {"Map1", 240, 1800, 14175, 9135},    {"Picture2", 720, 120, 600, 855},
        {"Label9", 180, 960, 1695, 615},     {"Label5", 2400, 600, 1575, 615},
        {"Label3", 4080, 600, 135, 255},     {"Label4", 4080, 960, 135, 255},
        {"Label1", 4320, 600, 975, 255},     {"Label2", 4320, 960, 975, 255},
        {"Label6", 5400, 600, 255, 255},     {"Label7", 5400, 960, 255, 255},
        {"CmdPan", 6000, 600, 615, 615},     {"CmdZoomIn", 6600, 600, 615, 615},
        {"CmdZoomOut", 7200, 600, 615, 615}, {"Command3", 7800, 600, 615, 615},
        {"Command1", 8640, 600, 615, 615},   {"Command2", 9240, 600, 615, 615},
        {"Label10", 10200, 600, 2415, 255},  {"Combo1", 10200, 840, 2415, 315},
        {"Command4", 10920, 1200, 1095, 375}, {"Picture1", 13560, 240, 495, 495},
        {"Label8", 13320, 720, 975, 495},
    };
    for (const auto& c : controls)
        QTest::newRow(c.name) << QString::fromLatin1(c.name) << QRect(c.l, c.t, c.w, c.h);
}

void TestForm1Layout::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QWidget* control = form_->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), form_->centralWidget());
    QCOMPARE(control->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QVERIFY(control->isVisible());
}

void TestForm1Layout::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");

    QTest::newRow("Label9") << "Label9" << "Regione Autonoma Tervania" << 8.25 << true << true;
    QTest::newRow("Label5") << "Label5" << "Coordinate Gauss-Boaga Fuso Est" << 8.25 << true << false;
    QTest::newRow("Label3") << "Label3" << "E" << 9.75 << true << false;
    QTest::newRow("Label4") << "Label4" << "N" << 9.75 << true << false;
    QTest::newRow("Label1") << "Label1" << "" << 9.75 << false << false;
    QTest::newRow("Label2") << "Label2" << "" << 9.75 << false << false;
    QTest::newRow("Label6") << "Label6" << "m" << 8.25 << true << false;
    QTest::newRow("Label7") << "Label7" << "m" << 8.25 << true << false;
    QTest::newRow("Label10") << "Label10" << "Selezionare il comune" << 8.25 << true << false;
    QTest::newRow("Label8") << "Label8" << "Quorvel" << 8.25 << true << true;
    QTest::newRow("Command4") << "Command4" << "Visualizzare" << 8.25 << false << false;
}

void TestForm1Layout::texts()
{
    QFETCH(QString, name);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QWidget* control = form_->findChild<QWidget*>(name);
    QVERIFY(control);
    if (auto* label = qobject_cast<QLabel*>(control))
        QTEST(label->text(), "text");
    else
        QTEST(qobject_cast<QPushButton*>(control)->text(), "text");
    QCOMPARE(control->font().family(), FormFontFamily());
    QCOMPARE(control->font().pointSizeF(), points);
    QCOMPARE(control->font().bold(), bold);
    QCOMPARE(control->font().italic(), italic);
}

void TestForm1Layout::toolButtons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("CmdPan") << "CmdPan" << "Pan";
    QTest::newRow("CmdZoomIn") << "CmdZoomIn" << "Zoom in";
    QTest::newRow("CmdZoomOut") << "CmdZoomOut" << "Zoom out";
    QTest::newRow("Command3") << "Command3" << "Zoom alle estensioni";
    QTest::newRow("Command1") << "Command1" << "Individuare il punto sulla cartografia";
    QTest::newRow("Command2") << "Command2" << "Digitare le coordinate del punto";
}

void TestForm1Layout::toolButtons()
{
    QFETCH(QString, name);
    auto* button = form_->findChild<QToolButton*>(name);
    QVERIFY(button);
    QTEST(button->toolTip(), "tooltip");
    QVERIFY(button->text().isEmpty() || button->toolButtonStyle() == Qt::ToolButtonIconOnly);
    QVERIFY(!button->icon().pixmap(32, 32).isNull());
}

void TestForm1Layout::pictures_data()
{
    QTest::addColumn<QString>("resource");
    for (const char* name : {"pan", "zoom-in", "zoom-out", "full-extent", "pick", "type-coords", "emblem", "cloud"})
        QTest::newRow(name) << QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
}

void TestForm1Layout::pictures()
{
    QFETCH(QString, resource);
    QVERIFY(QFile::exists(resource));
    QSvgRenderer renderer(resource);
    QVERIFY(renderer.isValid());
    // Something is drawn in the middle, not just a transparent box.
    const QImage image = SvgPixmap(resource, QSize(41, 41)).toImage();
    QVERIFY(qAlpha(image.pixel(20, 20)) > 0);
}

void TestForm1Layout::frameLines_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::newRow("map frame, left, outside the map") << QPoint(14, 400);
    QTest::newRow("map frame, top, outside the map") << QPoint(400, 118);
    QTest::newRow("map frame, bottom, below the map") << QPoint(400, 730);
    QTest::newRow("map frame, right, beside the map") << QPoint(962, 400);
    QTest::newRow("read-out frame, top") << QPoint(200, 32);
    QTest::newRow("read-out frame, right") << QPoint(384, 70);
    QTest::newRow("tool frame, bottom") << QPoint(500, 88);
    QTest::newRow("selector frame, left") << QPoint(672, 100);
    QTest::newRow("selector frame, bottom") << QPoint(800, 112);
}

void TestForm1Layout::frameLines()
{
    QFETCH(QPoint, pixel);
    const QImage image = form_->centralWidget()->grab().toImage();
    const QColor colour = image.pixelColor(pixel);
    QVERIFY2(colour.lightness() < 60, qPrintable(colour.name()));
}

void TestForm1Layout::messageBoxes_data()
{
    QTest::addColumn<QString>("press");  // empty: a message, not a question
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<bool>("answer");
    QTest::newRow("message") << "" << QStringList{"OK"} << false;
    QTest::newRow("question, S\u00EC") << QString::fromUtf8("Sì") << QStringList{QString::fromUtf8("Sì"), "No"} << true;
    QTest::newRow("question, No") << "No" << QStringList{QString::fromUtf8("Sì"), "No"} << false;
}

void TestForm1Layout::messageBoxes()
{
    QFETCH(QString, press);
    QFETCH(QStringList, buttons);
    QFETCH(bool, answer);
    QString title;
    QString text;
    QStringList shown;
    // The box is modal: answer it from the event loop it runs.
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton* button : box->buttons())
            shown << button->text().remove(u'&');
        for (QAbstractButton* button : box->buttons()) {
            if (press.isEmpty() || button->text().remove(u'&') == press) {
                button->click();
                break;
            }
        }
    });
    MessageBoxReporter reporter;
    bool said = false;
    if (press.isEmpty())
        reporter.Message(form_, QStringLiteral("Eseguito!"));
    else
        said = reporter.Ask(form_, QStringLiteral("Sovrascrivere?"));
    QCOMPARE(title, QStringLiteral("Quorvel"));
    QCOMPARE(text, press.isEmpty() ? QStringLiteral("Eseguito!") : QStringLiteral("Sovrascrivere?"));
    shown.sort();
    buttons.sort();
    QCOMPARE(shown, buttons);
    QCOMPARE(said, answer);
}

// The controls shown above the map, by name, with their places.
static QMap<QString, QRect> ShownControls(QWidget* surface)
{
    QMap<QString, QRect> shown;
    for (QWidget* control : surface->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control->isVisible() && control->objectName() != QStringLiteral("Map1"))
            shown.insert(control->objectName(), control->geometry());
    return shown;
}

static QSet<QString> Overlaps(const QMap<QString, QRect>& controls)
{
    QSet<QString> pairs;
    for (auto a = controls.begin(); a != controls.end(); ++a)
        for (auto b = std::next(a); b != controls.end(); ++b)
            if (a.value().intersects(b.value()))
                pairs.insert(a.key() + u'+' + b.key());
    return pairs;
}

void TestForm1Layout::resized_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("smallest, 800 x 600") << QSize(800, 600);
    QTest::newRow("large, 1600 x 1000") << QSize(1600, 1000);
}

void TestForm1Layout::resized()
{
    QFETCH(QSize, size);
    QWidget* surface = form_->centralWidget();
    // Each logo touches its caption by a pixel in the layout itself; nothing else may overlap.
    const QSet<QString> designed = Overlaps(ShownControls(surface));
    const QMap<QString, QRect> before = ShownControls(surface);

    form_->resize(size);
    QTRY_COMPARE(surface->size(), size);
    const QMap<QString, QRect> shown = ShownControls(surface);
    const QRect map = surface->findChild<QWidget*>(QStringLiteral("Map1"))->geometry();
    QCOMPARE(map, QRect(16, 120, size.width() - 32, size.height() - 134));
    for (const char* name : {"Label1", "Label2", "CmdPan", "CmdZoomIn", "CmdZoomOut", "Command3", "Command1",
                             "Command2", "Combo1", "Command4"})
        QVERIFY2(shown.contains(QLatin1String(name)), name);
    for (auto control = shown.begin(); control != shown.end(); ++control) {
        QVERIFY2(surface->rect().contains(control.value()), qPrintable(control.key()));
        QVERIFY2(!control.value().intersects(map), qPrintable(control.key()));
        // A larger window keeps the controls in their places.
        if (size.width() > 977)
            QCOMPARE(control.value(), before.value(control.key()));
    }
    QVERIFY(designed.contains(Overlaps(shown)));
    // The frame lines follow: the map's right and bottom edges, and the read-out's left one.
    const QImage image = surface->grab().toImage();
    QVERIFY(image.pixelColor(map.right() + 2, map.center().y()).lightness() < 60);
    QVERIFY(image.pixelColor(map.center().x(), map.bottom() + 2).lightness() < 60);
    QVERIFY(image.pixelColor(shown.value(QStringLiteral("Label5")).left() - 8, 40).lightness() < 60);

    form_->resize(977, 743);
    QTRY_COMPARE(surface->size(), QSize(977, 743));
}

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
