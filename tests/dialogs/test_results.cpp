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
#include "window/DetailView.h"
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
    QPushButton* Button(const QString& text) const
    {
        for (QPushButton* button : fixture->form->Results()->findChildren<QPushButton*>())
            if (button->text() == text)
                return button;
        return nullptr;
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
        QLocale::setDefault(QLocale::c());
        fixture = std::make_unique<Form1Fixture>();
        fixture->WriteTable(ComuniRecord(1, "Alfa", "1", "UD") + "\r\n");
        fixture->MakeAndLoad();
        desktop = {};
        Window().SetDesktop(desktop);
        Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Window()));
    }
    void cleanup()
    {
        fixture.reset();
    }

    // The buttons, the chart and the map marks over two runs. The copy takes
    // the locale's decimal separator, the CSV file always ".".
    void actions_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("decimal");
        QTest::newRow("C") << "C" << ".";
        QTest::newRow("it_IT") << "it_IT" << ",";
    }
    void actions()
    {
        QFETCH(QString, locale);
        QFETCH(QString, decimal);
        QLocale::setDefault(QLocale(locale));
        const QString folder = QDir::currentPath() + u'/';
        QDir().mkpath(QStringLiteral("output"));
        const MapExtents view = fixture->map.extents;
        QVERIFY(Pane().isHidden());
        Window().RunCompleted(SomeRun("Vecchio", folder.toStdString()));
        QVERIFY(Pane().isVisible());
        Window().RunCompleted(SomeRun("Piogge", folder.toStdString()));
        // Each run marks its cell and leaves the view alone; the newest is
        // selected, charted and marked strong.
        const std::vector<RunMark>& marks = fixture->map.runMarks;
        QCOMPARE(marks.size(), std::size_t(2));
        QVERIFY(marks[0].strong && !marks[1].strong);
        QCOMPARE(marks[1].cell, (MapExtents{2400000, 2400500, 5100000, 5100500}));
        QCOMPARE(marks[1].x, 2400000.5);
        QVERIFY(fixture->map.CallsTo({"ZoomToExtents", "ZoomToShape", "ZoomToLayer"}).empty());
        QCOMPARE(fixture->map.extents, view);
        QCOMPARE(Legend(), QStringList{"Piogge.xls"});

        // A report that is gone is told, and its row stays.
        Button(QStringLiteral("Apri report"))->click();
        QCOMPARE(fixture->reporter.messages.size(), 1);
        QVERIFY(fixture->reporter.messages[0].contains(QStringLiteral("non esiste più")));
        QCOMPARE(Table().rowCount(), 2);
        QVERIFY(desktop.opened.isEmpty());

        QFile(folder + QStringLiteral("output/Piogge.xls")).open(QIODevice::WriteOnly);
        Button(QStringLiteral("Apri report"))->click();
        Button(QStringLiteral("Apri cartella"))->click();
        QCOMPARE(desktop.opened, (QStringList{folder + "output/Piogge.xls", folder + "output/"}));

        desktop.saveAs = folder + QStringLiteral("risultati.csv");
        Button(QStringLiteral("Esporta CSV…"))->click();
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
        QVERIFY(marks[0].strong && marks[1].strong);
        Button(QStringLiteral("Copia"))->click();
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("Report\tE\tN\tRiga\tColonna\tCentro E\tCentro N\ta2\ta1\tcv\tq2 (mm)\tq5 (mm)\t"
                                "q10 (mm)\tq20 (mm)\tq50 (mm)\tq100 (mm)\tq200 (mm)\nVecchio.xls\t") +
                     QString(kValues).replace(u'.', decimal));
        // The table shows the quantiles to one decimal.
        QCOMPARE(Table().item(1, 11)->text(), QStringLiteral("33") + decimal + QStringLiteral("5"));

        Button(QStringLiteral("Pulisci"))->click();
        QCOMPARE(Table().rowCount(), 0);
        QVERIFY(marks.empty());
        QVERIFY(Legend().isEmpty());
        QCOMPARE(fixture->reporter.messages.size(), 1);
    }

    void doubleClickZoomsToTheCellAndTheDetailFollows()
    {
        Window().RunCompleted(SomeRun("Piogge"));
        FakeMapView& map = fixture->map;
        map.ClearCalls();
        QTRY_VERIFY(Table().viewport()->rect().contains(Table().visualItemRect(Table().item(0, 3))));
        const QRect row = Table().visualItemRect(Table().item(0, 3));
        // The first click of a double click, as a mouse sends it, then the second.
        QTest::mouseClick(Table().viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(Table().viewport(), Qt::LeftButton, {}, row.center());
        QVERIFY(!map.calls.empty());
        QCOMPARE(map.calls.front(), std::string("ZoomToExtents(2399500,2401000,5099500,5101000)"));
        const std::vector<std::string> followed(map.calls.begin() + 1, map.calls.end());

        // What the detail view does after any other zoom to the same view.
        map.ClearCalls();
        Window().State().distretto = QStringLiteral("UD");
        UpdateDetailView(map, Window().State());
        QCOMPARE(followed, map.calls);
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::ResultsTest)
#include "test_results.moc"
