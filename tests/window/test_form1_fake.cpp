#include <cmath>
#include <limits>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

private slots:
    void loadCallsAndHandles();
    void loadKeepsHandlesWhenFilesDoNotOpen();
    void loadFillsTheList();
    void loadFailsWithoutTheTable();
    void labelLayerShapesGoesByPosition();
    void visibilityBands_data();
    void visibilityBands();
    void districtSwap();
    void outsideEveryDistrict();
    void overlappingDistrictsTakeTheLowerIndex();
    void toolButtons_data();
    void toolButtons();
    void pickingReportsTheClickedPoint();
    void pickStaysInForceAfterADialog_data();
    void pickStaysInForceAfterADialog();
    void navigationEndsPicking_data();
    void navigationEndsPicking();
    void readOut_data();
    void readOut();
    void readOutClearsWhenThePointerLeaves();
    void pickOutsideThe32BitRangeIsIgnored();
    void search();
    void searchWithoutMatchChangesNothingElse_data();
    void searchWithoutMatchChangesNothingElse();
    void finderCompletesIgnoringCaseAndAccents_data();
    void finderCompletesIgnoringCaseAndAccents();
    void finderChoiceAndEnterShowTheMunicipality();
    void searchFailureLeavesStateUnchanged_data();
    void searchFailureLeavesStateUnchanged();
    void searchReadsTheFileAfresh();
    void disablingKeepsDialogsUsable();
};

void TestForm1Fake::loadCallsAndHandles()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.Make();
    QCOMPARE(f.map.backColor, Rgb(192, 192, 192));
    f.map.ClearCalls();
    form.Load();

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
    QCOMPARE(f.map.CallsTo({"SetMapCursor", "SetCursorMode", "SetSendMouseDown", "SetSendMouseMove",
                            "SetSendMouseUp", "SetSendSelectBoxFinal", "OpenImage", "OpenShapefile", "AddLayer",
                            "SetLayerLineColor", "SetLayerLineWidth", "LayerHandle", "GetLayerObject", "AddLabel",
                            "SetOverlayLabels"}),
             expected);
    // The province names, over the view when it is too wide for any other names.
    QCOMPARE(f.map.overlayLabels.size(), std::size_t(1));
    QCOMPARE(f.map.overlayLabels[0].text, std::string("Provincia di Alfa"));
    QCOMPARE(f.map.overlayLabels[0].x, 100000.0);
    QCOMPARE(f.map.overlayLabels[0].y, 50000.0);
    // The load neither moves the view nor refreshes the detail view.
    QVERIFY(f.map.CallsTo({"ZoomToLayer", "ZoomToShape", "SetLayerVisible", "RemoveLayer", "GetExtents"}).empty());

    const char* files[7] = {"image:Raster/demTRNSh.ecw",        "shapefile:Shp/comuniPoly.shp",
                            "shapefile:Shp/V_PROVINCEpoly.shp", "shapefile:Shp/toponomasticaComuni.shp",
                            "shapefile:Shp/toponomastica25kdep.shp", "shapefile:Shp/V_ISPETTORATI.shp",
                            "image:Raster/UD.tif"};
    const bool visible[7] = {true, true, true, false, false, false, false};
    QCOMPARE(f.map.LayerCount(), 7);
    for (int handle = 0; handle < 7; ++handle) {
        QCOMPARE(f.map.LayerHandle(handle), handle);
        QCOMPARE(f.map.LayerAt(handle)->description, std::string(files[handle]));
        QCOMPARE(f.map.LayerAt(handle)->visible, visible[handle]);
    }
    QCOMPARE(form.State().distretto, QStringLiteral("UD"));
    QCOMPARE(f.map.cursorMode, int(kNoTool));
    QCOMPARE(f.map.mapCursor, int(kArrow));
}

void TestForm1Fake::loadKeepsHandlesWhenFilesDoNotOpen()
{
    Form1Fixture f;
    f.WriteTable(ThreeMunicipalities());
    f.MakeAndLoad();
    QCOMPARE(f.map.LayerCount(), 7);
    QCOMPARE(f.map.LayerAt(6)->description, std::string("image:Raster/UD.tif"));
    // Empty place-name layers get no labels and raise nothing.
    QVERIFY(f.map.LayerAt(3)->labels.empty());
    QVERIFY(f.reporter.messages.isEmpty());
}

void TestForm1Fake::loadFillsTheList()
{
    Form1Fixture f;
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    QComboBox* combo = Combo1(form);
    QVERIFY(combo);
    QCOMPARE(combo->count(), 219);
    QCOMPARE(combo->itemText(0), QStringLiteral("Alfa"));
    QCOMPARE(combo->itemText(1), QStringLiteral("Beta"));
    QCOMPARE(combo->itemText(2), QStringLiteral("Beta"));
    QCOMPARE(combo->itemText(3), QString());
    QCOMPARE(combo->itemText(218), QString());
    QCOMPARE(combo->currentIndex(), -1);
    QCOMPARE(combo->currentText(), QString());
}

void TestForm1Fake::loadFailsWithoutTheTable()
{
    Form1Fixture f;
    Form1& form = f.Make();
    try {
        form.Load();
        QFAIL("the load must fail without its table");
    } catch (const Error& error) {
        QCOMPARE(error.kind(), ErrorKind::FileNotFound);
        QCOMPARE(error.file(), std::string("dat/comuniPolyRid.dat"));
        QVERIFY(QString::fromStdString(ItalianMessage(error)).contains(QStringLiteral("File non trovato")));
    }
}

void TestForm1Fake::labelLayerShapesGoesByPosition()
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
    QCOMPARE(map.CallsTo({"LayerHandle", "AddLabel"}), (Calls{"LayerHandle(2)", "AddLabel(0,Bravo,0,5,10,1,0)"}));
    LabelLayerShapes(map, 7, 0);  // no layer there: nothing to label
    QCOMPARE(map.CallsTo({"AddLabel"}).size(), std::size_t(1));
}

void TestForm1Fake::visibilityBands_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<bool>("names");
    QTest::addColumn<bool>("places");
    QTest::addColumn<bool>("raster");

    QTest::newRow("60000") << 60000.0 << false << false << false;
    QTest::newRow("50000.01") << 50000.01 << false << false << false;
    QTest::newRow("50000.001 is 50000 in single precision") << 50000.001 << true << false << false;
    QTest::newRow("50000") << 50000.0 << true << false << false;
    QTest::newRow("10000.01") << 10000.01 << true << false << false;
    QTest::newRow("10000") << 10000.0 << false << true << false;
    QTest::newRow("5000.01") << 5000.01 << false << true << false;
    QTest::newRow("5000") << 5000.0 << false << false << true;
    QTest::newRow("100") << 100.0 << false << false << true;
}

void TestForm1Fake::visibilityBands()
{
    QFETCH(double, width);
    QFETCH(bool, names);
    QFETCH(bool, places);
    QFETCH(bool, raster);
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    f.MakeAndLoad();
    f.map.extents = {50000, 50000 + width, 40000, 40000 + width / 2};

    f.map.RaiseMouseUp(10, 10);
    const auto text = [](int layer, bool on) {
        return "SetLayerVisible(" + std::to_string(layer) + "," + (on ? "true" : "false") + ")";
    };
    QCOMPARE(f.map.CallsTo({"SetLayerVisible"}), (Calls{text(3, names), text(4, places), text(6, raster)}));
    QCOMPARE(f.map.LayerAt(3)->visible, names);
    QCOMPARE(f.map.LayerAt(4)->visible, places);
    QCOMPARE(f.map.LayerAt(6)->visible, raster);
    // The first refresh in the district loaded at start loads nothing new.
    QVERIFY(f.map.CallsTo({"RemoveLayer", "OpenImage"}).empty());

    // A finished selection box refreshes the same way.
    f.map.ClearCalls();
    f.map.RaiseSelectBoxFinal();
    QCOMPARE(f.map.CallsTo({"SetLayerVisible"}).size(), std::size_t(3));
}

void TestForm1Fake::districtSwap()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();

    f.map.extents = ViewAt(250000, 50000, 80000);  // far out, over "PN"
    f.map.RaiseMouseUp(0, 0);
    const Calls expected = {
        "GetExtents()",
        "GetLayerObject(5)",
        "GetExtents()",
        "ShapeContainsPoint(Shp/V_ISPETTORATI.shp,0,250000,50000)",
        "ShapeContainsPoint(Shp/V_ISPETTORATI.shp,1,250000,50000)",
        "ShapeContainsPoint(Shp/V_ISPETTORATI.shp,2,250000,50000)",
        "RemoveLayer(6)",
        "NewImage()",
        "OpenImage(Raster/PN.tif,2,false)",
        "AddLayer(image:Raster/PN.tif,hidden)",
        "SetLayerVisible(3,false)",
        "SetLayerVisible(4,false)",
        "SetLayerVisible(6,false)",
    };
    QCOMPARE(f.map.calls, expected);
    QCOMPARE(form.State().distretto, QStringLiteral("PN"));
    QCOMPARE(f.map.LayerHandle(6), 6);
    QCOMPARE(f.map.LayerAt(6)->description, std::string("image:Raster/PN.tif"));

    // Zooming in within the district shows the raster and loads nothing.
    f.map.ClearCalls();
    f.map.extents = ViewAt(250000, 50000, 5000);
    f.map.RaiseMouseUp(0, 0);
    QVERIFY(f.map.CallsTo({"RemoveLayer", "OpenImage", "AddLayer"}).empty());
    QVERIFY(f.map.LayerAt(6)->visible);
    QCOMPARE(f.map.LayerCount(), 7);
}

void TestForm1Fake::outsideEveryDistrict()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    f.map.extents = ViewAt(350000, 50000, 20000);  // "TO"
    f.map.RaiseMouseUp(0, 0);
    QCOMPARE(form.State().distretto, QStringLiteral("TO"));

    f.map.ClearCalls();
    f.map.extents = ViewAt(500000, -20000, 4000);
    f.map.RaiseMouseUp(0, 0);
    QCOMPARE(f.map.CallsTo({"ShapeContainsPoint"}).size(), std::size_t(4));
    QVERIFY(f.map.CallsTo({"RemoveLayer", "OpenImage", "AddLayer"}).empty());
    QCOMPARE(form.State().distretto, QStringLiteral("TO"));
    QCOMPARE(f.map.LayerAt(6)->description, std::string("image:Raster/TO.tif"));
    QVERIFY(f.map.LayerAt(6)->visible);  // the last district's raster still shows close in
}

void TestForm1Fake::overlappingDistrictsTakeTheLowerIndex()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    f.map.extents = ViewAt(200000, 50000, 3000);
    f.map.RaiseMouseUp(0, 0);
    QCOMPARE(form.State().distretto, QStringLiteral("TG"));
    QCOMPARE(f.map.CallsTo({"ShapeContainsPoint"}).size(), std::size_t(2));
}

void TestForm1Fake::toolButtons_data()
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

void TestForm1Fake::toolButtons()
{
    QFETCH(QString, button);
    QFETCH(Calls, expected);
    QFETCH(QString, pressed);
    Form1Fixture f;
    SetUpRegion(f.map);
    f.map.layerExtents[0] = {0, 400000, 0, 100000};
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    QCOMPARE(PressedTools(form), QString());
    QTest::mouseClick(Button(form, "CmdPan"), Qt::LeftButton);
    QCOMPARE(PressedTools(form), QStringLiteral("CmdPan"));
    f.map.ClearCalls();

    QToolButton* tool = form.findChild<QToolButton*>(button);
    QVERIFY(tool);
    QTest::mouseClick(tool, Qt::LeftButton);
    QCOMPARE(f.map.CallsTo({"ZoomToLayer", "SetLayerVisible", "SetSendMouseDown", "SetMapCursor", "SetCursorMode"}),
             expected);
    QCOMPARE(PressedTools(form), pressed);
    QVERIFY(!Button(form, "Command3")->isChecked() && !Button(form, "Command2")->isChecked());
}

void TestForm1Fake::pickingReportsTheClickedPoint()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    f.map.pixelToProj = [](double px, double py, double& x, double& y) {
        x = 2400000 + px * 10 + 0.5;
        y = 5100000 - py * 10;
    };

    // Idle: clicks on the map are not reported.
    f.map.RaiseMouseDown(1, 1);
    QVERIFY(f.dialogs.openings.isEmpty());

    Button(form, "Command1")->click();
    f.map.RaiseMouseDown(3, 4, 2);  // any button picks
    QCOMPARE(f.dialogs.openings, QStringList{"MapPoint(2400030,5099960)"});
    QCOMPARE(form.State().pEoutlet, QStringLiteral("2400030"));
    QCOMPARE(form.State().pNOutlet, QStringLiteral("5099960"));
}

void TestForm1Fake::pickStaysInForceAfterADialog_data()
{
    QTest::addColumn<QString>("opener");   // "pick" or "type"
    QTest::addColumn<QString>("closing");  // what the dialog does to the map before it closes

    for (const char* opener : {"pick", "type"}) {
        QTest::addRow("%s, run", opener) << opener << "run";
        QTest::addRow("%s, Annullare", opener) << opener << "Annullare";
        QTest::addRow("%s, title bar", opener) << opener << "title bar";
    }
}

// The map still picks after either dialog, however it closed: the pointer and
// the pressed button say so.
void TestForm1Fake::pickStaysInForceAfterADialog()
{
    QFETCH(QString, opener);
    QFETCH(QString, closing);
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    f.dialogs.whileOpen = [&](MainWindowHost& host) {
        if (closing == "run") {
            host.Map1().SetMapCursor(kArrow);
        } else if (closing == "Annullare") {
            host.Map1().SetCursorMode(kNoTool);
            host.Map1().SetMapCursor(kArrow);
        }
    };
    if (opener == "pick") {
        Button(form, "Command1")->click();
        f.map.RaiseMouseDown(10, 10);
    } else {
        Button(form, "Command2")->click();
    }
    QCOMPARE(f.dialogs.openings.size(), 1);
    QCOMPARE(f.map.mapCursor, int(kCrossHair));
    QCOMPARE(f.map.cursorMode, int(kNoTool));
    QVERIFY(f.map.sendMouseDown);
    QCOMPARE(PressedTools(form), QStringLiteral("Command1"));

    f.dialogs.whileOpen = nullptr;
    f.map.RaiseMouseDown(20, 20);
    QCOMPARE(f.dialogs.openings.size(), 2);
}

void TestForm1Fake::navigationEndsPicking_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Zoom in") << "CmdZoomIn";
    QTest::newRow("Zoom out") << "CmdZoomOut";
    QTest::newRow("Pan") << "CmdPan";
    QTest::newRow("Zoom alle estensioni") << "Command3";
}

void TestForm1Fake::navigationEndsPicking()
{
    QFETCH(QString, button);
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    for (const char* arm : {"Command1", "Command2"}) {
        Button(form, arm)->click();
        form.findChild<QToolButton*>(button)->click();
        QVERIFY(!f.map.sendMouseDown);
        QCOMPARE(f.map.mapCursor, int(kArrow));
        f.map.RaiseMouseDown(5, 5);
        QVERIFY(!f.dialogs.openings.contains(QStringLiteral("MapPoint(5,995)")));
    }
    // The read-out keeps following the mouse whatever the tool.
    f.map.RaiseMouseMove(7, 8);
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("7"));
}

void TestForm1Fake::readOut_data()
{
    QTest::addColumn<double>("east");
    QTest::addColumn<double>("north");
    QTest::addColumn<QString>("eastText");
    QTest::addColumn<QString>("northText");

    QTest::newRow("halves to even") << 2345678.5 << 2345679.5 << "2345678" << "2345680";
    QTest::newRow("nearest") << 2400000.49 << 5100000.51 << "2400000" << "5100001";
    QTest::newRow("negative") << -2.5 << -3.5 << "-2" << "-4";
    QTest::newRow("minus one half is zero") << -0.5 << 0.0 << "0" << "0";
    QTest::newRow("32-bit ends") << 2147483647.4 << -2147483648.5 << "2147483647" << "-2147483648";
    QTest::newRow("east past 32 bits: no read-out") << 2147483647.5 << 5100000.0 << "" << "";
    QTest::newRow("north past 32 bits: no read-out") << 2400000.0 << -2147483649.0 << "" << "";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 1.0 << "" << "";
}

void TestForm1Fake::readOut()
{
    QFETCH(double, east);
    QFETCH(double, north);
    Form1Fixture f;
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    auto* label1 = form.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* label2 = form.findChild<QLabel*>(QStringLiteral("Label2"));
    QCOMPARE(label1->text(), QString());

    f.map.pixelToProj = [](double, double, double& x, double& y) {
        x = 1;
        y = 2;
    };
    f.map.RaiseMouseMove(0, 0);
    f.map.pixelToProj = [&](double px, double py, double& x, double& y) {
        QCOMPARE(px, 12.0);
        QCOMPARE(py, 34.0);
        x = east;
        y = north;
    };
    f.map.RaiseMouseMove(12, 34);
    QTEST(label1->text(), "eastText");
    QTEST(label2->text(), "northText");
}

void TestForm1Fake::readOutClearsWhenThePointerLeaves()
{
    Form1Fixture f;
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    f.map.RaiseMouseMove(12, 34);
    auto* label1 = form.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* label2 = form.findChild<QLabel*>(QStringLiteral("Label2"));
    QCOMPARE(label1->text(), QStringLiteral("12"));
    f.map.RaiseMouseLeave();
    QCOMPARE(label1->text(), QString());
    QCOMPARE(label2->text(), QString());
}

void TestForm1Fake::pickOutsideThe32BitRangeIsIgnored()
{
    Form1Fixture f;
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    Button(form, "Command1")->click();
    f.map.pixelToProj = [](double, double, double& x, double& y) {
        x = 2400000;
        y = 5100000;
    };
    f.map.RaiseMouseDown(0, 0);
    f.map.pixelToProj = [](double, double, double& x, double& y) {
        x = 1e12;
        y = 5100000;
    };
    f.map.RaiseMouseDown(0, 0);
    QCOMPARE(f.dialogs.openings, QStringList{"MapPoint(2400000,5100000)"});
    QCOMPARE(form.State().pEoutlet, QStringLiteral("2400000"));
    QVERIFY(f.reporter.messages.isEmpty());
}

void TestForm1Fake::search()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    Visualize(form, 2);  // the second "Beta": the first row of that name is found
    const MainWindowState& state = form.State();
    QCOMPARE(state.DENOMINAZIcom, QStringLiteral("Beta"));
    QCOMPARE(int(state.OBJECTID), 2);
    QCOMPARE(int(state.FID), 1);
    QCOMPARE(int(state.CODICE_COM), 30002);
    QCOMPARE(state.Provincia, QStringLiteral("PN"));
    // Polygon 1 is 40 km wide and centred in "PN": names shown, raster swapped but hidden.
    QCOMPARE(f.map.CallsTo({"ZoomToShape", "OpenImage", "SetLayerVisible", "SetHighlight"}),
             (Calls{"ZoomToShape(1,1)", "OpenImage(Raster/PN.tif,2,false)", "SetLayerVisible(3,true)",
                    "SetLayerVisible(4,false)", "SetLayerVisible(6,false)", "SetHighlight(1,1)"}));
    QCOMPARE(state.distretto, QStringLiteral("PN"));
    QVERIFY(f.reporter.messages.isEmpty());

    f.map.ClearCalls();
    Visualize(form, 0);
    QCOMPARE(f.map.CallsTo({"ZoomToShape", "OpenImage", "SetLayerVisible"}),
             (Calls{"ZoomToShape(1,0)", "OpenImage(Raster/UD.tif,2,false)", "SetLayerVisible(3,false)",
                    "SetLayerVisible(4,false)", "SetLayerVisible(6,true)"}));
}

void TestForm1Fake::searchWithoutMatchChangesNothingElse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing chosen") << "" << "Scrivere o scegliere il nome di un comune.";
    QTest::newRow("only the case differs") << "alfa" << "Comune \"alfa\" non trovato: sceglierlo dall'elenco.";
    QTest::newRow("trailing space") << "Alfa " << "Comune \"Alfa \" non trovato: sceglierlo dall'elenco.";
}

void TestForm1Fake::searchWithoutMatchChangesNothingElse()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    Visualize(form, 0);
    const MapExtents view = f.map.extents;
    f.map.ClearCalls();

    Combo1(form)->setEditText(text);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
    QCOMPARE(f.reporter.messages, QStringList{message});
    QCOMPARE(form.State().DENOMINAZIcom, text);
    QCOMPARE(int(form.State().OBJECTID), 1);
    QCOMPARE(form.State().Provincia, QStringLiteral("UD"));
    QVERIFY(f.map.CallsTo({"ZoomToShape", "SetLayerVisible", "RemoveLayer", "SetHighlight"}).empty());
    QVERIFY(f.map.extents == view);
}

void TestForm1Fake::finderCompletesIgnoringCaseAndAccents_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("offered");
    const QString marine = QStringLiteral("Santa Mar\u00ecne");
    const QString arco = QStringLiteral("\u00c0rco");
    QTest::newRow("inside the name") << "marine" << QStringList{marine, "Marinella"};
    QTest::newRow("capitals and an accent") << QStringLiteral("MAR\u00ccNE") << QStringList{marine, "Marinella"};
    QTest::newRow("accent in the list only") << "arco" << QStringList{arco};
    QTest::newRow("several, in list order") << "san" << QStringList{marine, "San Vito"};
    QTest::newRow("none") << "zeta" << QStringList{};
}

void TestForm1Fake::finderCompletesIgnoringCaseAndAccents()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, offered);
    Form1Fixture f;
    f.WriteTable(ComuniRecord(1, "Santa Mar\xecne", "1", "UD") + "\r\n" + ComuniRecord(2, "Marinella", "2", "UD") +
                 "\r\n" + ComuniRecord(3, "San Vito", "3", "PN") + "\r\n" + ComuniRecord(4, "\xc0rco", "4", "TO") +
                 "\r\n" + ComuniRecord(5, "Marinella", "5", "TO") + "\r\n");
    Form1& form = f.MakeAndLoad();
    QCOMPARE(Combo1(form)->count(), 219);
    QCOMPARE(Combo1(form)->itemText(0), QStringLiteral("Santa Mar\u00ecne"));

    QTest::keyClicks(Combo1(form)->lineEdit(), typed);
    QAbstractItemModel* completions = Combo1(form)->completer()->completionModel();
    QStringList shown;
    for (int row = 0; row < completions->rowCount(); ++row)
        shown << completions->index(row, 0).data().toString();
    QCOMPARE(shown, offered);
    QCOMPARE(Combo1(form)->count(), 219);  // typing adds nothing to the list
}

// A name chosen from the completions goes into the box as the list writes it,
// and Enter shows it as "Visualizzare" does, outline and all.
void TestForm1Fake::finderChoiceAndEnterShowTheMunicipality()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLineEdit* box = Combo1(form)->lineEdit();
    box->setFocus();
    QTest::keyClicks(box, "ET");
    QCompleter* completer = Combo1(form)->completer();
    QVERIFY(completer->popup()->isVisible());
    QTest::keyClick(completer->popup(), Qt::Key_Down);
    QCOMPARE(box->text(), QStringLiteral("Beta"));
    f.map.ClearCalls();
    QTest::keyClick(completer->popup(), Qt::Key_Return);
    QCOMPARE(form.State().DENOMINAZIcom, QStringLiteral("Beta"));
    QCOMPARE(f.map.CallsTo({"ZoomToShape", "SetHighlight"}), (Calls{"ZoomToShape(1,1)", "SetHighlight(1,1)"}));
    QVERIFY(f.reporter.messages.isEmpty());
    QCOMPARE(Combo1(form)->count(), 219);
}

void TestForm1Fake::searchFailureLeavesStateUnchanged_data()
{
    QTest::addColumn<QByteArray>("table");  // empty: the file is deleted
    QTest::addColumn<QString>("message");

    QTest::newRow("table deleted") << QByteArray() << "File non trovato: dat/comuniPolyRid.dat";
    QTest::newRow("column 1 not a number")
        << QByteArray("uno       Beta                                    30002     PN")
        << "Tipo non corrispondente: dat/comuniPolyRid.dat";
    QTest::newRow("column 3 past 16 bits")
        << QByteArray("2         Beta                                    99999     PN")
        << "Overflow: dat/comuniPolyRid.dat";
    QTest::newRow("220 lines") << QByteArray("\r\n").repeated(220)
                               << "Indice non compreso nell'intervallo: dat/comuniPolyRid.dat";
}

void TestForm1Fake::searchFailureLeavesStateUnchanged()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, message);
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    Visualize(form, 0);
    const MainWindowState before = form.State();
    const MapExtents view = f.map.extents;

    if (table.isEmpty())
        f.RemoveTable();
    else
        f.WriteTable(table);
    f.map.ClearCalls();
    Visualize(form, 1);

    QCOMPARE(f.reporter.messages.size(), 1);
    QVERIFY2(f.reporter.messages[0].startsWith(message), qPrintable(f.reporter.messages[0]));
    const MainWindowState& after = form.State();
    QCOMPARE(after.DENOMINAZIcom, before.DENOMINAZIcom);
    QCOMPARE(after.OBJECTID, before.OBJECTID);
    QCOMPARE(after.FID, before.FID);
    QCOMPARE(after.CODICE_COM, before.CODICE_COM);
    QCOMPARE(after.Provincia, before.Provincia);
    QCOMPARE(after.distretto, before.distretto);
    QVERIFY(f.map.CallsTo({"ZoomToShape", "SetLayerVisible"}).empty());
    QVERIFY(f.map.extents == view);
    QVERIFY(form.MainWindowEnabled());
    QCOMPARE(Combo1(form)->count(), 219);
}

void TestForm1Fake::searchReadsTheFileAfresh()
{
    Form1Fixture f;
    SetUpRegion(f.map);
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    f.WriteTable(ComuniRecord(3, "Alfa", "4000", "TO") + "\r\n");
    Visualize(form, 0);
    QCOMPARE(int(form.State().FID), 2);
    QCOMPARE(int(form.State().CODICE_COM), 4000);
    QCOMPARE(form.State().Provincia, QStringLiteral("TO"));
    QCOMPARE(Combo1(form)->itemText(1), QStringLiteral("Beta"));  // the list stays as loaded
}

void TestForm1Fake::disablingKeepsDialogsUsable()
{
    Form1Fixture f;
    f.WriteTable(ThreeMunicipalities());
    Form1& form = f.MakeAndLoad();
    QDialog dialog(&form);
    auto* edit = new QLineEdit(&dialog);
    form.show();
    dialog.show();

    form.SetMainWindowEnabled(false);
    QVERIFY(!form.MainWindowEnabled());
    QVERIFY(!Combo1(form)->isEnabled());
    QVERIFY(!Button(form, "CmdPan")->isEnabled());
    QVERIFY(dialog.isEnabled());
    QVERIFY(edit->isEnabled());

    form.SetMainWindowEnabled(true);
    QVERIFY(form.MainWindowEnabled());
    QVERIFY(Button(form, "CmdPan")->isEnabled());
}

QTEST_MAIN(TestForm1Fake)
#include "test_form1_fake.moc"
