// The main window over the recording fake map, its message boxes, and Qt's own
// texts, which are Italian whatever the locale: the test runs with LANG=C.
#include <limits>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "maplayers/LayerTable.h"
#include "window/ResultsPane.h"
#include "window/Reporter.h"
#include "window/Translations.h"
#include "rain/Error.h"
#include "rain/PointRain.h"
#include "rain/SampleMark.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;
using namespace quorvel::testing;

class TestWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1Fixture> fx;
    Form1* form = nullptr;

    // A fresh window, not loaded, over a fake region of four districts side by
    // side, 100 km wide each, with the second and third overlapping between
    // x = 190000 and 210000, and a table of three municipalities.
    void Fresh()
    {
        fx.reset();
        fx = std::make_unique<Form1Fixture>();
        FakeMapView& map = fx->map;
        map.shapefiles["Shp/V_ISPETTORATI.shp"] = {
            {{"UD"}, {0, 100000, 0, 100000}, {}},
            {{"TG"}, {100000, 210000, 0, 100000}, {}},
            {{"PN"}, {190000, 300000, 0, 100000}, {}},
            {{"TO"}, {300000, 400000, 0, 100000}, {}},
        };
        map.shapefiles["Shp/comuniPoly.shp"] = {
            {{"Alfa"}, {40000, 44000, 50000, 53000}, {}},
            {{"Beta"}, {230000, 270000, 20000, 60000}, {}},
            {{"Beta"}, {350000, 351000, 1000, 2000}, {}},
        };
        map.shapefiles["Shp/toponomasticaComuni.shp"] = {
            {{"1", "Alfa"}, {10, 30, 100, 140}, {}},
            {{"2", "Beta"}, {500, 500, 600, 600}, {}},
        };
        map.shapefiles["Shp/toponomastica25kdep.shp"] = {{{"Monte Piccolo", "x"}, {7, 9, 3, 5}, {}}};
        map.shapefiles["Shp/V_PROVINCEpoly.shp"] = {{{"P1", "Provincia di Alfa"}, {0, 200000, 0, 100000}, {}}};
        map.images = {"Raster/demTRNSh.ecw", "Raster/UD.tif"};
        fx->WriteTable(ComuniRecord("1", "Alfa", "30001") + "\r\n" + ComuniRecord("2", "Beta", "30002", "PN") +
                       "\r\n" + ComuniRecord("3", "Beta", "30003", "TO") + "\r\n");
        form = &fx->Make();
    }

    QToolButton* Button(const char* name) const { return form->findChild<QToolButton*>(QLatin1String(name)); }
    QComboBox* Combo1() const { return form->findChild<QComboBox*>(QStringLiteral("Combo1")); }
    QLabel* Label(const char* name) const { return form->findChild<QLabel*>(QLatin1String(name)); }
    QString CallsTo(std::initializer_list<std::string_view> names) const
    {
        return QString::fromStdString(fx->map.CallsTo(names));
    }

    // Which tool buttons are pressed; only those of a tool in force may stay so.
    QString PressedTools() const
    {
        QStringList pressed;
        for (const char* name : {"CmdPan", "CmdZoomIn", "CmdZoomOut", "Command3", "Command1", "Command2"})
            if (Button(name)->isChecked())
                pressed << QString::fromLatin1(name);
        return pressed.join(u',');
    }

    static void WriteFile(const char* path, const QByteArray& bytes)
    {
        QFile file(QString::fromUtf8(path));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    }

    // Writes the name in the selector and presses "Visualizzare".
    void Visualize(const QString& name)
    {
        Combo1()->setEditText(name);
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(InstallItalianTranslations(*qApp));
        QCOMPARE(QLineEdit::tr("Select All"), QStringLiteral("Seleziona tutto"));  // a text box's menu
    }
    void init()
    {
        Fresh();
        form->Load();
        fx->map.ClearCalls();
    }
    void cleanup() { fx.reset(); }

    // The layers in the order the rest of the window numbers them, with the
    // names as labels and the province names over a view too wide for others;
    // the load neither moves the view nor refreshes the detail view.
    void load()
    {
        Fresh();
        fx->map.ClearCalls();
        form->Load();
        QVERIFY(fx->map.mapCursor == kArrow && fx->map.cursorMode == kNoTool);
        QCOMPARE(CallsTo({"AddLayer", "SetLayerLineColor", "AddLabel", "SetOverlayLabels", "ZoomToLayer", "ZoomToShape",
                          "SetLayerVisible", "RemoveLayer"}),
                 "AddLayer(image:Raster/demTRNSh.ecw,visible) "
                 "AddLayer(shapefile:Shp/comuniPoly.shp,visible) SetLayerLineColor(1,16711680) "
                 "AddLayer(shapefile:Shp/V_PROVINCEpoly.shp,visible) SetLayerLineColor(2,255) "
                 "AddLayer(shapefile:Shp/toponomasticaComuni.shp,hidden) "
                 "AddLabel(3,Alfa,0,20,120,1,0) AddLabel(3,Beta,0,500,600,1,0) "
                 "AddLayer(shapefile:Shp/toponomastica25kdep.shp,hidden) AddLabel(4,Monte Piccolo,0,8,4,1,0) "
                 "AddLayer(shapefile:Shp/V_ISPETTORATI.shp,hidden) "
                 "AddLayer(image:Raster/UD.tif,hidden) SetOverlayLabels(1,50000)");
        const OverlayLabel& province = fx->map.overlayLabels.at(0);
        QVERIFY(province.text == "Provincia di Alfa" && province.x == 100000 && province.y == 50000);
        // The list keeps the table's duplicates and its empty rows, with nothing chosen.
        QCOMPARE(Combo1()->count(), 219);
        QCOMPARE(Combo1()->itemText(2), QStringLiteral("Beta"));
        QCOMPARE(Combo1()->currentIndex(), -1);

        // Without its table the load fails (the search's "table deleted" case checks the message).
        Fresh();
        fx->RemoveTable();
        QVERIFY_THROWS_EXCEPTION(Error, form->Load());
    }

    // Grids that carry the sample region's mark put the warning on the map;
    // once a grid changes the mark no longer fits, and nothing is shown.
    void sampleNotice()
    {
        for (const bool changed : {false, true}) {
            Fresh();
            QDir().mkpath(QStringLiteral("grd"));
            for (const char* grid : {kA2Raster, kA2Header, kA1Raster, kA1Header, kCvRaster, kCvHeader})
                WriteFile(grid, grid);
            WriteFile(kSampleMarkFile, QByteArray::fromStdString(SampleMarkText("")));
            if (changed)
                WriteFile(kCvRaster, "real");
            fx->map.ClearCalls();
            form->Load();
            QCOMPARE(CallsTo({"SetNotice"}), changed ? QString()
                                                     : QStringLiteral("SetNotice(%1)").arg(QString::fromUtf8(kSampleWarning)));
        }
    }

    // Labels go to the layer at a drawing position, whatever its handle.
    void labelLayerShapesGoesByPosition()
    {
        fx->map.RemoveLayer(0);  // the provinces, handle 2, are now at position 1
        fx->map.ClearCalls();
        LabelLayerShapes(fx->map, 1, 1);
        LabelLayerShapes(fx->map, 7, 0);  // no layer there: nothing to label
        QCOMPARE(CallsTo({"AddLabel"}), "AddLabel(2,Provincia di Alfa,0,1e+05,50000,1,0)");
    }

    // After each move of the view: the names and the district raster each
    // shown in their band of view widths, judged in single precision, and the
    // raster of the district under the view's centre. Outside every district
    // the last one stays; overlapping districts take the first.
    void detailView()
    {
        const struct {
            double x, y, width;
            const char* district;
            bool swapped, names, places, raster;
        } steps[] = {
            {50000, 50000, 50000.01, "UD", false, false, false, false},
            {250000, 50000, 50000.001, "PN", true, true, false, false},
            {250000, 50000, 10000.01, "PN", false, true, false, false},
            {350000, 50000, 10000, "TO", true, false, true, false},
            {500000, -20000, 5000.01, "TO", false, false, true, false},
            {200000, 50000, 5000, "TG", true, false, false, true},
        };
        const QString swap =
            QStringLiteral("RemoveLayer(6) OpenImage(Raster/%1.tif,2,false) AddLayer(image:Raster/%1.tif,hidden) ");
        const QString shown = QStringLiteral("SetLayerVisible(3,%1) SetLayerVisible(4,%2) SetLayerVisible(6,%3)");
        const auto text = [](bool on) { return on ? "true" : "false"; };
        for (const auto& step : steps) {
            fx->map.ClearCalls();
            const double half = step.width / 2;
            fx->map.extents = {step.x - half, step.x + half, step.y - half, step.y + half};
            fx->map.RaiseMouseUp(0, 0);
            QCOMPARE(form->State().distretto, QString::fromLatin1(step.district));
            QCOMPARE(CallsTo({"RemoveLayer", "OpenImage", "AddLayer", "SetLayerVisible"}),
                     (step.swapped ? swap.arg(step.district) : QString()) +
                         shown.arg(text(step.names), text(step.places), text(step.raster)));
        }
        // A finished selection box refreshes the same way.
        fx->map.ClearCalls();
        fx->map.RaiseSelectBoxFinal();
        QCOMPARE(CallsTo({"SetLayerVisible"}), shown.arg("false", "false", "true"));
    }

    void toolButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("pressed");  // after "Pan" was in force
        const QString tool = QStringLiteral("SetSendMouseDown(false) SetMapCursor(2) SetCursorMode(%1)");
        const QString pick = QStringLiteral("SetSendMouseDown(true) SetCursorMode(4) SetMapCursor(3)");
        QTest::newRow("Zoom in") << "CmdZoomIn" << tool.arg(0) << "CmdZoomIn";
        QTest::newRow("Zoom out") << "CmdZoomOut" << tool.arg(1) << "CmdZoomOut";
        QTest::newRow("Pan again stays pressed") << "CmdPan" << tool.arg(2) << "CmdPan";
        QTest::newRow("Zoom alle estensioni: refresh before the reset, no tool")
            << "Command3"
            << "ZoomToLayer(0) SetLayerVisible(3,false) SetLayerVisible(4,false) SetLayerVisible(6,false) " +
                   tool.arg(4)
            << "";
        QTest::newRow("Individuare il punto") << "Command1" << pick << "Command1";
        QTest::newRow("Digitare le coordinate: picking once the dialog is closed") << "Command2" << pick << "Command1";
    }
    void toolButtons()
    {
        QFETCH(QString, button);
        fx->map.layerExtents[0] = {0, 400000, 0, 100000};
        QCOMPARE(PressedTools(), QString());
        QTest::mouseClick(Button("CmdPan"), Qt::LeftButton);
        QCOMPARE(PressedTools(), QStringLiteral("CmdPan"));
        fx->map.ClearCalls();
        QTest::mouseClick(Button(qPrintable(button)), Qt::LeftButton);
        QTEST(CallsTo({"ZoomToLayer", "SetLayerVisible", "SetSendMouseDown", "SetMapCursor", "SetCursorMode"}),
              "calls");
        QTEST(PressedTools(), "pressed");
    }

    void pickStaysInForceAfterADialog_data()
    {
        QTest::addColumn<QString>("opener");   // "pick" or "type"
        QTest::addColumn<QString>("closing");  // what the dialog does to the map before it closes
        for (const char* opener : {"pick", "type"})
            for (const char* closing : {"run", "Annullare", "title bar"})
                QTest::addRow("%s, %s", opener, closing) << opener << closing;
    }
    // A pick opens its dialog on the clicked point in whole metres. The map
    // still picks after either dialog, however it closed: the pointer and the
    // pressed button say so.
    void pickStaysInForceAfterADialog()
    {
        QFETCH(QString, opener);
        QFETCH(QString, closing);
        fx->map.pixelToProj = [](double px, double py, double& x, double& y) {
            x = px < 0 ? 1e12 : 2400000 + px * 10 + 0.5;
            y = 5100000 - py * 10;
        };
        fx->dialogs.whileOpen = [&](MainWindowHost& host) {
            if (closing != "title bar")
                host.Map1().SetMapCursor(kArrow);
            if (closing == "Annullare")
                host.Map1().SetCursorMode(kNoTool);
        };
        fx->map.RaiseMouseDown(1, 1);  // idle: clicks on the map are not reported
        Button(opener == "pick" ? "Command1" : "Command2")->click();
        if (opener == "pick") {
            fx->map.RaiseMouseDown(-1, 0);    // beyond 32 bits: ignored
            fx->map.RaiseMouseDown(3, 4, 2);  // any button picks
        }
        QCOMPARE(fx->dialogs.openings,
                 QStringList{opener == "pick" ? "MapPoint(2400030,5099960)" : "Coordinates"});
        QVERIFY(fx->map.mapCursor == kCrossHair && fx->map.cursorMode == kNoTool);
        QCOMPARE(PressedTools(), QStringLiteral("Command1"));
        fx->dialogs.whileOpen = nullptr;
        fx->map.RaiseMouseDown(20, 20);
        QCOMPARE(fx->dialogs.openings.size(), 2);
    }

    void readOut_data()
    {
        QTest::addColumn<double>("east");
        QTest::addColumn<double>("north");
        QTest::addColumn<QString>("shown");  // east|north|WGS84
        // Under the read-out, the same point in WGS84 (as PROJ's cs2cs gives it
        // with EPSG:1660); nothing far outside Italy or off the map.
        QTest::newRow("in Italy") << 2380000.0 << 5100000.0 << "2380000|5100000|WGS84  46,03908 N  13,19060 E";
        QTest::newRow("halves to even") << 2345678.5 << 2345679.5 << "2345678|2345680|";
        QTest::newRow("negative") << -2.5 << -0.5 << "-2|0|";
        QTest::newRow("32-bit ends") << 2147483647.4 << -2147483648.5 << "2147483647|-2147483648|";
        QTest::newRow("east past 32 bits: no read-out") << 2147483647.5 << 5100000.0 << "||";
        QTest::newRow("north past 32 bits: no read-out") << 2400000.0 << -2147483649.0 << "||";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 1.0 << "||";
    }
    void readOut()
    {
        QFETCH(double, east);
        QFETCH(double, north);
        fx->map.pixelToProj = [](double, double, double& x, double& y) {
            x = 2400000;
            y = 5100000;
        };
        fx->map.RaiseMouseMove(0, 0);  // a read-out for the next one to replace
        fx->map.pixelToProj = [&](double px, double py, double& x, double& y) {
            QVERIFY(px == 12 && py == 34);
            x = east;
            y = north;
        };
        fx->map.RaiseMouseMove(12, 34);
        QTEST(Label("Label1")->text() + u'|' + Label("Label2")->text() + u'|' + Label("LabelWgs84")->text(), "shown");
        // It clears when the pointer leaves the map.
        fx->map.pixelToProj = nullptr;
        fx->map.RaiseMouseMove(12, 34);
        fx->map.RaiseMouseLeave();
        QCOMPARE(Label("Label1")->text() + Label("Label2")->text() + Label("LabelWgs84")->text(), QString());
    }

    // A search reads the table afresh. One that finds nothing, or cannot read
    // the table, says so and leaves the municipality shown and the map as they were.
    void search_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("deleted");   // the table, once "Alfa" is shown
        QTest::addColumn<QString>("state");  // name, OBJECTID, FID, code and province after the search
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("calls");
        // Polygon 1 is 40 km wide and centred in "PN": names shown, raster swapped but hidden.
        QTest::newRow("two of that name: the first row")
            << "Beta" << false << "Beta 2 1 30002 PN" << ""
            << "ZoomToShape(1,1) RemoveLayer(6) OpenImage(Raster/PN.tif,2,false) SetLayerVisible(3,true) "
               "SetLayerVisible(4,false) SetLayerVisible(6,false) SetHighlight(1,1)";
        QTest::newRow("nothing chosen") << "" << false << " 1 0 30001 UD"
                                        << "Scrivere o scegliere il nome di un comune." << "";
        QTest::newRow("table deleted") << "Beta" << true << "Alfa 1 0 30001 UD"
                                       << "File non trovato: dat/comuniPolyRid.dat\nfile o cartella inesistente" << "";
    }
    void search()
    {
        QFETCH(QString, text);
        QFETCH(bool, deleted);
        Visualize(QStringLiteral("Alfa"));
        if (deleted)
            fx->RemoveTable();
        fx->map.ClearCalls();
        Visualize(text);
        const MainWindowState& after = form->State();
        QTEST(QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(after.DENOMINAZIcom).arg(after.OBJECTID).arg(after.FID)
                  .arg(after.CODICE_COM).arg(after.Provincia),
              "state");
        QTEST(fx->reporter.messages.join(u'|'), "message");
        QTEST(CallsTo({"ZoomToShape", "OpenImage", "SetLayerVisible", "RemoveLayer", "SetHighlight"}), "calls");
    }

    // Enter in the box, as people type: the name as listed first, then one
    // name of any case and accents, whole or in part, municipalities and the
    // places of the name layers ("Località (Comune)"). Several open the list,
    // each name once, in the table's order; the one chosen from it with the
    // keys goes into the box as the list writes it and is shown, leaving the
    // list as it was.
    void enter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("box");        // afterwards
        QTest::addColumn<QStringList>("offered"); // the list, when it opens
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("calls");
        const QString marine = QStringLiteral("Santa Mar\u00ecne");
        const QString borgo = QStringLiteral("Borgo Vito (Santa Mar\u00ecne)");
        const QString toBorgo = "ZoomToExtents(39500,44500,48500,53500) SetHighlight(4,1)";
        QTest::newRow("exact") << "Marinella" << "Marinella" << QStringList{} << "" << "ZoomToShape(1,1) SetHighlight(1,1)";
        QTest::newRow("lower case") << "marinella" << "Marinella" << QStringList{} << "" << "ZoomToShape(1,1) SetHighlight(1,1)";
        QTest::newRow("no accent") << "ARCO" << QStringLiteral("\u00c0rco") << QStringList{} << ""
                                   << "ZoomToShape(1,3) SetHighlight(1,3)";
        QTest::newRow("part of a name") << "rinel" << "Marinella" << QStringList{} << "" << "ZoomToShape(1,1) SetHighlight(1,1)";
        QTest::newRow("two candidates") << "mar" << "mar" << QStringList{marine, "Marinella"} << "" << "";
        QTest::newRow("capitals and an accent typed")
            << QStringLiteral("MAR\u00ccNE") << QStringLiteral("MAR\u00ccNE") << QStringList{marine, "Marinella"} << ""
            << "";
        QTest::newRow("a place after the municipality") << "vito" << "vito" << QStringList{"San Vito", borgo} << "" << "";
        QTest::newRow("none") << "zeta" << "zeta" << QStringList{}
                              << "Comune \"zeta\" non trovato: sceglierlo dall'elenco." << "";
        QTest::newRow("a place") << "borgo vito" << borgo << QStringList{} << "" << toBorgo;
        QTest::newRow("a place as listed") << "Borgo Vito (Santa Marine)" << borgo << QStringList{} << "" << toBorgo;
        QTest::newRow("a municipality's own label is the municipality")
            << "san vito" << "San Vito" << QStringList{} << "" << "ZoomToShape(1,2) SetHighlight(1,2)";
    }
    void enter()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, offered);
        Fresh();
        fx->WriteTable(ComuniRecord("1", "Santa Mar\xecne") + "\r\n" + ComuniRecord("2", "Marinella") + "\r\n" +
                       ComuniRecord("3", "San Vito", "3", "PN") + "\r\n" + ComuniRecord("4", "\xc0rco", "4", "TO") +
                       "\r\n" + ComuniRecord("5", "Marinella", "5", "TO") + "\r\n");
        fx->map.shapefiles["Shp/comuniPoly.shp"] = {{{"1"}, {40000, 44000, 50000, 53000}, {}}};
        fx->map.shapefiles["Shp/toponomasticaComuni.shp"] = {{{"3", "San Vito"}, {500, 500, 600, 600}, {}}};
        fx->map.shapefiles["Shp/toponomastica25kdep.shp"] = {{{"Monte Piccolo", "x"}, {7, 9, 3, 5}, {}},
                                                            {{"Borgo Vito", "x"}, {42000, 42000, 51000, 51000}, {}}};
        form->Load();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        fx->map.ClearCalls();
        QLineEdit* box = Combo1()->lineEdit();
        box->setFocus();
        QTest::keyClicks(box, typed);
        Combo1()->completer()->popup()->hide();
        QCOMPARE(QApplication::focusWidget(), Combo1());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTEST(box->text(), "box");
        QTEST(fx->reporter.messages.join(u'|'), "message");
        QTEST(CallsTo({"ZoomToShape", "ZoomToExtents", "SetHighlight"}), "calls");
        QCompleter* completer = Combo1()->completer();
        QCOMPARE(completer->popup()->isVisible(), !offered.isEmpty());
        QStringList shown;
        for (int row = 0; !offered.isEmpty() && row < completer->completionModel()->rowCount(); ++row)
            shown << completer->completionModel()->index(row, 0).data().toString();
        QCOMPARE(shown, offered);
        if (offered.isEmpty())
            return;
        QTest::keyClick(completer->popup(), Qt::Key_Down);
        QCOMPARE(box->text(), offered[0]);
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QCOMPARE(form->State().DENOMINAZIcom, offered[0]);
        QCOMPARE(fx->reporter.messages, QStringList());
        QCOMPARE(Combo1()->count(), 219);
    }

    // One line per layer the map cannot show, with how to convert an ECW that
    // is there; the relief's GeoTIFF stands in for an ECW that cannot be read.
    // Overviews in the making are told too, until they are done.
    void statusLines()
    {
        const std::string ecw = "Raster/demTRNSh.ecw", tif = "Raster/demTRNSh.tif", ud = "Raster/UD.tif";
        const QString cannot =
            QStringLiteral("Impossibile mostrare Raster/demTRNSh.%1 (GDAL: impossibile aprire Raster/demTRNSh.%1).");
        const QString advice = QStringLiteral(
            " Questa versione di GDAL non legge i file ECW: convertirlo in GeoTIFF con GDAL su un sistema che legge "
            "l'ECW, con il comando gdal_translate -of COG demTRNSh.ecw demTRNSh.tif, e copiare demTRNSh.tif nella "
            "stessa cartella.");
        const QString byTif =
            QStringLiteral("Raster/demTRNSh.ecw non si può leggere: il rilievo è mostrato da Raster/demTRNSh.tif.");
        const struct {
            std::vector<std::string> opening;  // images the fake map opens
            QStringList onDisk;                // files in the working folder
            std::string relief;                // layer 0 after the load
            QString text;
        } cases[] = {
            {{ud}, {}, ecw, cannot.arg("ecw")},
            {{ud}, {"Raster/demTRNSh.ecw"}, ecw, cannot.arg("ecw") + advice},
            {{tif, ud}, {"Raster/demTRNSh.ecw", "Raster/demTRNSh.tif"}, tif, byTif},
            {{ud}, {"Raster/demTRNSh.ecw", "Raster/demTRNSh.tif"}, tif, byTif + u'\n' + cannot.arg("tif")},
            {{ecw, tif, ud}, {"Raster/demTRNSh.tif"}, ecw, {}},
        };
        for (const auto& c : cases) {
            Fresh();
            fx->map.images = c.opening;
            QDir().mkpath(QStringLiteral("Raster"));
            for (const QString& file : c.onDisk)
                QVERIFY(QFile(file).open(QIODevice::WriteOnly));  // not a raster
            form->Load();
            QCOMPARE(fx->map.LayerAt(kElevationLayer)->description, "image:" + c.relief);
            QCOMPARE(fx->map.LayerAt(kDistrictRaster)->description, std::string("image:Raster/UD.tif"));
            QCOMPARE(Label("StatusLines")->text(), c.text);
            QCOMPARE(form->statusBar()->isHidden(), c.text.isEmpty());
        }
        fx->map.preparations = {{"Raster/UD.tif", 0.425}};
        fx->map.RaiseMapStatusChanged();
        QCOMPARE(Label("StatusLines")->text(),
                 QStringLiteral("Costruzione delle piramidi di Raster/UD.tif per una visualizzazione rapida: 42%."));
        QVERIFY(!form->statusBar()->isHidden());
        fx->map.preparations.clear();
        fx->map.RaiseMapStatusChanged();
        QVERIFY(form->statusBar()->isHidden());

        // A run shown on the map from its row, in a district whose raster
        // cannot be read, says so at once, not at the next mouse release.
        fx->map.extents = {0, 160000, 0, 100000};  // centred in UD, the run's point in view
        PointRunResult run;
        run.point = {150000, 50000};
        run.rain.centre = {150250, 50250};
        run.outputName = "Piogge";
        form->RunCompleted(run);
        QVERIFY(form->statusBar()->isHidden());
        emit form->Results()->ZoomRequested(run);
        QCOMPARE(form->State().distretto, QStringLiteral("TG"));
        QVERIFY(Label("StatusLines")->text().startsWith(QStringLiteral("Impossibile mostrare Raster/TG.tif")));
        QVERIFY(!form->statusBar()->isHidden());
    }

    // The window opens with the focus, framed, on the municipality's box. The
    // box's list opens as wide as its longest entry, within the window.
    void focusAndFinderList()
    {
        Fresh();
        const QString longest = QStringLiteral("Borgo Brunàs di Sopra lungo il torrente (Villa Quieta del Monte)");
        fx->map.shapefiles["Shp/toponomastica25kdep.shp"] = {{{longest.left(longest.indexOf(u'(') - 1).toStdString(), "x"},
                                                             {42000, 42000, 51000, 51000}, {}}};
        fx->map.shapefiles["Shp/comuniPoly.shp"] = {{{"Villa Quieta del Monte"}, {40000, 44000, 50000, 53000}, {}}};
        fx->WriteTable(ComuniRecord("1", "Villa Quieta del Monte") + "\r\n");
        form->Load();
        form->show();
        QApplication::setActiveWindow(form);
        QVERIFY(QTest::qWaitForWindowActive(form));
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus != nullptr && focus->isVisible());
        QCOMPARE(focus, Combo1());
        QVERIFY(form->testAttribute(Qt::WA_KeyboardFocusChange));

        for (const QSize size : {QSize(800, 600), QSize(1200, 800)}) {
            form->resize(size);
            QTest::keyClicks(Combo1()->lineEdit(), QStringLiteral("bru"));
            QAbstractItemView* list = Combo1()->completer()->popup();
            QTRY_VERIFY(list->isVisible() && list->width() > Combo1()->width());
            QCOMPARE(list->model()->index(0, 0).data().toString(), longest);
            const QRect window(form->mapToGlobal(QPoint(0, 0)), form->size());
            QVERIFY(window.contains(QRect(list->mapToGlobal(QPoint(0, 0)), list->size())));
            QVERIFY(list->width() >= std::min(window.width(), list->fontMetrics().horizontalAdvance(longest)));
            list->hide();
            Combo1()->clearEditText();
        }
    }

    void resized_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("smallestMap");  // with the results pane open
        QTest::newRow("smallest, 800 x 600") << QSize(800, 600) << QSize(480, 300);
        QTest::newRow("default, 977 x 743") << QSize(977, 743) << QSize(600, 450);
        QTest::newRow("large, 1600 x 1000") << QSize(1600, 1000) << QSize(1200, 800);
    }
    // The window opens at the size of its layout, the results pane beside the
    // map. The map takes whatever room a resize gives, never less than its
    // smallest size, and the layers follow the view's new width. Narrower,
    // the logos give way and the other controls close up, still inside the
    // window and clear of the map. Closed, the pane leaves the map the whole
    // width; the "Risultati" button and Ctrl+R bring it back.
    void resized()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, smallestMap);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QCOMPARE(form->size(), QSize(977, 743));
        QCOMPARE(form->minimumSize(), QSize(800, 600));
        QWidget* surface = form->centralWidget();
        QWidget* map1 = surface->findChild<QWidget*>(QStringLiteral("Map1"));
        QWidget* pane = form->Results();
        fx->map.ClearCalls();
        form->resize(size);
        QTRY_COMPARE(surface->size(), size);
        if (size != QSize(977, 743))
            QCOMPARE(CallsTo({"SetLayerVisible"}),
                     "SetLayerVisible(3,false) SetLayerVisible(4,false) SetLayerVisible(6,true)");
        const QRect map(map1->mapTo(surface, QPoint(0, 0)), map1->size());
        QVERIFY2(map.width() >= smallestMap.width() && map.height() >= smallestMap.height(),
                 qPrintable(QStringLiteral("%1 x %2").arg(map.width()).arg(map.height())));
        QCOMPARE(map.topLeft(), QPoint(16, 120));
        QCOMPARE(map.height(), size.height() - 134);
        const QRect beside(pane->mapTo(surface, QPoint(0, 0)), pane->size());
        QVERIFY(pane->isVisible() && beside.left() > map.right() && beside.right() < size.width());
        QStringList shown;
        for (QWidget* control : surface->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (control->isVisible() && control->objectName() != QLatin1String("MapAndResults")) {
                shown << control->objectName();
                QVERIFY2(surface->rect().contains(control->geometry()) && !control->geometry().intersects(map) &&
                             !control->geometry().intersects(beside),
                         qPrintable(control->objectName()));
            }
        }
        for (const char* name : {"Label1", "Label2", "CmdPan", "CmdZoomIn", "CmdZoomOut", "Command3", "Command1",
                                 "Command2", "Combo1", "Command4", "CommandRisultati"})
            QVERIFY2(shown.contains(QLatin1String(name)), name);
        for (const char* logo : {"Picture1", "Picture2", "Label8", "Label9"})
            QCOMPARE(shown.contains(QLatin1String(logo)), size.width() >= 977);

        auto* toggle = surface->findChild<QToolButton*>(QStringLiteral("CommandRisultati"));
        QVERIFY(toggle->isChecked());
        QTest::mouseClick(pane->findChild<QToolButton*>(QStringLiteral("RisultatiClose")), Qt::LeftButton);
        QVERIFY(!pane->isVisible() && !toggle->isChecked());
        QTRY_COMPARE(map1->size(), QSize(size.width() - 32, size.height() - 134));
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(pane->isVisible() && toggle->isChecked());
        QTRY_COMPARE(map1->width(), map.width());
        QTest::keyClick(form, Qt::Key_R, Qt::ControlModifier);
        QVERIFY(!pane->isVisible());
        QTest::keyClick(form, Qt::Key_R, Qt::ControlModifier);
        QVERIFY(pane->isVisible());
        QTRY_COMPARE(map1->width(), map.width());
    }

    void messageBoxes_data()
    {
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("shown");  // title, text and buttons
        QTest::addColumn<bool>("answer");
        QTest::newRow("message") << "OK" << "Quorvel|Eseguito!|OK" << false;
        QTest::newRow("question, Sì") << "Sì" << "Quorvel|Sovrascrivere?|No,Sì" << true;
        QTest::newRow("question, No") << "No" << "Quorvel|Sovrascrivere?|No,Sì" << false;
    }
    void messageBoxes()
    {
        QFETCH(QString, press);
        QString shown;
        // The box is modal: answer it from the event loop it runs.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QStringList buttons;
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                buttons << button->text().remove(u'&');
                if (buttons.last() == press)
                    chosen = button;
            }
            buttons.sort();
            shown = box->windowTitle() + u'|' + box->text() + u'|' + buttons.join(u',');
            chosen->click();
        });
        MessageBoxReporter reporter;
        bool said = false;
        if (press == "OK")
            reporter.Message(form, QStringLiteral("Eseguito!"));
        else
            said = reporter.Ask(form, QStringLiteral("Sovrascrivere?"));
        QTEST(shown, "shown");
        QTEST(said, "answer");
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
