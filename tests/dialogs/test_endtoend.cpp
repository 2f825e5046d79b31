// The point runs in the real program: the main window on the sample region,
// its GDAL map, the real dialogs, grids and report writer. Each test works in
// its own copy of the application folder; message boxes are answered here.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QMap>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "dialogs/Form2.h"
#include "dialogs/Form3.h"
#include "dialogs/PointDialogsImpl.h"
#include "window/Form1.h"
#include "maplayers/LayerTable.h"
#include "window/MunicipalityFinder.h"
#include "window/Reporter.h"
#include "window/ResultsPane.h"
#include "map/MapWidget.h"
#include "rain/Gev.h"
#include "tests/window/RecordingReporter.h"

namespace fs = std::filesystem;

namespace quorvel::testing {

namespace {

// The report's twelve cells, C6 ... H13, as python3-xlrd reads them.
QList<double> ReportCells(const fs::path& file)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QUORVEL_DEBIAN_PYTHON, {"-c", R"(
import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
cells = ["C6", "F6", "C7", "F7", "B10", "B13", "C13", "D13", "E13", "F13", "G13", "H13"]
print(*[sheet.cell_value(int(a[1:]) - 1, ord(a[0]) - ord("A")) for a in cells])
)", QString::fromStdString(file.string())});
    python.waitForFinished(60000);
    QList<double> values;
    for (const QByteArray& value : python.readAllStandardOutput().simplified().split(' '))
        values << value.toDouble();
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
    const fs::path previous = fs::current_path();
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<RecordingReporter> reporter;
    std::unique_ptr<PointDialogsImpl> dialogs;
    MapWidget* map = nullptr;  // owned by the window
    std::unique_ptr<Form1> window;

    fs::path AppFolder() const { return fs::path(folder->path().toStdString()); }
    fs::path Report() const { return AppFolder() / "output" / "Piogge.xls"; }
    QToolButton* Button(const char* name) const { return window->findChild<QToolButton*>(name); }

    // Acts on the modal point dialog as soon as it opens; gives up with "Annullare"
    // if the action left it open, so that the step that opened it returns. The
    // flag says whether the action left it open.
    std::shared_ptr<bool> WhenDialogOpens(std::function<void(PointDialog&)> action)
    {
        auto leftOpen = std::make_shared<bool>(false);
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [=] {
            auto* dialog = qobject_cast<PointDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll->stop();
            poll->deleteLater();
            action(*dialog);
            *leftOpen = dialog->isVisible();
            if (dialog->isVisible())
                QTest::mouseClick(dialog->Command2, Qt::LeftButton);
        });
        poll->start(10);
        return leftOpen;
    }

    // "Digitare le coordinate del punto", then the entries and "Elaborazione".
    std::shared_ptr<bool> TypePoint(const QString& east, const QString& north)
    {
        auto leftOpen = WhenDialogOpens([=](PointDialog& dialog) {
            auto& form3 = dynamic_cast<Form3&>(dialog);
            QTest::keyClicks(form3.Text1, east);
            QTest::keyClicks(form3.Text2, north);
            QTest::mouseClick(form3.Command1, Qt::LeftButton);
        });
        QTest::mouseClick(Button("Command2"), Qt::LeftButton);
        return leftOpen;
    }

    // The report holds the point and what the newest run of the results pane
    // found in the grids: the cell's centre, a2, and the quantiles of its a1 and cv.
    void ExpectReportOf(float east, float north)
    {
        const PointRain& rain = window->Results()->Runs().front().rain;
        QList<double> expected{east, north, rain.centre.x, rain.centre.y, rain.a2};
        for (std::int16_t T : kReturnPeriods)
            expected << GevQuantile(rain.cv, rain.a1, T);
        QCOMPARE(ReportCells(Report()), expected);
    }

    // A new main window over a new map, shown at that size or at its own.
    void OpenWindow(Reporter& messages, QSize size = {})
    {
        window.reset();
        map = new MapWidget;
        window = std::make_unique<Form1>(*map, map, messages, dialogs.get());
        window->Load();
        if (size.isValid())
            window->resize(size);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    // Enabled, and still picking when a pick or the typing button opened the
    // dialog: the pointer and the pressed button show it.
    void ExpectWindowGivenBack()
    {
        QVERIFY(window->MainWindowEnabled());
        QCOMPARE(map->cursor().shape(), Qt::CrossCursor);
        QVERIFY(Button("Command1")->isChecked());
    }

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        // The template is copied, as a test removes it; the rest is only
        // read, so linking it is enough.
        const fs::path source(QUORVEL_APP_DIR);
        fs::copy(source / "programs", AppFolder() / "programs", fs::copy_options::recursive);
        for (const char* data : {"grd", "dat", "Shp", "Raster"})
            fs::create_directory_symlink(source / data, AppFolder() / data);
        fs::create_directory(AppFolder() / "output");
        std::ofstream(AppFolder() / "Quorvel").put('\0');
        fs::current_path(AppFolder());

        reporter = std::make_unique<RecordingReporter>();
        dialogs = std::make_unique<PointDialogsImpl>();
        OpenWindow(*reporter);
    }
    void cleanup()
    {
        window.reset();  // before the reporter and the dialogs it uses
        fs::current_path(previous);
        folder.reset();
    }

    // A pick opens the map-point dialog with the whole metres of the clicked
    // pixel; its run writes the report and the register and reaches the
    // results pane. A typed point under the same name asks first: "No" keeps
    // the old report to the byte and the dialog open, "Sì" replaces it.
    void pickedAndTypedPointsWriteTheirReports()
    {
        const QPoint pixel(map->width() / 2 + 3, map->height() / 2 - 5);
        double east = 0, north = 0;
        map->PixelToProj(pixel.x(), pixel.y(), east, north);
        QString seen;  // the two labels, and whether the main window took input meanwhile
        const auto leftOpen = WhenDialogOpens([&](PointDialog& dialog) {
            auto& form2 = dynamic_cast<Form2&>(dialog);
            seen = form2.Label1->text() + ' ' + form2.Label2->text() + (window->MainWindowEnabled() ? " enabled" : " disabled");
            QTest::mouseClick(form2.Command1, Qt::LeftButton);
        });
        QTest::mouseClick(Button("Command1"), Qt::LeftButton);
        QTest::mouseClick(map, Qt::LeftButton, {}, pixel);
        QVERIFY(!*leftOpen);
        QCOMPARE(seen, QString::asprintf("%.0f %.0f disabled", std::nearbyint(east), std::nearbyint(north)));
        QCOMPARE(reporter->messages, QStringList{"Eseguito!"});
        ExpectReportOf(std::nearbyint(east), std::nearbyint(north));
        ExpectWindowGivenBack();
        const std::string before = FileBytes(Report());

        reporter->answers = {false, true};
        QVERIFY(*TypePoint("2400000", "5100000"));
        QVERIFY(FileBytes(Report()) == before);
        QVERIFY(!*TypePoint("2400000", "5100000"));
        QCOMPARE(reporter->questions, QStringList(2, QString::fromUtf8("Il file Piogge.xls esiste già. Sostituirlo?")));
        QCOMPARE(reporter->messages, (QStringList{"Eseguito!", "Eseguito!"}));
        ExpectReportOf(2400000, 5100000);
        // The centre of the point's cell, as the grid's geometry places it.
        QCOMPARE(ReportCells(Report()).mid(2, 2), (QList<double>{2400250, 5100250}));
        // Beside the report, the register: its header and the two runs that wrote a report.
        QCOMPARE(std::distance(fs::directory_iterator(AppFolder() / "output"), fs::directory_iterator()), 2);
        const std::string lines = FileBytes(AppFolder() / "output" / "registro.csv");
        QCOMPARE(std::count(lines.begin(), lines.end(), '\n'), 3);
        QVERIFY(lines.find(",Piogge.xls,2400000,5100000,") != std::string::npos);
        // The sample region's grids are invented, and every line says so.
        QVERIFY(lines.ends_with(",esempio\n"));
        QCOMPARE(window->Results()->Runs().size(), std::size_t(2));
        ExpectWindowGivenBack();
    }

    // Enter, then Enter again at the question, after a pick under the name of
    // an existing report: the question's own box says "No", the old report
    // stays byte for byte and the dialog stays open with the name.
    void enterNeverReplacesAReport()
    {
        struct RealQuestions : RecordingReporter {
            bool Ask(QWidget* parent, const QString& text) override
            {
                questions << text;
                return MessageBoxReporter().Ask(parent, text);
            }
        };
        RealQuestions questions;
        OpenWindow(questions);
        fs::copy_file(AppFolder() / "programs" / "prototipo" / "pioggeTRNprot.xls", Report());
        const std::string before = FileBytes(Report());

        bool boxSeen = false;
        const auto leftOpen = WhenDialogOpens([&](PointDialog& dialog) {
            QTimer::singleShot(50, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                boxSeen = box != nullptr;
                if (box)
                    QTest::keyClick(box, Qt::Key_Return);
            });
            QTest::keyClick(&dialog, Qt::Key_Return);
            QCOMPARE(dynamic_cast<Form2&>(dialog).Text1->text(), QStringLiteral("Piogge"));
        });
        QTest::mouseClick(Button("Command1"), Qt::LeftButton);
        QTest::mouseClick(map, Qt::LeftButton, {}, QPoint(map->width() / 2, map->height() / 2));
        QVERIFY(boxSeen);
        QVERIFY(*leftOpen);
        QCOMPARE(questions.questions, QStringList{"Il file Piogge.xls esiste già. Sostituirlo?"});
        QVERIFY(questions.messages.isEmpty());
        QVERIFY(FileBytes(Report()) == before);
        QVERIFY(window->Results()->Runs().empty());
        window.reset();
    }

    // A failed run says what went wrong and keeps the dialog open; the main
    // window comes back when the user gives up.
    void failedRunSaysWhy_data()
    {
        QTest::addColumn<QString>("east");
        QTest::addColumn<QString>("removed");  // from the application folder
        QTest::addColumn<QString>("message");  // a part of the message
        // The sample grids have 361 columns: the line under the coordinate
        // message tells the area their headers give.
        QTest::newRow("east of the grid")
            << "2490500" << ""
            << QString(kCoordinateMessage) + "\nCasella E: 2490500 è fuori dalla griglia (Est da 2310000 a 2490500 m).";
        // The details are Italian too, from the system or the program's own checks.
        QTest::newRow("missing template") << "2400000" << "programs/prototipo/pioggeTRNprot.xls"
                                          << "programs/prototipo/pioggeTRNprot.xls\nfile o cartella inesistente";
        QTest::newRow("output folder missing") << "2400000" << "output" << "/output\nla cartella non esiste";
        QTest::newRow("file in place of the output folder") << "2400000" << "output" << "/output\nnon è una cartella";
        QTest::newRow("output folder read-only") << "2400000" << "" << "/output\nla cartella è in sola lettura";
        QTest::newRow("no executable in folder") << "2400000" << "Quorvel" << "Impossibile trovare la cartella del programma";
    }
    void failedRunSaysWhy()
    {
        QFETCH(QString, east);
        QFETCH(QString, removed);
        QFETCH(QString, message);
        const QByteArray row = QTest::currentDataTag();
        if (!removed.isEmpty())
            fs::remove(AppFolder() / removed.toStdString());
        if (row == "file in place of the output folder")
            std::ofstream(AppFolder() / "output") << "not a folder";  // refused even to root
        if (row == "output folder read-only") {
            if (::geteuid() == 0)
                QSKIP("root writes into a read-only folder");
            fs::permissions(AppFolder() / "output", fs::perms::owner_read | fs::perms::owner_exec);
        }
        QVERIFY(*TypePoint(east, "5100000"));
        QCOMPARE(reporter->messages.size(), 1);
        QVERIFY2(reporter->messages[0].contains(message), qPrintable(reporter->messages[0]));
        ExpectWindowGivenBack();
        if (fs::is_directory(AppFolder() / "output")) {
            fs::permissions(AppFolder() / "output", fs::perms::owner_all, fs::perm_options::add);
            QVERIFY(fs::is_empty(AppFolder() / "output"));
        }
    }

    // The region fills the map as the window first shows it, at the default
    // size and at the smallest; once the view is moved, a resize keeps its scale.
    void regionInViewAtStart_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("default") << QSize();
        QTest::newRow("800x600") << QSize(800, 600);
    }
    void regionInViewAtStart()
    {
        QFETCH(QSize, size);
        OpenWindow(*reporter, size);
        QCoreApplication::processEvents();

        ShapefileLayer* provinces = map->GetLayerObject(kProvinceLayer);
        QVERIFY(provinces != nullptr && provinces->ShapeCount() > 0);
        MapExtents region = provinces->ShapeExtents(0);
        for (int shape = 1; shape < provinces->ShapeCount(); ++shape) {
            const MapExtents e = provinces->ShapeExtents(shape);
            region = {std::min(region.xMin, e.xMin), std::max(region.xMax, e.xMax), std::min(region.yMin, e.yMin),
                      std::max(region.yMax, e.yMax)};
        }
        const MapExtents view = map->GetExtents();
        const double fill = std::max((region.xMax - region.xMin) / (view.xMax - view.xMin),
                                     (region.yMax - region.yMin) / (view.yMax - view.yMin));
        QVERIFY2(fill >= 0.8, qPrintable(QString::number(fill)));
        QVERIFY(view.xMin <= region.xMin + 1 && view.xMax >= region.xMax - 1 && view.yMin <= region.yMin + 1 &&
                view.yMax >= region.yMax - 1);

        map->ZoomToExtents({2390000, 2400000, 5090000, 5100000});
        const double scale = (map->GetExtents().xMax - map->GetExtents().xMin) / map->width();
        const int before = map->width();
        window->resize(window->size() + QSize(100, 80));
        QTRY_VERIFY(map->width() > before);
        QVERIFY(std::abs((map->GetExtents().xMax - map->GetExtents().xMin) / map->width() - scale) < 1e-6 * scale);
    }

    // Over the sample's place names: a name that only one place bears, typed
    // in lower case without its accents, then Enter, shows that place in a
    // 5 km view around it and writes it as the list does, with its municipality.
    void placeSearchOverTheSampleNames()
    {
        ShapefileLayer* places = map->GetLayerObject(kPlaceNames);
        QVERIFY(places != nullptr && places->ShapeCount() > 1000);
        QMap<QString, int> bearers;
        for (int shape = 0; shape < places->ShapeCount(); ++shape)
            ++bearers[FoldForMatching(QString::fromStdString(places->CellValue(0, shape)))];
        auto* combo = window->findChild<QComboBox*>(QStringLiteral("Combo1"));
        int found = 0;
        for (int shape = 0; shape < places->ShapeCount() && found < 3; shape += 97) {
            const QString name = QString::fromStdString(places->CellValue(0, shape));
            const QString folded = FoldForMatching(name);
            if (bearers[folded] != 1 || combo->findText(name, Qt::MatchFixedString) >= 0)
                continue;
            ++found;
            combo->setFocus();
            combo->clearEditText();
            QTest::keyClicks(combo->lineEdit(), folded);
            combo->completer()->popup()->hide();
            QTest::keyClick(combo, Qt::Key_Return);
            QVERIFY2(combo->currentText().startsWith(name + " (") && combo->currentText().endsWith(u')'),
                     qPrintable(combo->currentText()));
            const MapExtents box = places->ShapeExtents(shape);
            const MapExtents view = map->GetExtents();
            QVERIFY(std::abs((view.xMin + view.xMax) / 2 - box.xMin) < 1 && std::abs((view.yMin + view.yMax) / 2 - box.yMin) < 1);
            QCOMPARE(std::round(std::min(view.xMax - view.xMin, view.yMax - view.yMin)), 5000.0);
        }
        QCOMPARE(found, 3);
        QCOMPARE(reporter->messages, QStringList());
    }

    // Under the Italian locale, which QApplication takes from the user at
    // start, a run writes the report it writes under C to the byte, and the
    // same numbers in the register; the template's formulas round the
    // report's numbers and join them to text.
    void sameReportInEveryLocale()
    {
        QProcess python;
        python.setProcessChannelMode(QProcess::ForwardedChannels);
        python.start(QUORVEL_DEBIAN_PYTHON, {"-c", R"py(
import sys, xlwt
book = xlwt.Workbook()
sheet = book.add_sheet("Report")
for column, formula in enumerate(["ROUND(B13,1)", "ROUNDUP(C13,0)", 'B10&""', "ROUND(B10,3)*1000"], 1):
    sheet.write(13, column, xlwt.Formula(formula))
book.save(sys.argv[1])
)py", QString::fromStdString((AppFolder() / "programs/prototipo/pioggeTRNprot.xls").string())});
        QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);
        const std::unique_ptr<void, void (*)(void*)> restore(this, [](void*) { std::setlocale(LC_ALL, ""); });
        std::vector<std::string> reports, lines;
        for (const char* name : {"C", "it_IT.UTF-8"}) {
            QVERIFY2(std::setlocale(LC_ALL, name) != nullptr, name);
            QVERIFY(!*TypePoint("2418659", "5159030"));
            reports.push_back(FileBytes(Report()));
            const std::string text = FileBytes(AppFolder() / "output" / "registro.csv");
            const std::size_t start = text.rfind('\n', text.size() - 2) + 1;
            lines.push_back(text.substr(text.find(',', start)));  // all but the time
        }
        QCOMPARE(reporter->messages, (QStringList{"Eseguito!", "Eseguito!"}));
        QVERIFY(reports[0] == reports[1]);
        QCOMPARE(lines[0], lines[1]);
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::EndToEndTest)
#include "test_endtoend.moc"
