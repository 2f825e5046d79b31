#include "window/ComuniTable.h"
#include "window/MunicipalitySearch.h"
#include "rain/Error.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;
using quorvel::testing::ComuniRecord;

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
        QTest::newRow("padded record, a tab kept")
            << ComuniRecord("  12", "\tBorgo Alto ", "30012", "UD", "x1") + "\r\n"
            << QStringList{"12", "\tBorgo Alto", "30012", "UD", "x1"};
        QTest::newRow("line of 60: empty column 4, column 5 repeats column 3")
            << ComuniRecord("7", "Riva", "30007").left(60) << QStringList{"7", "Riva", "30007", "", "30007"};
        QTest::newRow("short line") << QByteArray("  45 ") << QStringList{"45", "", "", "", "45"};
        QTest::newRow("name cut at forty, column 5 the last ten characters")
            << QByteArray("1         ") + QByteArray(45, 'a')
            << QStringList{"1", QString(40, 'a'), "aaaaa", "", "aaaaaaaaaa"};
        QTest::newRow("Windows-1252") << ComuniRecord("1", "Forn\xec \x80\x93\x9c\x81")
                                      << QStringList{"1", QString::fromUtf8("Fornì €“œ\u0081"), "1", "UD", ""};
        const QStringList ab{"1", "Alfa", "1", "UD", "", "2", "Beta", "1", "UD", ""};
        const QStringList empty{"", "", "", "", ""};
        QTest::newRow("CR alone, LF alone")
            << ComuniRecord("1", "Alfa") + "\r" + ComuniRecord("2", "Beta") + "\n" << ab;
        QTest::newRow("empty line in between") << ComuniRecord("1", "Alfa") + "\r\n\r\n" + ComuniRecord("2", "Beta")
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

    void search_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("id");       // of the first "Beta"
        QTest::addColumn<QString>("code");     // of the first "Beta"
        QTest::addColumn<int>("more");         // lines after the three
        QTest::addColumn<QString>("outcome");  // FID code province, "none", or the error kind
        const auto failure = [](ErrorKind kind) { return QStringLiteral("error %1").arg(int(kind)); };
        const QString typeMismatch = failure(ErrorKind::TypeMismatch), overflow = failure(ErrorKind::Overflow);
        QTest::newRow("first of two equal names") << "Beta" << "2" << "-5" << 0 << "1 -5 PN";
        QTest::newRow("spaces count") << "Beta " << "2" << "-5" << 0 << "none";
        QTest::newRow("numbers of other rows are never read") << "Alfa" << "x" << "y" << 0 << "0 30001 UD";
        QTest::newRow("letters in column 1") << "Beta" << "A1" << "1" << 0 << typeMismatch;
        QTest::newRow("empty column 1") << "Beta" << "" << "1" << 0 << typeMismatch;
        QTest::newRow("fraction in column 3") << "Beta" << "1" << "2.5" << 0 << typeMismatch;
        QTest::newRow("column 1 past 16 bits") << "Beta" << "32768" << "1" << 0 << overflow;
        QTest::newRow("column 3 far past 16 bits") << "Beta" << "1" << "9999999999" << 0 << overflow;
        QTest::newRow("column 1 whose FID has no 16-bit value") << "Beta" << "-32768" << "1" << 0 << overflow;
        QTest::newRow("219 lines: the last is read") << "Comune 219" << "2" << "1" << 216 << "218 1 UD";
        QTest::newRow("a 220th line does not fit") << "Alfa" << "2" << "1" << 217
                                                   << failure(ErrorKind::SubscriptOutOfRange);
    }
    void search()
    {
        QFETCH(QString, name);
        QFETCH(QString, id);
        QFETCH(QString, code);
        QFETCH(int, more);
        QByteArray content = ComuniRecord("1", "Alfa", "30001") + "\r\n" +
                             ComuniRecord(id.toLatin1(), "Beta", code.toLatin1(), "PN") + "\r\n" +
                             ComuniRecord("3", "Beta", "7", "TO") + "\r\n";
        for (int r = 4; r < 4 + more; ++r)
            content += ComuniRecord(QByteArray::number(r), "Comune " + QByteArray::number(r)) + "\r\n";
        QString outcome = QStringLiteral("none");
        try {
            if (const auto match = FindMunicipality(Load(content), name, path_))
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
