#include <QLabel>
#include <QMap>
#include <QSet>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "window/FormStyle.h"
#include "window/Reporter.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;
using namespace quorvel::testing;

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

class TestForm1Layout : public QObject {
    Q_OBJECT

    Form1Fixture fixture_;
    Form1* form_ = nullptr;

private slots:
    void initTestCase()
    {
        fixture_.WriteTable(ComuniRecord(1, "Alfa", "1", "UD") + "\r\n");
        // Every layer opens, so no status area takes room from the client area.
        fixture_.map.images = {"Raster/demTRNSh.ecw", "Raster/UD.tif"};
        for (const char* name : {"Shp/comuniPoly.shp", "Shp/V_PROVINCEpoly.shp", "Shp/toponomasticaComuni.shp",
                                 "Shp/toponomastica25kdep.shp", "Shp/V_ISPETTORATI.shp"})
            fixture_.map.shapefiles[name] = {};
        form_ = &fixture_.MakeAndLoad();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        QCOMPARE(form_->windowTitle(), QStringLiteral("Quorvel 2.0"));
        // It opens at the size of its layout, and the user may resize it.
        QCOMPARE(form_->size(), QSize(977, 743));
        QCOMPARE(form_->minimumSize(), QSize(800, 600));
        QVERIFY(form_->maximumWidth() > 1600 && form_->maximumHeight() > 1000);
        QVERIFY(!form_->windowIcon().isNull());
    }

    // Positions in twips, fonts, texts and tooltips of a sample of the controls.
    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("text");  // a tool button's tooltip
        QTest::addColumn<qreal>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("Map1") << "Map1" << QRect(240, 1800, 14175, 9135) << QString() << 0.0 << false << false;
        QTest::newRow("Label9") << "Label9" << QRect(180, 960, 1695, 615) << "Regione Autonoma Tervania" << 8.25
                                << true << true;
        QTest::newRow("Command1") << "Command1" << QRect(8640, 600, 615, 615)
                                  << "Individuare il punto sulla cartografia" << 0.0 << false << false;
        QTest::newRow("Command4") << "Command4" << QRect(10920, 1200, 1095, 375) << "Visualizzare" << 8.25 << false
                                  << false;
        QTest::newRow("Picture1") << "Picture1" << QRect(13560, 240, 495, 495) << QString() << 0.0 << false << false;
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, text);
        QFETCH(qreal, points);
        QWidget* control = form_->findChild<QWidget*>(name);
        QVERIFY(control && control->isVisible());
        QCOMPARE(control->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
        if (auto* label = qobject_cast<QLabel*>(control))
            QVERIFY(text.isNull() ? !label->pixmap().isNull() : label->text() == text);
        if (auto* button = qobject_cast<QPushButton*>(control))
            QCOMPARE(button->text(), text);
        if (auto* tool = qobject_cast<QToolButton*>(control)) {
            QCOMPARE(tool->toolTip(), text);
            QVERIFY(!tool->icon().pixmap(32, 32).isNull());
        }
        if (points > 0) {
            QCOMPARE(control->font().family(), FormFontFamily());
            QCOMPARE(control->font().pointSizeF(), points);
            QTEST(control->font().bold(), "bold");
            QTEST(control->font().italic(), "italic");
        }
    }

    void resized_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smallest, 800 x 600") << QSize(800, 600);
        QTest::newRow("large, 1600 x 1000") << QSize(1600, 1000);
    }
    void resized()
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

    void messageBoxes_data()
    {
        QTest::addColumn<QString>("press");  // empty: a message, not a question
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("answer");
        QTest::newRow("message") << "" << QStringList{"OK"} << false;
        QTest::newRow("question, S\u00EC") << QString::fromUtf8("Sì") << QStringList{"No", QString::fromUtf8("Sì")}
                                            << true;
        QTest::newRow("question, No") << "No" << QStringList{"No", QString::fromUtf8("Sì")} << false;
    }
    void messageBoxes()
    {
        QFETCH(QString, press);
        QFETCH(QStringList, buttons);
        QFETCH(bool, answer);
        QString title, text;
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
            for (QAbstractButton* button : box->buttons())
                if (press.isEmpty() || button->text().remove(u'&') == press) {
                    button->click();
                    break;
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
        QCOMPARE(shown, buttons);
        QCOMPARE(said, answer);
    }
};

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
