// The results pane of the main window over the recording map: its rows,
// copies, chart, actions and map marks.
#include <bit>
#include <memory>
#include <random>
#include <set>

#include <QAction>
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QValueAxis>
#include <QtTest>

#include "tests/window/Form1Fixture.h"
#include "maplayers/DetailView.h"
#include "window/Desktop.h"
#include "window/FormStyle.h"
#include "window/RainChart.h"
#include "window/ReportPreview.h"
#include "window/ResultsPane.h"
#include "rain/Error.h"
#include "report/Report.h"
#include "tests/rain/GridFixture.h"

namespace quorvel::testing {

namespace {

// Opens nothing: keeps what it was asked to open, fails when told to, and
// answers the save dialog.
class RecordingDesktop : public Desktop {
public:
    QStringList opened;
    bool failing = false;
    QString saveAs;

    void Open(const QString& path, std::function<void()> failed) override
    {
        opened << path;
        if (failing)
            failed();
    }
    QString chosenFilter;  // empty: the one offered first
    QString offeredFilter;  // the one offered first, last time

    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&, QString* chosen) override
    {
        if (chosen != nullptr)
            offeredFilter = *chosen;
        if (chosen != nullptr && !chosenFilter.isEmpty())
            *chosen = chosenFilter;
        return saveAs;
    }
};

PointRunResult SomeRun(const std::string& name, std::string folder = "/apps/quorvel/")
{
    const PointRain rain{.cell = {140, 181}, .centre = {2400250, 5100250}, .a2 = 0.375f, .a1 = 26.448189f, .cv = 0.3f,
                         .quantiles = {24.5f, 33.47f, 39, 45.5f, 53.75f, 60, 66.5f}};
    return {{2400000.5f, 5100000}, rain, std::move(folder), name};
}

// What the pane writes of SomeRun after its report's name: as many digits as a float needs, no more.
const QString kValues = QStringLiteral(
    "2400000.5\t5100000\t140\t181\t2400250\t5100250\t0.375\t26.448189\t0.3\t24.5\t33.47\t39\t45.5\t53.75\t60\t66.5\n");

// The three grids, of 361 columns, with values that change from cell to cell
// and sea (-9999) in every seventh row; a2 is scaled by a2Scale.
void WriteGrids(float a2Scale = 1)
{
    std::vector<float> a2, a1, cv;
    for (int r = 1; r <= kGridRows; ++r)
        for (int c = 1; c <= 361; ++c) {
            const bool sea = r % 7 == 0;
            a2.push_back(sea ? -9999 : a2Scale * (0.2f + float((r * 31 + c * 17) % 97) / 331.0f));
            a1.push_back(sea ? -9999 : 18.0f + float((r * 13 + c * 7) % 101) / 7.0f);
            cv.push_back(0.15f + float((r + 3 * c) % 89) / 401.0f);
        }
    test::WriteParameterGrid("a2", 361, kGridRows, a2);
    test::WriteParameterGrid("a1", 361, kGridRows, a1);
    test::WriteParameterGrid("cv", 361, kGridRows, cv);
}

// The values to the last bit.
QString Bits(const PointRain& rain)
{
    QStringList bits{QString::number(rain.cell.row), QString::number(rain.cell.column)};
    for (const float value : {rain.centre.x, rain.centre.y, rain.a2, rain.a1, rain.cv})
        bits << QString::number(std::bit_cast<std::uint32_t>(value), 16);
    for (const float q : rain.quantiles.InOrder())
        bits << QString::number(std::bit_cast<std::uint32_t>(q), 16);
    return bits.join(u' ');
}

// A run's values, reading the files afresh, or empty when it fails.
QString RunValues(GaussBoagaPoint point)
{
    try {
        return Bits(ComputePointRain(point));
    } catch (const Error&) {
        return {};
    }
}

// The style's layout of an item's text in its cell, and the margins the view
// keeps inside it: the text shows whole when it is no wider than what is left.
QRect TextRect(const QTableWidget& table, const QTableWidgetItem& item, int width)
{
    QStyleOptionViewItem option;
    option.initFrom(&table);
    option.rect = QRect(0, 0, width - (table.showGrid() ? 1 : 0), table.rowHeight(item.row()));
    option.font = item.data(Qt::FontRole).isValid() ? item.font() : table.font();
    option.fontMetrics = QFontMetrics(option.font);
    option.text = item.text();
    option.features = QStyleOptionViewItem::HasDisplay;
    if (!item.icon().isNull()) {
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.icon = item.icon();
        option.decorationSize = table.iconSize();
    }
    option.widget = &table;
    const int margin = table.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &table) + 1;
    return table.style()->subElementRect(QStyle::SE_ItemViewItemText, &option, &table).adjusted(margin, 0, -margin, 0);
}

bool ShowsWhole(const QTableWidget& table, const QTableWidgetItem& item)
{
    const QFont font = item.data(Qt::FontRole).isValid() ? item.font() : table.font();
    return QFontMetrics(font).horizontalAdvance(item.text()) <=
           TextRect(table, item, table.columnWidth(item.column())).width();
}

// The narrowest column of the table that shows that text whole in the item's place.
int NameWidth(const QTableWidget& table, int row, const QString& text)
{
    QTableWidgetItem item(*table.item(row, 0));
    item.setText(text);
    const QFont font = item.data(Qt::FontRole).isValid() ? item.font() : table.font();
    const int advance = QFontMetrics(font).horizontalAdvance(item.text());
    int width = advance;
    while (TextRect(table, item, width).width() < advance)
        ++width;
    return width;
}

}  // namespace

class ResultsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Form1Fixture> fixture;
    RecordingDesktop desktop;

    Form1& Window() { return *fixture->form; }
    ResultsPane& Pane() { return *Window().Results(); }
    QTableWidget& Table() { return *Pane().Table(); }
    QPushButton* Button(const QString& text)
    {
        for (QPushButton* each : Pane().findChildren<QPushButton*>())
            if (each->text() == text)
                return each;
        return nullptr;
    }
    void Click(const QString& text)
    {
        QPushButton* button = Button(text);
        QVERIFY2(button, qPrintable(text));
        button->click();
    }
    QStringList Legend()
    {
        QStringList names;
        for (QAbstractSeries* series : Pane().Chart()->chart()->series())
            names << series->name();
        return names;
    }

private slots:
    void init()
    {
        fixture.reset();  // gives the working folder back before the next fixture takes it
        QLocale::setDefault(QLocale::c());
        fixture = std::make_unique<Form1Fixture>();
        fixture->WriteTable(ComuniRecord("1", "Alfa") + "\r\n");
        fixture->map.extents = {2390000, 2410000, 5090000, 5110000};  // SomeRun's point in view
        fixture->Make().Load();
        desktop = {};
        Window().SetDesktop(desktop);
        Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Window()));
    }

    // The buttons, the chart, the map marks and the double click over two
    // runs. The copy takes the locale's decimal separator, the CSV file always ".".
    void actions_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("C") << "C";
        QTest::newRow("it_IT") << "it_IT";
    }
    void actions()
    {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        const QString decimal = QLocale().decimalPoint();
        const QString folder = QDir::currentPath() + u'/';
        QDir().mkpath(QStringLiteral("output"));
        QVERIFY(Pane().isVisible());
        Window().RunCompleted(SomeRun("Vecchio", folder.toStdString()));
        QVERIFY(Pane().isVisible());
        Window().RunCompleted(SomeRun("Piogge", folder.toStdString()));
        // Each run marks its cell and leaves the view alone; the newest is
        // selected, charted and marked strong.
        const std::vector<RunMark>& marks = fixture->map.runMarks;
        const RunMark strong{2400000.5, 5100000, {2400000, 2400500, 5100000, 5100500}, true};
        QCOMPARE(marks, (std::vector<RunMark>{strong, {strong.x, strong.y, strong.cell, false}}));
        QVERIFY(fixture->map.CallsTo({"ZoomToExtents", "ZoomToShape", "ZoomToLayer"}).empty());
        QCOMPARE(Legend(), QStringList{"Piogge.xls"});

        // A report that is gone is told, and its row stays.
        Click(QStringLiteral("Apri report"));
        QCOMPARE(fixture->reporter.messages,
                 QStringList{"Il report " + folder + "output/Piogge.xls non esiste più: forse è stato spostato o cancellato."});

        QFile(folder + QStringLiteral("output/Piogge.xls")).open(QIODevice::WriteOnly);
        Click(QStringLiteral("Apri report"));
        Click(QStringLiteral("Apri cartella"));
        QCOMPARE(desktop.opened, (QStringList{folder + "output/Piogge.xls", folder + "output/"}));

        desktop.saveAs = folder + QStringLiteral("risultati.csv");
        Click(QStringLiteral("Esporta CSV…"));
        QFile saved(desktop.saveAs);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString values = u',' + QString(kValues).replace(u'\t', u',');
        QCOMPARE(QString::fromUtf8(saved.readAll()),
                 QStringLiteral("report,E,N,riga,colonna,centro_E,centro_N,a2,a1,cv,q2,q5,q10,q20,q50,q100,q200,"
                                "sostituito\nPiogge.xls") +
                     values.chopped(1) + QStringLiteral(",no\nVecchio.xls") + values.chopped(1) +
                     QStringLiteral(",no\n"));

        // Rows come newest first. The newest mark stays strong beside the selected one.
        Table().clearSelection();
        Table().selectRow(1);
        QCOMPARE(Legend(), QStringList{"Vecchio.xls"});
        QCOMPARE(marks, (std::vector<RunMark>{strong, strong}));
        Click(QStringLiteral("Copia"));
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("Report\tE\tN\tRiga\tColonna\tCentro E\tCentro N\ta2\ta1\tcv\tq2 (mm)\tq5 (mm)\t"
                                "q10 (mm)\tq20 (mm)\tq50 (mm)\tq100 (mm)\tq200 (mm)\nVecchio.xls\t") +
                     QString(kValues).replace(u'.', decimal));
        // The table shows the quantiles to one decimal.
        QCOMPARE(Table().item(1, 2)->text(), QStringLiteral("33") + decimal + QStringLiteral("5"));

        // A double click zooms round the row's cell; then the detail view does
        // what it does after any other zoom to that view. The first click of a
        // double click, as a mouse sends it, changes nothing.
        FakeMapView& map = fixture->map;
        map.ClearCalls();
        QTRY_VERIFY(Table().viewport()->rect().contains(Table().visualItemRect(Table().item(1, 3))));
        const QRect row = Table().visualItemRect(Table().item(1, 3));
        QTest::mouseClick(Table().viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(Table().viewport(), Qt::LeftButton, {}, row.center());
        const std::vector<std::string> clicked = map.calls;
        map.ClearCalls();
        map.calls.push_back("ZoomToExtents(2399500,2401000,5099500,5101000)");
        Window().State().distretto = QStringLiteral("UD");
        UpdateDetailView(map, Window().State().distretto);
        QCOMPARE(clicked, map.calls);

        // When no program of the desktop opens the folder or the report, the
        // user is told which, to open it by hand.
        fixture->reporter.messages.clear();
        desktop.failing = true;
        Click(QStringLiteral("Apri cartella"));
        Table().clearSelection();
        Table().selectRow(0);
        Click(QStringLiteral("Apri report"));
        QCOMPARE(fixture->reporter.messages,
                 (QStringList{"Nessun programma del desktop ha aperto la cartella " + folder +
                                  "output/: aprirla a mano con il gestore dei file.",
                              "Nessun programma del desktop ha aperto il report " + folder +
                                  "output/Piogge.xls: aprirlo a mano con un foglio di calcolo."}));

        // Two runs are not emptied without asking.
        fixture->reporter.answers = {false};
        Click(QStringLiteral("Pulisci"));
        QCOMPARE(Table().rowCount(), 2);
        Click(QStringLiteral("Pulisci"));
        QCOMPARE(fixture->reporter.questions,
                 QStringList(2, QStringLiteral("Svuotare l'elenco delle 2 elaborazioni? I report e il registro restano.")));
        QCOMPARE(Table().rowCount(), 0);
        QVERIFY(marks.empty());
        QVERIFY(Legend().isEmpty());
    }

    // "Esporta PDF…" appears with a writer of sheets, asks where to save the
    // selected row's sheet, adds the extension and tells a failure; with no
    // row selected it is disabled.
    void exportPdf()
    {
        QPushButton* button = Button(QStringLiteral("Esporta PDF…"));
        QVERIFY(button && button->isHidden());
        std::vector<std::pair<std::string, std::string>> written;
        bool fail = false;
        Pane().SetSheetWriter([&](const PointRunResult& run, const std::string& path) {
            if (fail)
                throw Error(ErrorKind::PathAccess, path, SystemDetail(EACCES));
            written.emplace_back(run.outputName, path);
        });
        QVERIFY(!button->isHidden());
        Window().RunCompleted(SomeRun("Valle"));
        Window().RunCompleted(SomeRun("Monte"));
        Table().selectRow(1);
        desktop.saveAs = QStringLiteral("scheda");
        Click(QStringLiteral("Esporta PDF…"));
        fail = true;
        Click(QStringLiteral("Esporta PDF…"));
        QVERIFY(button->isEnabled());
        Table().clearSelection();
        QVERIFY(!button->isEnabled());
        QCOMPARE(written, (std::vector<std::pair<std::string, std::string>>{{"Valle", "scheda.pdf"}}));
        QCOMPARE(fixture->reporter.messages.size(), 1);
        QVERIFY(fixture->reporter.messages[0].contains(QStringLiteral("scheda.pdf")));
    }

    // A later run under the same name replaces the file an earlier row names:
    // that row says so, and "Apri report" on it opens nothing. Another name,
    // or another folder, replaces nothing.
    void replacedRows()
    {
        const std::string folder = QDir::currentPath().toStdString() + '/';
        QDir().mkpath(QStringLiteral("output"));
        QFile(QStringLiteral("output/Piogge.xls")).open(QIODevice::WriteOnly);
        for (const auto& [name, where] : {std::pair{"Piogge", folder}, {"Altro", folder}, {"Piogge", std::string("/else/")},
                                          {"Piogge", folder}})
            Window().RunCompleted(SomeRun(name, where));
        QCOMPARE((std::vector<bool>{Pane().Replaced(0), Pane().Replaced(1), Pane().Replaced(2), Pane().Replaced(3)}),
                 (std::vector<bool>{false, false, false, true}));
        Table().clearSelection();
        Table().selectRow(3);
        Click(QStringLiteral("Apri report"));
        QVERIFY(desktop.opened.isEmpty());
        QCOMPARE(fixture->reporter.messages.size(), 1);
        QVERIFY(fixture->reporter.messages[0].contains(QStringLiteral("è stato sostituito")));
        Table().clearSelection();
        Table().selectRow(0);
        Click(QStringLiteral("Apri report"));
        QCOMPARE(desktop.opened, QStringList{QString::fromStdString(folder) + "output/Piogge.xls"});
    }

    // The "Report" view: the selected run's report as it holds it, numbers in
    // the user's format; for a report that cannot be read, the reason.
    void reportView()
    {
        const std::string folder = QDir::currentPath().toStdString() + '/';
        QDir().mkpath(QStringLiteral("output"));
        WriteRainReportFile(2400000.5f, 5100000, 2400250, 5100250, 0.375f, 24.5f, 33.47f, 39, 45.5f, 53.75f, 60,
                            66.5f, QUORVEL_SAMPLE_TEMPLATE, "output/Piogge.xls");
        Window().RunCompleted(SomeRun("Mancante", folder));
        Window().RunCompleted(SomeRun("Piogge", folder));
        Pane().Views()->setCurrentIndex(1);
        const ReportPreview& preview = *Pane().Preview();
        QCOMPARE(preview.rowCount(), 42);
        QCOMPARE(preview.item(17, 3)->text(), QStringLiteral("50.6"));  // a formula's result, 39 * 2^0.375
        QVERIFY(preview.item(17, 3)->textAlignment() & Qt::AlignRight);
        QVERIFY(preview.item(0, 0)->font().bold());
        QCOMPARE(preview.columnSpan(0, 0), 8);
        QCOMPARE(preview.editTriggers(), QAbstractItemView::NoEditTriggers);

        Table().clearSelection();
        Table().selectRow(1);
        QCOMPARE(preview.rowCount(), 1);
        QVERIFY(preview.item(0, 0)->text().contains(QStringLiteral("Mancante.xls")));
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
        Table().clearSelection();
        Table().selectRow(0);
        QCOMPARE(preview.item(17, 3)->text(), QStringLiteral("50,6"));
    }

    // The Italian CSV: semicolons, decimal commas, a byte order mark, a name
    // quoted when it holds a semicolon, the file's extension added and a
    // column of the replaced rows; the next export offers the format chosen
    // last. A saved chart holds the selected runs; the pointer's dashed curve
    // only when asked.
    void exportsSayWhatTheyDid()
    {
        const std::string folder = QDir::currentPath().toStdString() + '/';
        QDir().mkpath(QStringLiteral("output"));
        for (const char* name : {"a;b", "Prova1", "Prova1"})
            Window().RunCompleted(SomeRun(name, folder));
        const QString italian = QStringLiteral("CSV per fogli di calcolo in italiano: punto e virgola, virgola decimale (*.csv)");
        desktop.saveAs = QStringLiteral("risultati");
        desktop.chosenFilter = italian;
        Click(QStringLiteral("Esporta CSV…"));
        QFile saved(QStringLiteral("risultati.csv"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QString values = u';' + QString(kValues).chopped(1).replace(u'.', u',').replace(u'\t', u';');
        QCOMPARE(QString::fromUtf8(bytes.mid(3)),
                 QStringLiteral("report;E;N;riga;colonna;centro_E;centro_N;a2;a1;cv;q2;q5;q10;q20;q50;q100;q200;"
                                "sostituito\nProva1.xls") +
                     values + QStringLiteral(";no\nProva1.xls") + values + QStringLiteral(";sì\n\"a;b.xls\"") + values +
                     QStringLiteral(";no\n"));
        desktop.chosenFilter.clear();
        Click(QStringLiteral("Esporta CSV…"));
        QCOMPARE(desktop.offeredFilter, italian);

        PointerReading reading{{2400000, 5100000}, SomeRun("").rain, {}};
        reading.rain->quantiles.q200 = 120;
        Pane().ShowPointer(reading);
        const auto savedCurves = [&] {
            desktop.saveAs = QStringLiteral("grafico.svg");
            Click(QStringLiteral("Salva grafico…"));
            QFile file(desktop.saveAs);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray selectedOnly = savedCurves();
        QVERIFY(selectedOnly.contains("stroke=\"#4e79a7\""));
        QVERIFY(!selectedOnly.contains("stroke=\"#555555\""));
        QVERIFY(!selectedOnly.contains("Sotto il puntatore"));
        auto* withPointer = Pane().Chart()->findChild<QAction*>(QStringLiteral("SalvaPuntatore"));
        QVERIFY(withPointer && Pane().Chart()->actions().contains(withPointer));
        withPointer->setChecked(true);
        const QByteArray both = savedCurves();
        QVERIFY(both.contains("stroke=\"#4e79a7\"") && both.contains("stroke=\"#555555\""));
        QVERIFY(both.contains("Sotto il puntatore"));
    }

    // At every window size and letter size the quantiles' columns hold
    // "1999,9" whole and all seven lie in view without scrolling sideways,
    // in letters no smaller than the tables' smallest; the names' column holds
    // the longest name whenever the pane has room for it, as at 620 px, and
    // its tooltip always does.
    void paneWidths_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("points");
        for (const char* window : {"default", "800x600", "maximised", "pane 620"})
            for (int points = 8; points <= 12; ++points)
                QTest::addRow("%s, %d pt", window, points) << QString::fromLatin1(window) << points;
    }
    void paneWidths()
    {
        QFETCH(QString, window);
        QFETCH(int, points);
        PointRunResult widest = SomeRun("Prova1");
        widest.rain.quantiles = {1999.94f, 1999.94f, 1999.94f, 1999.94f, 1999.94f, 1999.94f, 1999.94f};
        Window().RunCompleted(widest);
        Window().RunCompleted(SomeRun("Prova1"));
        Pane().ShowPointer({{2400000, 5100000}, widest.rain, {}});
        Window().setFont(FormFont(points));
        if (window == QLatin1String("800x600"))
            Window().resize(800, 600);
        if (window == QLatin1String("maximised"))
            Window().showMaximized();
        if (window == QLatin1String("pane 620")) {
            Window().resize(1280, 800);
            QTest::qWait(20);
            auto* split = Window().findChild<QSplitter*>(QStringLiteral("MapAndResults"));
            const QList<int> sizes = split->sizes();
            split->setSizes({sizes[0] + sizes[1] - 620, 620});
        }
        QTest::qWait(20);
        if (window == QLatin1String("pane 620"))
            QCOMPARE(Pane().width(), 620);
        const QString longest = QStringLiteral("Prova1.xls (sostituito)");
        QCOMPARE(Table().item(1, 0)->text(), longest);
        QVERIFY(Table().item(1, 0)->toolTip().startsWith(longest + u'\n'));
        int quantiles = 0;
        for (QTableWidget* table : {Pane().PointerTable(), &Table()}) {
            QVERIFY(table->font().pointSizeF() <= FormFont(points).pointSizeF() * 7.5 / 8.25);
            QVERIFY(QFontMetrics(table->font()).height() >= 10);
            const int q200 = 7;
            const int end = table->columnViewportPosition(q200) + table->columnWidth(q200);
            QCOMPARE(table->horizontalScrollBar()->value(), 0);
            QVERIFY2(end <= table->viewport()->width(),
                     qPrintable(QStringLiteral("%1 > %2").arg(end).arg(table->viewport()->width())));
            // A pane wider than the map leaves it would run past the window's edge.
            QVERIFY(table->viewport()->mapTo(&Window(), QPoint(end, 0)).x() <= Window().width());
            for (int column = 1; column <= 7; ++column) {
                QTableWidgetItem* item = table->item(table == &Table() ? 1 : 0, column);
                QCOMPARE(item->text(), QStringLiteral("1999,9").replace(u',', QLocale().decimalPoint()));
                QVERIFY2(ShowsWhole(*table, *item), qPrintable(QString::number(column)));
                quantiles += table == &Table() ? table->columnWidth(column) : 0;
            }
        }
        const bool room = Pane().PointerTable()->viewport()->width() - quantiles >= NameWidth(Table(), 0, longest);
        if (room)
            QVERIFY(ShowsWhole(Table(), *Table().item(1, 0)) &&
                    ShowsWhole(*Pane().PointerTable(), *Pane().PointerTable()->item(0, 0)));
        if (window == QLatin1String("pane 620"))
            QVERIFY(room);
    }

    // A typed run outside the view moves the view, at its scale, onto the
    // point, and the detail view follows; a run inside leaves the view alone.
    void runOutsideTheViewIsShown()
    {
        FakeMapView& map = fixture->map;
        map.extents = {2400000 - 5000, 2400000 + 5000, 5100000 - 3000, 5100000 + 3000};
        map.ClearCalls();
        Window().RunCompleted(SomeRun("Dentro"));
        QCOMPARE(map.CallsTo({"ZoomToExtents"}), "");
        map.extents = {0, 10000, 0, 6000};
        Window().RunCompleted(SomeRun("Fuori"));
        QCOMPARE(map.CallsTo({"ZoomToExtents", "SetLayerVisible"}),
                 "ZoomToExtents(2395000.5,2405000.5,5097000,5103000) SetLayerVisible(3,false) SetLayerVisible(4,true) "
                 "SetLayerVisible(6,false)");
    }

    // Ticks and labels at every return period; at least five ticks on the
    // height axis; twelve selected rows give twelve curves of twelve colours.
    void chart()
    {
        for (int i = 0; i < 12; ++i)
            Window().RunCompleted(SomeRun("Punto " + std::to_string(i)));
        Table().selectAll();
        QChart* chart = Pane().Chart()->chart();
        auto* periods = qobject_cast<QCategoryAxis*>(chart->axes(Qt::Horizontal).front());
        QVERIFY(periods != nullptr);
        QCOMPARE(periods->categoriesLabels(), (QStringList{"2", "5", "10", "20", "50", "100", "200"}));
        for (const int T : kChartPeriods)
            QCOMPARE(periods->endValue(QString::number(T)), std::log10(T));
        QCOMPARE(periods->titleText(), QStringLiteral("Tempo di ritorno T (anni)"));
        auto* heights = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).front());
        QCOMPARE(heights->titleText(), QStringLiteral("h 1 ora (mm)"));
        QVERIFY(heights->tickCount() >= 5 && heights->isGridLineVisible());
        QVERIFY(heights->min() <= 24.5 && heights->max() >= 66.5);
        std::set<QRgb> colours;
        for (QAbstractSeries* series : chart->series())
            colours.insert(static_cast<QLineSeries*>(series)->pen().color().rgb());
        QCOMPARE(chart->series().size(), 12);
        QCOMPARE(colours.size(), std::size_t(12));

        // "Salva grafico…" saves it as the chosen format; a name without an
        // extension gets the format's.
        for (const auto& [name, filter, saved] :
             {std::tuple{"grafico.svg", "", "grafico.svg"}, {"grafico", "Immagine PNG (*.png)", "grafico.png"},
              {"grafico", "Disegno SVG (*.svg)", "grafico.svg"}}) {
            QFile::remove(QString::fromLatin1(saved));
            desktop.saveAs = QString::fromLatin1(name);
            desktop.chosenFilter = QString::fromLatin1(filter);
            Click(QStringLiteral("Salva grafico…"));
            QFile file(QString::fromLatin1(saved));
            QVERIFY2(file.open(QIODevice::ReadOnly), saved);
            const QByteArray bytes = file.readAll();
            if (QByteArray(saved).endsWith(".svg"))
                QVERIFY(bytes.contains("<svg") && bytes.contains("viewBox=\"0 0 1000 600\""));
            else
                QCOMPARE(QImage::fromData(bytes, "PNG").size(), QSize(1000, 600));
        }
    }

    // The row under the pointer holds a run's values to the last bit, for
    // points in and out of the grid and of the sea; it follows a grid file
    // replaced while the program runs, and writes nothing.
    void pointerRow()
    {
        WriteGrids();
        std::mt19937 random(21);
        std::uniform_real_distribution<double> east(2305000, 2495000), north(5035000, 5175000);
        std::vector<std::pair<double, double>> points;
        for (int i = 0; i < 200; ++i)
            points.emplace_back(east(random), north(random));
        FakeMapView& map = fixture->map;
        map.pixelToProj = [&](double px, double, double& x, double& y) {
            x = points[std::size_t(px)].first;
            y = points[std::size_t(px)].second;
        };
        int inGrid = 0;
        for (int i = 0; i < 200; ++i) {
            map.RaiseMouseMove(i, 0);
            const GaussBoagaPoint whole{float(std::nearbyint(points[std::size_t(i)].first)),
                                        float(std::nearbyint(points[std::size_t(i)].second))};
            const PointerReading& reading = *Pane().Pointer();
            QCOMPARE(reading.point, whole);
            QCOMPARE(reading.rain ? Bits(*reading.rain) : QString(), RunValues(whole));
            QVERIFY(reading.rain || !reading.note.isEmpty());
            inGrid += reading.rain.has_value();
        }
        QVERIFY(inGrid > 100);
        QCOMPARE(Legend().first(), QStringLiteral("Sotto il puntatore"));
        QCOMPARE(Pane().PointerTable()->item(0, 1)->text(),
                 QLocale().toString(Pane().Pointer()->rain->quantiles.q2, 'f', 1));

        const float before = Pane().Pointer()->rain->a2;
        WriteGrids(2);
        map.RaiseMouseMove(199, 0);
        QCOMPARE(Pane().Pointer()->rain->a2, 2 * before);
        QCOMPARE(Bits(*Pane().Pointer()->rain), RunValues(Pane().Pointer()->point));
        QVERIFY(!QDir(QStringLiteral("output")).exists());
        QVERIFY(Pane().Runs().empty());
    }

    // While a point dialog is open the row holds the picked point, whatever
    // the pointer does; then it follows the pointer again.
    void pointerRowHoldsThePick()
    {
        WriteGrids();
        FakeMapView& map = fixture->map;
        map.pixelToProj = [](double px, double py, double& x, double& y) {
            x = 2400000 + px;
            y = 5100000 + py;
        };
        Window().findChild<QToolButton*>(QStringLiteral("Command1"))->click();
        QList<GaussBoagaPoint> seen;
        fixture->dialogs.whileOpen = [&](MainWindowHost&) {
            seen << Pane().Pointer()->point;
            map.RaiseMouseMove(700, 800);
            seen << Pane().Pointer()->point;
        };
        map.RaiseMouseMove(3, 4);
        map.RaiseMouseDown(10, 20);
        QCOMPARE(seen, (QList<GaussBoagaPoint>{{2400010, 5100020}, {2400010, 5100020}}));
        map.RaiseMouseMove(5, 6);
        QCOMPARE(Pane().Pointer()->point, (GaussBoagaPoint{2400005, 5100006}));
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::ResultsTest)
#include "test_results.moc"
