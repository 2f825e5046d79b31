// The point runs in the real program: the main window on the sample region,
// its GDAL map, the real dialogs, grids and report writer. Each test works in
// its own copy of the application folder; message boxes are answered here.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "dialogs/Form2.h"
#include "dialogs/Form3.h"
#include "dialogs/PointDialogsImpl.h"
#include "window/Form1.h"
#include "window/ResultsPane.h"
#include "map/MapWidget.h"
#include "rain/Gev.h"
#include "rain/Grid.h"
#include "rain/PointRain.h"
#include "tests/dialogs/FakeHost.h"

namespace fs = std::filesystem;

namespace quorvel::testing {

namespace {

// The report's twelve cells, C6 ... H13, as python3-xlrd reads them.
QList<double> ReportCells(const fs::path& file)
{
    static const char* script = R"(
import json, sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
cells = ["C6", "F6", "C7", "F7", "B10", "B13", "C13", "D13", "E13", "F13", "G13", "H13"]
print(json.dumps([sheet.cell_value(int(a[1:]) - 1, ord(a[0]) - ord("A")) for a in cells]))
)";
    QProcess python;
    python.start(QUORVEL_DEBIAN_PYTHON, {"-c", script, QString::fromStdString(file.string())});
    python.waitForFinished(60000);
    QList<double> values;
    for (const QJsonValue& v : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        values << v.toDouble();
    if (values.size() != 12)
        qWarning() << python.readAllStandardError();
    return values;
}

// What the report of a point must hold, from the grid values of its cell.
QList<double> ExpectedCells(float east, float north)
{
    const GridCell cell = CellForPoint(east, north);
    const GaussBoagaPoint centre = CellCentre(cell);
    const float a2 = ReadGridCell(kA2Raster, kA2Header, cell.row, cell.column);
    const float a1 = ReadGridCell(kA1Raster, kA1Header, cell.row, cell.column);
    const float cv = ReadGridCell(kCvRaster, kCvHeader, cell.row, cell.column);
    QList<double> values{std::nearbyint(east), std::nearbyint(north), centre.x, centre.y, a2};
    for (std::int16_t T : kReturnPeriods)
        values << GevQuantile(cv, a1, T);
    return values;
}

std::string FileBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private:
    fs::path previous;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<RecordingReporter> reporter;
    std::unique_ptr<PointDialogsImpl> dialogs;
    MapWidget* map = nullptr;  // owned by the window
    std::unique_ptr<Form1> window;

    fs::path AppFolder() const { return fs::path(folder->path().toStdString()); }
    fs::path Report() const { return AppFolder() / "output" / "Piogge.xls"; }

    QToolButton* Button(const char* name) const { return window->findChild<QToolButton*>(name); }

    // "Digitare le coordinate del punto", then the entries and "Elaborazione".
    std::shared_ptr<bool> TypePoint(const QString& east, const QString& north)
    {
        auto leftOpen = WhenDialogOpens(this, [=](PointDialog& dialog) {
            auto& form3 = dynamic_cast<Form3&>(dialog);
            QTest::keyClicks(form3.Text1, east);
            QTest::keyClicks(form3.Text2, north);
            QTest::mouseClick(form3.Command1, Qt::LeftButton);
        });
        QTest::mouseClick(Button("Command2"), Qt::LeftButton);
        return leftOpen;
    }

    // A pick on the map at the pixel, then "Elaborazione" (or what check does).
    std::shared_ptr<bool> PickPoint(QPoint pixel, std::function<void(Form2&)> act)
    {
        auto leftOpen = WhenDialogOpens(this, [=](PointDialog& dialog) { act(dynamic_cast<Form2&>(dialog)); });
        QTest::mouseClick(Button("Command1"), Qt::LeftButton);
        QTest::mouseClick(map, Qt::LeftButton, {}, pixel);
        return leftOpen;
    }

    void ExpectReportOf(float east, float north)
    {
        QVERIFY2(fs::exists(Report()), Report().c_str());
        QCOMPARE(ReportCells(Report()), ExpectedCells(east, north));
    }

    // Enabled, and still picking when a pick or the typing button opened the
    // dialog: the pointer and the pressed button show it.
    void ExpectWindowGivenBack()
    {
        QVERIFY(window->MainWindowEnabled());
        QCOMPARE(map->MapCursor(), kCrossHair);
        QCOMPARE(map->cursor().shape(), Qt::CrossCursor);
        QVERIFY(Button("Command1")->isChecked());
    }

    // Neither dialog turns the map's mouse-down events off: the next click on
    // the map picks again and opens the map-point dialog.
    void ExpectMapStillArmed()
    {
        bool opened = false;
        auto leftOpen = WhenDialogOpens(this, [&](PointDialog& dialog) {
            opened = qobject_cast<Form2*>(&dialog) != nullptr;
            QTest::mouseClick(dialog.Command2, Qt::LeftButton);
        });
        QTest::mouseClick(map, Qt::LeftButton, {}, Centre());
        QVERIFY(opened);
        QVERIFY(!*leftOpen);
    }

    bool OutputEmpty() const { return fs::is_empty(AppFolder() / "output"); }
    QPoint Centre() const { return QPoint(map->width() / 2, map->height() / 2); }

private slots:
    void initTestCase() { previous = fs::current_path(); }

    // A fresh copy of the application folder and a fresh main window for each test.
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        // The grids and the template are copied, as tests break them; the
        // map's data is only read, so linking it is enough.
        const fs::path source(QUORVEL_APP_DIR);
        for (const char* data : {"grd", "programs"})
            fs::copy(source / data, AppFolder() / data, fs::copy_options::recursive);
        for (const char* data : {"dat", "Shp", "Raster"})
            fs::create_directory_symlink(source / data, AppFolder() / data);
        fs::create_directory(AppFolder() / "output");
        std::ofstream(AppFolder() / "Quorvel").put('\0');
        fs::current_path(AppFolder());

        reporter = std::make_unique<RecordingReporter>();
        dialogs = std::make_unique<PointDialogsImpl>();
        map = new MapWidget;
        window = std::make_unique<Form1>(*map, map, *reporter, dialogs.get());
        window->Load();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup()
    {
        window.reset();
        dialogs.reset();
        reporter.reset();
        fs::current_path(previous);
        folder.reset();
    }

    void typedPointWritesItsReport()
    {
        auto leftOpen = TypePoint("2400000", "5100000");
        QVERIFY(!*leftOpen);
        QCOMPARE(reporter->messages, QStringList{"Eseguito!"});
        ExpectReportOf(2400000, 5100000);
        QCOMPARE(ReportCells(Report()).mid(2, 2), (QList<double>{2400250, 5100250}));
        ExpectWindowGivenBack();
        QCOMPARE(map->CursorMode(), int(kNoTool));
        ExpectMapStillArmed();
    }

    // A pick opens the map-point dialog with the whole metres of the clicked pixel.
    void pickedPointWritesItsReport()
    {
        const QPoint pixel(map->width() / 2 + 3, map->height() / 2 - 5);
        double east = 0, north = 0;
        map->PixelToProj(pixel.x(), pixel.y(), east, north);
        const QString eastText = QString::number(std::nearbyint(east), 'f', 0);
        const QString northText = QString::number(std::nearbyint(north), 'f', 0);

        bool mainWindowDisabledWhileOpen = false;
        QString shownEast, shownNorth;
        auto leftOpen = PickPoint(pixel, [&](Form2& form2) {
            mainWindowDisabledWhileOpen = !window->MainWindowEnabled();
            shownEast = form2.Label1->text();
            shownNorth = form2.Label2->text();
            QTest::mouseClick(form2.Command1, Qt::LeftButton);
        });
        QVERIFY(!*leftOpen);
        QVERIFY(mainWindowDisabledWhileOpen);
        QCOMPARE(shownEast, eastText);
        QCOMPARE(shownNorth, northText);
        QCOMPARE(reporter->messages, QStringList{"Eseguito!"});
        ExpectReportOf(eastText.toFloat(), northText.toFloat());
        ExpectWindowGivenBack();
    }

    // A bad typed point gets the coordinate message, and below it what is
    // wrong, told from the grid's area as its headers give it.
    void badTypedPointKeepsTheDialog_data()
    {
        QTest::addColumn<QString>("east");
        QTest::addColumn<bool>("breakGrid");
        QTest::addColumn<QString>("fault");  // the line under the coordinate message
        // The sample grids have 361 columns.
        QTest::newRow("east of the grid") << "2490500" << false
                                          << "Casella E: 2490500 è fuori dalla griglia (Est da 2310000 a 2490500 m).";
        QTest::newRow("broken grid") << "2400000" << true << "";
    }
    void badTypedPointKeepsTheDialog()
    {
        QFETCH(QString, east);
        QFETCH(bool, breakGrid);
        QFETCH(QString, fault);
        if (breakGrid)
            fs::resize_file(AppFolder() / kCvRaster, 1000);
        QVERIFY(*TypePoint(east, "5100000"));
        const QString message = QString::fromUtf8(kCoordinateMessage);
        QCOMPARE(reporter->messages, QStringList{fault.isEmpty() ? message : message + "\n" + fault});
        QVERIFY(OutputEmpty());
        ExpectWindowGivenBack();
    }

    // A failed map-point run says what went wrong and keeps the dialog open;
    // the main window comes back when the user gives up.
    void failedPickSaysWhy_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("message");  // a part of the message
        // The details, too, are Italian, whoever found the fault: the grid
        // reader, the system or the workbook reader.
        QTest::newRow("missing grid") << "grid" << "File non trovato: grd/param_a1.ras";
        QTest::newRow("short grid") << "short grid"
                                    << "grd/param_a2.ras\nraster più corto di quanto dice la sua intestazione";
        QTest::newRow("missing template") << "template"
                                          << "programs/prototipo/pioggeTRNprot.xls\nfile o cartella inesistente";
        QTest::newRow("template not a workbook") << "template text" << "non è un file composto OLE2";
        QTest::newRow("output folder missing") << "no output" << "/output\nla cartella non esiste";
        QTest::newRow("file in place of the output folder") << "output" << "/output\nnon è una cartella";
        QTest::newRow("output folder read-only") << "read-only output" << "/output\nla cartella è in sola lettura";
        QTest::newRow("no executable in folder") << "executable" << "Impossibile trovare la cartella del programma";
    }
    void failedPickSaysWhy()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, message);
        if (breakage == "grid")
            fs::remove(AppFolder() / kA1Raster);
        if (breakage == "short grid")
            fs::resize_file(AppFolder() / kA2Raster, 1000);
        if (breakage == "template")
            fs::remove(AppFolder() / "programs/prototipo/pioggeTRNprot.xls");
        if (breakage == "template text")
            std::ofstream(AppFolder() / "programs/prototipo/pioggeTRNprot.xls") << "not a workbook";
        if (breakage == "no output")
            fs::remove(AppFolder() / "output");
        if (breakage == "output") {
            // A file where the folder should be: refused even to root.
            fs::remove(AppFolder() / "output");
            std::ofstream(AppFolder() / "output") << "not a folder";
        }
        if (breakage == "read-only output") {
            if (::geteuid() == 0)
                QSKIP("root writes into a read-only folder");
            fs::permissions(AppFolder() / "output", fs::perms::owner_read | fs::perms::owner_exec);
        }
        if (breakage == "executable")
            fs::remove(AppFolder() / "Quorvel");

        bool stillDisabled = false;
        auto leftOpen = PickPoint(Centre(), [&](Form2& form2) {
            QTest::mouseClick(form2.Command1, Qt::LeftButton);
            stillDisabled = !window->MainWindowEnabled();
        });
        QVERIFY(*leftOpen);
        QVERIFY(stillDisabled);
        QCOMPARE(reporter->messages.size(), 1);
        QVERIFY2(reporter->messages[0].contains(message), qPrintable(reporter->messages[0]));
        ExpectWindowGivenBack();
        if (fs::is_directory(AppFolder() / "output")) {
            fs::permissions(AppFolder() / "output", fs::perms::owner_all, fs::perm_options::add);
            QVERIFY(OutputEmpty());
        }
    }

    // A register that cannot be written is a warning after "Eseguito!": the
    // report stands and the run reaches the results pane.
    void unwritableRegisterLeavesTheRunStanding()
    {
        fs::create_directory(AppFolder() / "output" / "registro.csv");
        QVERIFY(!*TypePoint("2400000", "5100000"));
        ExpectReportOf(2400000, 5100000);
        QCOMPARE(reporter->messages.size(), 2);
        QCOMPARE(reporter->messages[0], QStringLiteral("Eseguito!"));
        QVERIFY2(reporter->messages[1].contains(QString::fromStdString((AppFolder() / "output/registro.csv").string())),
                 qPrintable(reporter->messages[1]));
        QCOMPARE(window->Results()->Runs().size(), std::size_t(1));
        ExpectWindowGivenBack();
    }

    // "No" keeps the old report to the byte and the dialog open; "Sì" replaces it.
    void existingReportIsReplacedOnlyOnYes()
    {
        QVERIFY(!*TypePoint("2400000", "5100000"));
        const std::string before = FileBytes(Report());
        reporter->messages.clear();

        reporter->answers = {false};
        QVERIFY(*TypePoint("2450000", "5120000"));
        QCOMPARE(reporter->questions, QStringList{QString::fromUtf8("Il file Piogge.xls esiste già. Sostituirlo?")});
        QVERIFY(reporter->messages.isEmpty());
        QVERIFY(FileBytes(Report()) == before);

        reporter->questions.clear();
        reporter->answers = {true};
        QVERIFY(!*TypePoint("2450000", "5120000"));
        QCOMPARE(reporter->questions.size(), 1);
        QCOMPARE(reporter->messages, QStringList{"Eseguito!"});
        ExpectReportOf(2450000, 5120000);
        QCOMPARE(std::distance(fs::directory_iterator(AppFolder() / "output"), fs::directory_iterator()), 2);
        // The register: its header and the two runs that wrote a report.
        const std::string lines = FileBytes(AppFolder() / "output" / "registro.csv");
        QCOMPARE(std::count(lines.begin(), lines.end(), '\n'), 3);
        QVERIFY(lines.find(",Piogge.xls,2450000,5120000,") != std::string::npos);
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::EndToEndTest)
#include "test_endtoend.moc"
