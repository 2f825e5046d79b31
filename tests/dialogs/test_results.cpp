// The results pane of the main window over the recording map: its rows,
// copies, chart, actions and map marks.
#include <memory>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "tests/window/Form1Fixture.h"
#include "maplayers/DetailView.h"
#include "window/Desktop.h"
#include "window/ResultsPane.h"

namespace quorvel::testing {

namespace {

// Opens nothing: keeps what it was asked to open and answers the save dialog.
class RecordingDesktop : public Desktop {
public:
    QStringList opened;
    QString saveAs;

    bool Open(const QString& path) override
    {
        opened << path;
        return true;
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return saveAs; }
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

}  // namespace

class ResultsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Form1Fixture> fixture;
    RecordingDesktop desktop;

    Form1& Window() { return *fixture->form; }
    ResultsPane& Pane() { return *Window().Results(); }
    QTableWidget& Table() { return *Pane().Table(); }
    void Click(const QString& button)
    {
        for (QPushButton* each : Pane().findChildren<QPushButton*>())
            if (each->text() == button)
                each->click();
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
        QVERIFY(Pane().isHidden());
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
                 QStringLiteral("report,E,N,riga,colonna,centro_E,centro_N,a2,a1,cv,q2,q5,q10,q20,q50,q100,q200\n"
                                "Piogge.xls") + values + QStringLiteral("Vecchio.xls") + values);

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
        QCOMPARE(Table().item(1, 11)->text(), QStringLiteral("33") + decimal + QStringLiteral("5"));

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

        Click(QStringLiteral("Pulisci"));
        QCOMPARE(Table().rowCount(), 0);
        QVERIFY(marks.empty());
        QVERIFY(Legend().isEmpty());
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::ResultsTest)
#include "test_results.moc"
