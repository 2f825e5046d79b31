#include <cmath>
#include <limits>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include "window/LayerTable.h"
#include "rain/Error.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;
using namespace quorvel::testing;
using Calls = std::vector<std::string>;

Q_DECLARE_METATYPE(Calls)

namespace {

// Four districts side by side, 100 km wide each, with shapes 1 and 2 overlapping
// between x = 190000 and 210000.
std::vector<FakeShape> Districts()
{
    return {
        {{"UD"}, {0, 100000, 0, 100000}, {}},
        {{"TG"}, {100000, 210000, 0, 100000}, {}},
        {{"PN"}, {190000, 300000, 0, 100000}, {}},
        {{"TO"}, {300000, 400000, 0, 100000}, {}},
    };
}

// A view of the given width centred on (x, y).
MapExtents ViewAt(double x, double y, double width)
{
    return {x - width / 2, x + width / 2, y - width / 2, y + width / 2};
}

QByteArray ThreeMunicipalities()
{
    return ComuniRecord(1, "Alfa", "30001", "UD") + "\r\n" + ComuniRecord(2, "Beta", "30002", "PN") + "\r\n" +
           ComuniRecord(3, "Beta", "30003", "TO") + "\r\n";
}

void SetUpRegion(FakeMapView& map)
{
    map.shapefiles["Shp/V_ISPETTORATI.shp"] = Districts();
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
}

QToolButton* Button(Form1& form, const char* name)
{
    return form.findChild<QToolButton*>(QString::fromLatin1(name));
}

QComboBox* Combo1(Form1& form)
{
    return form.findChild<QComboBox*>(QStringLiteral("Combo1"));
}

// The tool buttons that stay pressed while their tool is in force, and which of them are.
QString PressedTools(Form1& form)
{
    QStringList pressed;
    for (const char* name : {"CmdPan", "CmdZoomIn", "CmdZoomOut", "Command1"})
        if (Button(form, name)->isChecked())
            pressed << QString::fromLatin1(name);
    return pressed.join(u',');
}

// Chooses list entry index (-1: none) and presses "Visualizzare".
void Visualize(Form1& form, int index)
{
    Combo1(form)->setCurrentIndex(index);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
}

}  // namespace

class TestForm1Fake : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1Fixture> fx;
    Form1* form = nullptr;

    // A fresh fake region and window, not loaded.
    Form1& Fresh()
    {
        fx.reset();
        fx = std::make_unique<Form1Fixture>();
        SetUpRegion(fx->map);
        fx->WriteTable(ThreeMunicipalities());
        return fx->Make();
    }

private slots:
    void init()
    {
        Fresh().Load();
        fx->map.ClearCalls();
        form = fx->form.get();
    }
    void cleanup() { fx.reset(); }

    void load()
    {
        Form1& fresh = Fresh();
        QCOMPARE(fx->map.backColor, Rgb(192, 192, 192));
        fx->map.ClearCalls();
        fresh.Load();
        const Calls expected = {
            "SetMapCursor(2)",
            "SetCursorMode(4)",
            "SetSendMouseDown(false)",
            "SetSendMouseMove(true)",
            "SetSendMouseUp(true)",
            "SetSendSelectBoxFinal(true)",
            "OpenImage(Raster/demTRNSh.ecw,2,false)",
            "AddLayer(image:Raster/demTRNSh.ecw,visible)",
            "OpenShapefile(Shp/comuniPoly.shp)",
            "AddLayer(shapefile:Shp/comuniPoly.shp,visible)",
            "SetLayerLineColor(1,16711680)",
            "SetLayerLineWidth(1,1)",
            "OpenShapefile(Shp/V_PROVINCEpoly.shp)",
            "AddLayer(shapefile:Shp/V_PROVINCEpoly.shp,visible)",
            "SetLayerLineColor(2,255)",
            "SetLayerLineWidth(2,1)",
            "OpenShapefile(Shp/toponomasticaComuni.shp)",
            "AddLayer(shapefile:Shp/toponomasticaComuni.shp,hidden)",
            "LayerHandle(3)",
            "GetLayerObject(3)",
            "AddLabel(3,Alfa,0,20,120,1,0)",
            "AddLabel(3,Beta,0,500,600,1,0)",
            "OpenShapefile(Shp/toponomastica25kdep.shp)",
            "AddLayer(shapefile:Shp/toponomastica25kdep.shp,hidden)",
            "LayerHandle(4)",
            "GetLayerObject(4)",
            "AddLabel(4,Monte Piccolo,0,8,4,1,0)",
            "OpenShapefile(Shp/V_ISPETTORATI.shp)",
            "AddLayer(shapefile:Shp/V_ISPETTORATI.shp,hidden)",
            "OpenImage(Raster/UD.tif,2,false)",
            "AddLayer(image:Raster/UD.tif,hidden)",
            "GetLayerObject(2)",
            "SetOverlayLabels(1,50000)",
        };
        QCOMPARE(fx->map.CallsTo({"SetMapCursor", "SetCursorMode", "SetSendMouseDown", "SetSendMouseMove",
                                "SetSendMouseUp", "SetSendSelectBoxFinal", "OpenImage", "OpenShapefile", "AddLayer",
                                "SetLayerLineColor", "SetLayerLineWidth", "LayerHandle", "GetLayerObject",
                                "AddLabel", "SetOverlayLabels"}),
                 expected);
        // The province names, over the view when it is too wide for any other names.
        QCOMPARE(fx->map.overlayLabels.size(), std::size_t(1));
        QCOMPARE(fx->map.overlayLabels[0].text, std::string("Provincia di Alfa"));
        QCOMPARE(fx->map.overlayLabels[0].x, 100000.0);
        QCOMPARE(fx->map.overlayLabels[0].y, 50000.0);
        // The load neither moves the view nor refreshes the detail view.
        QVERIFY(fx->map.CallsTo({"ZoomToLayer", "ZoomToShape", "SetLayerVisible", "RemoveLayer"}).empty());
        QCOMPARE(fx->map.LayerCount(), 7);
        QCOMPARE(fresh.State().distretto, QStringLiteral("UD"));
        QComboBox* combo = Combo1(fresh);
        QCOMPARE(combo->count(), 219);
        QCOMPARE(combo->itemText(2), QStringLiteral("Beta"));
        QCOMPARE(combo->itemText(218), QString());
        QCOMPARE(combo->currentIndex(), -1);

        // Without its table the load fails and says which file.
        Fresh();
        fx->RemoveTable();
        try {
            fx->form->Load();
            QFAIL("the load must fail without its table");
        } catch (const Error& error) {
            QCOMPARE(QString::fromStdString(ItalianMessage(error)),
                     QStringLiteral("File non trovato: dat/comuniPolyRid.dat"));
        }
    }

    // Labels go to the layer at a drawing position, whatever its handle.
    void labelLayerShapesGoesByPosition()
    {
        FakeMapView map;
        map.shapefiles["b.shp"] = {{{"x", "Bravo"}, {0, 10, 0, 20}, {}}};
        for (const char* name : {"a.shp", "c.shp", "b.shp"}) {
            auto shapes = map.NewShapefile();
            shapes->OpenShapefile(name);
            map.AddLayer(std::move(shapes), true);
        }
        map.RemoveLayer(0);
        auto shapes = map.NewShapefile();
        shapes->OpenShapefile("b.shp");
        QCOMPARE(map.AddLayer(std::move(shapes), false), 0);  // lowest free handle, top position
        map.ClearCalls();
        LabelLayerShapes(map, 2, 1);
        LabelLayerShapes(map, 7, 0);  // no layer there: nothing to label
        QCOMPARE(map.CallsTo({"AddLabel"}), (Calls{"AddLabel(0,Bravo,0,5,10,1,0)"}));
    }

    void visibilityBands_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<bool>("names");
        QTest::addColumn<bool>("places");
        QTest::addColumn<bool>("raster");
        QTest::newRow("50000.01") << 50000.01 << false << false << false;
        QTest::newRow("50000.001 is 50000 in single precision") << 50000.001 << true << false << false;
        QTest::newRow("10000.01") << 10000.01 << true << false << false;
        QTest::newRow("10000") << 10000.0 << false << true << false;
        QTest::newRow("5000.01") << 5000.01 << false << true << false;
        QTest::newRow("5000") << 5000.0 << false << false << true;
    }
    void visibilityBands()
    {
        QFETCH(double, width);
        QFETCH(bool, names);
        QFETCH(bool, places);
        QFETCH(bool, raster);
        fx->map.extents = {50000, 50000 + width, 40000, 40000 + width / 2};
        fx->map.RaiseMouseUp(10, 10);
        const auto text = [](int layer, bool on) {
            return "SetLayerVisible(" + std::to_string(layer) + "," + (on ? "true" : "false") + ")";
        };
        QCOMPARE(fx->map.CallsTo({"SetLayerVisible"}), (Calls{text(3, names), text(4, places), text(6, raster)}));
        // The first refresh in the district loaded at start loads nothing new.
        QVERIFY(fx->map.CallsTo({"RemoveLayer", "OpenImage"}).empty());
        // A finished selection box refreshes the same way.
        fx->map.ClearCalls();
        fx->map.RaiseSelectBoxFinal();
        QCOMPARE(fx->map.CallsTo({"SetLayerVisible"}).size(), std::size_t(3));
    }

    // The detail raster follows the district under the view's centre; outside
    // every district the last one stays, and overlapping districts take the first.
    void districts()
    {
        const struct {
            double x, y, width;
            const char* district;
            std::size_t tests;
            bool swapped;
        } steps[] = {{250000, 50000, 80000, "PN", 3, true},   {250000, 50000, 5000, "PN", 3, false},
                     {350000, 50000, 20000, "TO", 4, true},   {500000, -20000, 4000, "TO", 4, false},
                     {200000, 50000, 3000, "TG", 2, true}};
        for (const auto& step : steps) {
            fx->map.ClearCalls();
            fx->map.extents = ViewAt(step.x, step.y, step.width);
            fx->map.RaiseMouseUp(0, 0);
            QCOMPARE(form->State().distretto, QString::fromLatin1(step.district));
            QCOMPARE(fx->map.CallsTo({"ShapeContainsPoint"}).size(), step.tests);
            const std::string raster = std::string("Raster/") + step.district + ".tif";
            QCOMPARE(fx->map.CallsTo({"RemoveLayer", "OpenImage", "AddLayer"}),
                     step.swapped ? (Calls{"RemoveLayer(6)", "OpenImage(" + raster + ",2,false)",
                                           "AddLayer(image:" + raster + ",hidden)"})
                                  : Calls{});
            QCOMPARE(fx->map.LayerAt(6)->description, "image:" + raster);
            QCOMPARE(fx->map.LayerAt(6)->visible, step.width <= 5000);
            QCOMPARE(fx->map.LayerCount(), 7);
        }
    }

    void toolButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<Calls>("expected");
        QTest::addColumn<QString>("pressed");  // after "Pan" was in force
        QTest::newRow("Zoom in") << "CmdZoomIn"
                                 << Calls{"SetSendMouseDown(false)", "SetMapCursor(2)", "SetCursorMode(0)"} << "CmdZoomIn";
        QTest::newRow("Zoom out") << "CmdZoomOut"
                                  << Calls{"SetSendMouseDown(false)", "SetMapCursor(2)", "SetCursorMode(1)"}
                                  << "CmdZoomOut";
        QTest::newRow("Pan again stays pressed")
            << "CmdPan" << Calls{"SetSendMouseDown(false)", "SetMapCursor(2)", "SetCursorMode(2)"} << "CmdPan";
        QTest::newRow("Zoom alle estensioni: refresh before the reset, no tool")
            << "Command3"
            << Calls{"ZoomToLayer(0)",          "SetLayerVisible(3,false)", "SetLayerVisible(4,false)",
                     "SetLayerVisible(6,false)", "SetSendMouseDown(false)", "SetMapCursor(2)",
                     "SetCursorMode(4)"}
            << "";
        QTest::newRow("Individuare il punto")
            << "Command1" << Calls{"SetSendMouseDown(true)", "SetCursorMode(4)", "SetMapCursor(3)"} << "Command1";
        QTest::newRow("Digitare le coordinate: picking once the dialog is closed")
            << "Command2" << Calls{"SetSendMouseDown(true)", "SetCursorMode(4)", "SetMapCursor(3)"} << "Command1";
    }
    void toolButtons()
    {
        QFETCH(QString, button);
        QFETCH(Calls, expected);
        fx->map.layerExtents[0] = {0, 400000, 0, 100000};
        QCOMPARE(PressedTools(*form), QString());
        QTest::mouseClick(Button(*form, "CmdPan"), Qt::LeftButton);
        QCOMPARE(PressedTools(*form), QStringLiteral("CmdPan"));
        fx->map.ClearCalls();
        QTest::mouseClick(form->findChild<QToolButton*>(button), Qt::LeftButton);
        QCOMPARE(fx->map.CallsTo({"ZoomToLayer", "SetLayerVisible", "SetSendMouseDown", "SetMapCursor",
                                  "SetCursorMode"}),
                 expected);
        QTEST(PressedTools(*form), "pressed");
        QVERIFY(!Button(*form, "Command3")->isChecked() && !Button(*form, "Command2")->isChecked());
    }

    void pickingReportsTheClickedPoint()
    {
        fx->map.pixelToProj = [](double px, double py, double& x, double& y) {
            x = px < 0 ? 1e12 : 2400000 + px * 10 + 0.5;
            y = 5100000 - py * 10;
        };
        fx->map.RaiseMouseDown(1, 1);  // idle: clicks on the map are not reported
        Button(*form, "Command1")->click();
        fx->map.RaiseMouseDown(-1, 0);    // beyond 32 bits: ignored
        fx->map.RaiseMouseDown(3, 4, 2);  // any button picks
        QCOMPARE(fx->dialogs.openings, QStringList{"MapPoint(2400030,5099960)"});
        QCOMPARE(form->State().pEoutlet, QStringLiteral("2400030"));
        QCOMPARE(form->State().pNOutlet, QStringLiteral("5099960"));
        QVERIFY(fx->reporter.messages.isEmpty());
    }

    void pickStaysInForceAfterADialog_data()
    {
        QTest::addColumn<QString>("opener");   // "pick" or "type"
        QTest::addColumn<QString>("closing");  // what the dialog does to the map before it closes
        for (const char* opener : {"pick", "type"})
            for (const char* closing : {"run", "Annullare", "title bar"})
                QTest::addRow("%s, %s", opener, closing) << opener << closing;
    }
    // The map still picks after either dialog, however it closed: the pointer
    // and the pressed button say so.
    void pickStaysInForceAfterADialog()
    {
        QFETCH(QString, opener);
        QFETCH(QString, closing);
        fx->dialogs.whileOpen = [&](MainWindowHost& host) {
            if (closing != "title bar")
                host.Map1().SetMapCursor(kArrow);
            if (closing == "Annullare")
                host.Map1().SetCursorMode(kNoTool);
        };
        Button(*form, opener == "pick" ? "Command1" : "Command2")->click();
        if (opener == "pick")
            fx->map.RaiseMouseDown(10, 10);
        QCOMPARE(fx->dialogs.openings.size(), 1);
        QCOMPARE(fx->map.mapCursor, int(kCrossHair));
        QCOMPARE(fx->map.cursorMode, int(kNoTool));
        QCOMPARE(PressedTools(*form), QStringLiteral("Command1"));
        fx->dialogs.whileOpen = nullptr;
        fx->map.RaiseMouseDown(20, 20);
        QCOMPARE(fx->dialogs.openings.size(), 2);
    }

    void readOut_data()
    {
        QTest::addColumn<double>("east");
        QTest::addColumn<double>("north");
        QTest::addColumn<QString>("eastText");
        QTest::addColumn<QString>("northText");
        QTest::newRow("halves to even") << 2345678.5 << 2345679.5 << "2345678" << "2345680";
        QTest::newRow("negative") << -2.5 << -0.5 << "-2" << "0";
        QTest::newRow("32-bit ends") << 2147483647.4 << -2147483648.5 << "2147483647" << "-2147483648";
        QTest::newRow("east past 32 bits: no read-out") << 2147483647.5 << 5100000.0 << "" << "";
        QTest::newRow("north past 32 bits: no read-out") << 2400000.0 << -2147483649.0 << "" << "";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 1.0 << "" << "";
    }
    // The read-out follows the mouse whatever the tool.
    void readOut()
    {
        QFETCH(double, east);
        QFETCH(double, north);
        Button(*form, "CmdZoomIn")->click();
        fx->map.pixelToProj = [](double, double, double& x, double& y) { x = y = 1; };
        fx->map.RaiseMouseMove(0, 0);
        fx->map.pixelToProj = [&](double px, double py, double& x, double& y) {
            QVERIFY(px == 12 && py == 34);
            x = east;
            y = north;
        };
        fx->map.RaiseMouseMove(12, 34);
        QTEST(form->findChild<QLabel*>(QStringLiteral("Label1"))->text(), "eastText");
        QTEST(form->findChild<QLabel*>(QStringLiteral("Label2"))->text(), "northText");
        // It clears when the pointer leaves the map.
        fx->map.pixelToProj = nullptr;
        fx->map.RaiseMouseMove(12, 34);
        fx->map.RaiseMouseLeave();
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("Label1"))->text() +
                     form->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
                 QString());
    }

    void search()
    {
        Visualize(*form, 2);  // the second "Beta": the first row of that name is found
        const MainWindowState& state = form->State();
        QCOMPARE(state.DENOMINAZIcom, QStringLiteral("Beta"));
        QCOMPARE(int(state.OBJECTID), 2);
        QCOMPARE(int(state.FID), 1);
        QCOMPARE(int(state.CODICE_COM), 30002);
        QCOMPARE(state.Provincia, QStringLiteral("PN"));
        // Polygon 1 is 40 km wide and centred in "PN": names shown, raster swapped but hidden.
        QCOMPARE(fx->map.CallsTo({"ZoomToShape", "OpenImage", "SetLayerVisible", "SetHighlight"}),
                 (Calls{"ZoomToShape(1,1)", "OpenImage(Raster/PN.tif,2,false)", "SetLayerVisible(3,true)",
                        "SetLayerVisible(4,false)", "SetLayerVisible(6,false)", "SetHighlight(1,1)"}));
        QCOMPARE(state.distretto, QStringLiteral("PN"));

        // Each search reads the file afresh; the list stays as loaded.
        fx->WriteTable(ComuniRecord(3, "Alfa", "4000", "TO") + "\r\n");
        Visualize(*form, 0);
        QCOMPARE(int(form->State().FID), 2);
        QCOMPARE(int(form->State().CODICE_COM), 4000);
        QCOMPARE(Combo1(*form)->itemText(1), QStringLiteral("Beta"));
        QVERIFY(fx->reporter.messages.isEmpty());
    }

    // A search that finds nothing, or cannot read the table, says so and
    // leaves the municipality shown and the map as they were.
    void searchFailureChangesNothingElse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("table");  // "-": the file is deleted; empty: left as loaded
        QTest::addColumn<QString>("name");      // the name the state keeps
        QTest::addColumn<QString>("message");   // how the message starts
        QTest::newRow("nothing chosen") << "" << QByteArray() << "" << "Scrivere o scegliere il nome di un comune.";
        QTest::newRow("only the case differs")
            << "alfa" << QByteArray() << "alfa" << "Comune \"alfa\" non trovato: sceglierlo dall'elenco.";
        QTest::newRow("trailing space")
            << "Alfa " << QByteArray() << "Alfa " << "Comune \"Alfa \" non trovato: sceglierlo dall'elenco.";
        QTest::newRow("table deleted") << "Beta" << QByteArray("-") << "Alfa"
                                       << "File non trovato: dat/comuniPolyRid.dat";
        QTest::newRow("220 lines") << "Beta" << QByteArray("\r\n").repeated(220) << "Alfa"
                                   << "Indice non compreso nell'intervallo: dat/comuniPolyRid.dat";
    }
    void searchFailureChangesNothingElse()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, table);
        QFETCH(QString, message);
        Visualize(*form, 0);
        const MapExtents view = fx->map.extents;
        if (table == "-")
            fx->RemoveTable();
        else if (!table.isEmpty())
            fx->WriteTable(table);
        fx->map.ClearCalls();
        Combo1(*form)->setEditText(text);
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);

        QCOMPARE(fx->reporter.messages.size(), 1);
        QVERIFY2(fx->reporter.messages[0].startsWith(message), qPrintable(fx->reporter.messages[0]));
        const MainWindowState& after = form->State();
        QTEST(after.DENOMINAZIcom, "name");
        QCOMPARE(int(after.OBJECTID), 1);
        QCOMPARE(int(after.FID), 0);
        QCOMPARE(after.Provincia, QStringLiteral("UD"));
        QVERIFY(fx->map.CallsTo({"ZoomToShape", "SetLayerVisible", "RemoveLayer", "SetHighlight"}).empty());
        QVERIFY(fx->map.extents == view);
        QVERIFY(form->MainWindowEnabled());
    }

    void finderCompletesIgnoringCaseAndAccents_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("offered");
        const QString marine = QStringLiteral("Santa Mar\u00ecne");
        QTest::newRow("inside the name") << "marine" << QStringList{marine, "Marinella"};
        QTest::newRow("capitals and an accent") << QStringLiteral("MAR\u00ccNE") << QStringList{marine, "Marinella"};
        QTest::newRow("accent in the list only") << "arco" << QStringList{QStringLiteral("\u00c0rco")};
        QTest::newRow("several, in list order") << "san" << QStringList{marine, "San Vito"};
        QTest::newRow("none") << "zeta" << QStringList{};
    }
    void finderCompletesIgnoringCaseAndAccents()
    {
        QFETCH(QString, typed);
        Fresh();
        fx->WriteTable(ComuniRecord(1, "Santa Mar\xecne", "1", "UD") + "\r\n" + ComuniRecord(2, "Marinella", "2", "UD") +
                       "\r\n" + ComuniRecord(3, "San Vito", "3", "PN") + "\r\n" + ComuniRecord(4, "\xc0rco", "4", "TO") +
                       "\r\n" + ComuniRecord(5, "Marinella", "5", "TO") + "\r\n");
        fx->form->Load();
        Form1& fresh = *fx->form;
        QCOMPARE(Combo1(fresh)->itemText(0), QStringLiteral("Santa Mar\u00ecne"));
        QTest::keyClicks(Combo1(fresh)->lineEdit(), typed);
        QAbstractItemModel* completions = Combo1(fresh)->completer()->completionModel();
        QStringList shown;
        for (int row = 0; row < completions->rowCount(); ++row)
            shown << completions->index(row, 0).data().toString();
        QTEST(shown, "offered");
        QCOMPARE(Combo1(fresh)->count(), 219);  // typing adds nothing to the list
    }

    // A name chosen from the completions goes into the box as the list writes it,
    // and Enter shows it as "Visualizzare" does, outline and all.
    void finderChoiceAndEnterShowTheMunicipality()
    {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QLineEdit* box = Combo1(*form)->lineEdit();
        box->setFocus();
        QTest::keyClicks(box, "ET");
        QCompleter* completer = Combo1(*form)->completer();
        QVERIFY(completer->popup()->isVisible());
        QTest::keyClick(completer->popup(), Qt::Key_Down);
        QCOMPARE(box->text(), QStringLiteral("Beta"));
        fx->map.ClearCalls();
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QCOMPARE(form->State().DENOMINAZIcom, QStringLiteral("Beta"));
        QCOMPARE(fx->map.CallsTo({"ZoomToShape", "SetHighlight"}), (Calls{"ZoomToShape(1,1)", "SetHighlight(1,1)"}));
        QCOMPARE(Combo1(*form)->count(), 219);
    }

    // One line per layer the map cannot show, with how to convert an ECW that
    // is there; the relief's GeoTIFF stands in for an ECW that cannot be read.
    void statusLines()
    {
        const std::string ecw = "Raster/demTRNSh.ecw", tif = "Raster/demTRNSh.tif", ud = "Raster/UD.tif";
        const QString advice = QStringLiteral("gdal_translate -of COG demTRNSh.ecw demTRNSh.tif");
        const struct {
            std::vector<std::string> opening;  // images the fake map opens
            QStringList onDisk;                // files in the working folder
            std::string relief;                // layer 0 after the load
            QStringList lines;                 // fragments of each status line, "|" between them
        } cases[] = {
            {{ecw, ud}, {}, ecw, {}},
            {{ecw}, {}, ecw, {"Impossibile mostrare Raster/UD.tif (GDAL: cannot open Raster/UD.tif)."}},
            {{ud}, {}, ecw, {"Impossibile mostrare Raster/demTRNSh.ecw (GDAL: cannot open Raster/demTRNSh.ecw)."}},
            {{ud}, {"Raster/demTRNSh.ecw"}, ecw, {"Impossibile mostrare Raster/demTRNSh.ecw |" + advice}},
            {{tif, ud},
             {"Raster/demTRNSh.ecw", "Raster/demTRNSh.tif"},
             tif,
             {"Raster/demTRNSh.ecw non si può leggere: il rilievo è mostrato da Raster/demTRNSh.tif."}},
            {{ecw, tif, ud}, {"Raster/demTRNSh.tif"}, ecw, {}},
            {{ud},
             {"Raster/demTRNSh.ecw", "Raster/demTRNSh.tif"},
             tif,
             {"il rilievo è mostrato da Raster/demTRNSh.tif", "Impossibile mostrare Raster/demTRNSh.tif"}},
        };
        for (const auto& c : cases) {
            Form1& fresh = Fresh();
            fx->map.images = c.opening;
            QDir().mkpath(QStringLiteral("Raster"));
            for (const QString& file : c.onDisk) {
                QFile junk(file);
                QVERIFY(junk.open(QIODevice::WriteOnly));
                junk.write("not a raster");
            }
            fresh.Load();
            QCOMPARE(fx->map.LayerAt(kElevationLayer)->description, "image:" + c.relief);
            QCOMPARE(fx->map.LayerAt(kDistrictRaster)->description, std::string("image:Raster/UD.tif"));
            const QString text = fresh.findChild<QLabel*>(QStringLiteral("StatusLines"))->text();
            const QStringList shown = text.isEmpty() ? QStringList{} : text.split(QLatin1Char('\n'));
            QCOMPARE(shown.size(), c.lines.size());
            for (int i = 0; i < c.lines.size(); ++i)
                for (const QString& fragment : c.lines[i].split(QLatin1Char('|')))
                    QVERIFY2(shown[i].contains(fragment), qPrintable(shown[i]));
            QCOMPARE(fresh.statusBar()->isHidden(), c.lines.isEmpty());
        }
    }

    void overviewProgressInTheStatusArea()
    {
        QVERIFY(form->statusBar()->isHidden());
        fx->map.preparations = {{"Raster/UD.tif", 0.425}};
        fx->map.RaiseMapStatusChanged();
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("StatusLines"))->text(),
                 QStringLiteral("Costruzione delle piramidi di Raster/UD.tif per una visualizzazione rapida: 42%."));
        QVERIFY(!form->statusBar()->isHidden());
        fx->map.preparations.clear();
        fx->map.RaiseMapStatusChanged();
        QVERIFY(form->statusBar()->isHidden());
    }
};

QTEST_MAIN(TestForm1Fake)
#include "test_form1_fake.moc"
