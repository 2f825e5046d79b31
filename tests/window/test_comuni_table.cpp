#include "window/ComuniTable.h"
#include "window/MunicipalitySearch.h"
#include "rain/Error.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;

namespace {

// One record at the fixed positions: 10 + 40 + 10 + 10 + 10 characters.
QByteArray Record(const QByteArray& id, const QByteArray& name, const QByteArray& code = "1",
                  const QByteArray& province = "UD", const QByteArray& last = "")
{
    return id.leftJustified(10, ' ', true) + name.leftJustified(40, ' ', true) + code.leftJustified(10, ' ', true) +
           province.leftJustified(10, ' ', true) + last.leftJustified(10, ' ', true);
}

}  // namespace

class TestComuniTable : public QObject {
    Q_OBJECT

    testing::Form1Fixture fixture_;  // only for its working folder
    const QString path_ = QString::fromLatin1(kComuniTablePath);

    ComuniTable Load(const QByteArray& content)
    {
        fixture_.WriteTable(content);
        return LoadComuniTable();
    }

private slots:
    void cells_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("cells");  // row after row, five columns each

        QTest::newRow("padded record, a tab kept") << Record("  12", "\tBorgo Alto ", "30012", "UD", "x1") + "\r\n"
                                                   << QStringList{"12", "\tBorgo Alto", "30012", "UD", "x1"};
        QTest::newRow("line of 60: empty column 4, column 5 repeats column 3")
            << Record("7", "Riva", "30007").left(60) << QStringList{"7", "Riva", "30007", "", "30007"};
        QTest::newRow("short line") << QByteArray("  45 ") << QStringList{"45", "", "", "", "45"};
        QTest::newRow("name cut at forty, column 5 the last ten characters")
            << QByteArray("1         ") + QByteArray(45, 'a')
            << QStringList{"1", QString(40, 'a'), "aaaaa", "", "aaaaaaaaaa"};
        QTest::newRow("Windows-1252") << Record("1", "Forn\xec \x80\x93\x9c\x81")
                                      << QStringList{"1", QString::fromUtf8("Fornì €“œ\u0081"), "1", "UD", ""};
        const QStringList ab{"1", "Alfa", "1", "UD", "", "2", "Beta", "1", "UD", ""};
        const QStringList empty{"", "", "", "", ""};
        QTest::newRow("CR alone, LF alone") << Record("1", "Alfa") + "\r" + Record("2", "Beta") + "\n" << ab;
        QTest::newRow("empty line in between") << Record("1", "Alfa") + "\r\n\r\n" + Record("2", "Beta")
                                               << ab.mid(0, 5) + empty + ab.mid(5);
        QTest::newRow("empty file") << QByteArray() << empty;
    }
    void cells()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, cells);
        const ComuniTable table = Load(content);
        for (int i = 0; i < cells.size(); ++i)
            QCOMPARE(table.Cell(i / 5 + 1, i % 5 + 1), cells[i]);
    }

    void fullAndOverfullFiles()
    {
        QByteArray content;
        for (int r = 1; r <= 219; ++r)
            content += Record(QByteArray::number(r), "Comune " + QByteArray::number(r)) + "\r\n";
        QCOMPARE(Load(content).Cell(219, 2), QStringLiteral("Comune 219"));
        try {
            Load(content + Record("220", "Comune 220") + "\r\n");
            QFAIL("a 220th line must not fit");
        } catch (const Error& error) {
            QCOMPARE(error.kind(), ErrorKind::SubscriptOutOfRange);
            QCOMPARE(QString::fromStdString(error.file()), path_);
        }
    }

    void search_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("id");    // of the first "Beta"
        QTest::addColumn<QByteArray>("code");  // of the first "Beta"
        QTest::addColumn<QString>("outcome");  // FID code province, "none", or the error kind
        const auto failure = [](ErrorKind kind) { return QStringLiteral("error %1").arg(int(kind)); };
        const QString typeMismatch = failure(ErrorKind::TypeMismatch), overflow = failure(ErrorKind::Overflow);
        QTest::newRow("first of two equal names") << "Beta" << QByteArray("2") << QByteArray("-5") << "1 -5 PN";
        QTest::newRow("spaces count") << "Beta " << QByteArray("2") << QByteArray("-5") << "none";
        QTest::newRow("numbers of other rows are never read") << "Alfa" << QByteArray("x") << QByteArray("y")
                                                              << "0 30001 UD";
        QTest::newRow("letters in column 1") << "Beta" << QByteArray("A1") << QByteArray("1") << typeMismatch;
        QTest::newRow("empty column 1") << "Beta" << QByteArray("") << QByteArray("1") << typeMismatch;
        QTest::newRow("fraction in column 3") << "Beta" << QByteArray("1") << QByteArray("2.5") << typeMismatch;
        QTest::newRow("column 1 past 16 bits") << "Beta" << QByteArray("32768") << QByteArray("1") << overflow;
        QTest::newRow("column 3 far past 16 bits") << "Beta" << QByteArray("1") << QByteArray("9999999999")
                                                   << overflow;
        QTest::newRow("column 1 whose FID has no 16-bit value") << "Beta" << QByteArray("-32768")
                                                                << QByteArray("1") << overflow;
    }
    void search()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, id);
        QFETCH(QByteArray, code);
        const ComuniTable table = Load(Record("1", "Alfa", "30001") + "\r\n" + Record(id, "Beta", code, "PN") + "\r\n" +
                                       Record("3", "Beta", "7", "TO") + "\r\n");
        QString outcome = QStringLiteral("none");
        try {
            if (const auto match = FindMunicipality(table, name, path_))
                outcome = QStringLiteral("%1 %2 %3").arg(match->FID).arg(match->CODICE_COM).arg(match->Provincia);
        } catch (const Error& error) {
            outcome = QStringLiteral("error %1").arg(int(error.kind()));
            QCOMPARE(QString::fromStdString(error.file()), path_);
        }
        QTEST(outcome, "outcome");
    }
};

QTEST_GUILESS_MAIN(TestComuniTable)
#include "test_comuni_table.moc"
