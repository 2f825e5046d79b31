#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "window/ComuniTable.h"
#include "window/MunicipalitySearch.h"
#include "rain/Error.h"

using namespace quorvel;

namespace {

// One record at the fixed positions: 10 + 40 + 10 + 10 + 10 characters.
QByteArray Record(const QByteArray& id, const QByteArray& name, const QByteArray& code, const QByteArray& province,
                  const QByteArray& last)
{
    return id.leftJustified(10, ' ', true) + name.leftJustified(40, ' ', true) + code.leftJustified(10, ' ', true) +
           province.leftJustified(10, ' ', true) + last.leftJustified(10, ' ', true);
}

QString WriteTable(const QTemporaryDir& dir, const QByteArray& content)
{
    const QString path = dir.filePath(QStringLiteral("comuni.dat"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the table");
    file.write(content);
    return path;
}

}  // namespace

class TestComuniTable : public QObject {
    Q_OBJECT

private slots:
    void fields_data();
    void fields();
    void lineEnds_data();
    void lineEnds();
    void fullAndOverfullFiles();
    void missingFile();
    void windows1252();
    void search_data();
    void search();
    void searchRefusesBadNumbers_data();
    void searchRefusesBadNumbers();

private:
    QTemporaryDir dir_;
};

void TestComuniTable::fields_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("columns");

    QTest::newRow("padded record")
        << Record("  12", "Borgo Alto", "30012", "UD", "x1")
        << QStringList{"12", "Borgo Alto", "30012", "UD", "x1"};
    QTest::newRow("line of 60: empty column 4, column 5 repeats column 3")
        << Record("7", "Riva", "30007", "", "").left(60) << QStringList{"7", "Riva", "30007", "", "30007"};
    QTest::newRow("tab kept, only spaces stripped")
        << Record("1", "\tSan Vito ", "2", "PN", "z") << QStringList{"1", "\tSan Vito", "2", "PN", "z"};
    QTest::newRow("long line: column 5 is the last ten characters")
        << Record("3", "Lago", "4", "TO", "abc") + "0123456789" << QStringList{"3", "Lago", "4", "TO", "0123456789"};
    QTest::newRow("line shorter than ten characters")
        << QByteArray("  45 ") << QStringList{"45", "", "", "", "45"};
    QTest::newRow("name cut at forty characters")
        << QByteArray("1         ") + QByteArray(45, 'a') << QStringList{"1", QString(40, 'a'), "aaaaa", "", "aaaaaaaaaa"};
}

void TestComuniTable::fields()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, columns);
    const ComuniTable table = LoadComuniTable(WriteTable(dir_, line + "\r\n"));
    for (int c = 1; c <= 5; ++c)
        QCOMPARE(table.Cell(1, c), columns[c - 1]);
    QCOMPARE(table.Cell(2, 2), QString());
}

void TestComuniTable::lineEnds_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("names");

    const QByteArray a = Record("1", "Alfa", "1", "UD", "");
    const QByteArray b = Record("2", "Beta", "2", "UD", "");
    QTest::newRow("CR LF") << a + "\r\n" + b + "\r\n" << QStringList{"Alfa", "Beta", ""};
    QTest::newRow("CR alone") << a + "\r" + b + "\r" << QStringList{"Alfa", "Beta", ""};
    QTest::newRow("LF alone") << a + "\n" + b + "\n" << QStringList{"Alfa", "Beta", ""};
    QTest::newRow("no end on the last line") << a + "\r\n" + b << QStringList{"Alfa", "Beta", ""};
    QTest::newRow("empty line in between") << a + "\r\n\r\n" + b << QStringList{"Alfa", "", "Beta"};
    QTest::newRow("empty file") << QByteArray() << QStringList{"", "", ""};
}

void TestComuniTable::lineEnds()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, names);
    const ComuniTable table = LoadComuniTable(WriteTable(dir_, content));
    for (int r = 1; r <= names.size(); ++r)
        QCOMPARE(table.Cell(r, 2), names[r - 1]);
}

void TestComuniTable::fullAndOverfullFiles()
{
    QByteArray content;
    for (int r = 1; r <= 219; ++r)
        content += Record(QByteArray::number(r), "Comune " + QByteArray::number(r), "1", "UD", "") + "\r\n";
    const ComuniTable table = LoadComuniTable(WriteTable(dir_, content));
    QCOMPARE(table.Cell(1, 2), QStringLiteral("Comune 1"));
    QCOMPARE(table.Cell(219, 2), QStringLiteral("Comune 219"));

    content += Record("220", "Comune 220", "1", "UD", "") + "\r\n";
    const QString path = WriteTable(dir_, content);
    try {
        LoadComuniTable(path);
        QFAIL("a 220th line must not fit");
    } catch (const Error& error) {
        QCOMPARE(error.kind(), ErrorKind::SubscriptOutOfRange);
        QCOMPARE(QString::fromStdString(error.file()), path);
    }
}

void TestComuniTable::missingFile()
{
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    try {
        LoadComuniTable();
        QDir::setCurrent(old);
        QFAIL("no table file here");
    } catch (const Error& error) {
        QDir::setCurrent(old);
        QCOMPARE(error.kind(), ErrorKind::FileNotFound);
        QCOMPARE(error.file(), std::string("dat/comuniPolyRid.dat"));
    }
}

void TestComuniTable::windows1252()
{
    const ComuniTable table =
        LoadComuniTable(WriteTable(dir_, Record("1", "Forn\xec di Sopra \x80\x93\x9c\x81", "1", "UD", "") + "\r\n"));
    QCOMPARE(table.Cell(1, 2), QString::fromUtf8("Fornì di Sopra €“œ\u0081"));
}

void TestComuniTable::search_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("objectId");
    QTest::addColumn<int>("fid");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("province");

    QTest::newRow("first polygon") << "Alfa" << true << 1 << 0 << 30001 << "UD";
    QTest::newRow("first of two equal names") << "Beta" << true << 2 << 1 << -5 << "PN";
    QTest::newRow("case counts") << "beta" << false << 0 << 0 << 0 << "";
    QTest::newRow("spaces count") << "Alfa " << false << 0 << 0 << 0 << "";
    QTest::newRow("empty text matches none of the empty rows") << "" << false << 0 << 0 << 0 << "";
}

void TestComuniTable::search()
{
    QFETCH(QString, name);
    QFETCH(bool, found);
    const QByteArray content = Record("1", "Alfa", "30001", "UD", "") + "\r\n" + Record("2", "Beta", "-5", "PN", "") +
                               "\r\n" + Record("3", "Beta", "7", "TO", "") + "\r\n";
    const QString path = WriteTable(dir_, content);
    const std::optional<MunicipalityMatch> match = FindMunicipality(LoadComuniTable(path), name, path);
    QCOMPARE(match.has_value(), found);
    if (!found)
        return;
    QTEST(int(match->OBJECTID), "objectId");
    QTEST(int(match->FID), "fid");
    QTEST(int(match->CODICE_COM), "code");
    QTEST(match->Provincia, "province");
}

void TestComuniTable::searchRefusesBadNumbers_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<int>("kind");

    QTest::newRow("letters in column 1") << QByteArray("A1") << QByteArray("1") << int(ErrorKind::TypeMismatch);
    QTest::newRow("empty column 1") << QByteArray("") << QByteArray("1") << int(ErrorKind::TypeMismatch);
    QTest::newRow("fraction in column 3") << QByteArray("1") << QByteArray("2.5") << int(ErrorKind::TypeMismatch);
    QTest::newRow("column 1 past 16 bits") << QByteArray("32768") << QByteArray("1") << int(ErrorKind::Overflow);
    QTest::newRow("column 3 far past 16 bits") << QByteArray("1") << QByteArray("9999999999") << int(ErrorKind::Overflow);
    QTest::newRow("column 1 whose FID has no 16-bit value") << QByteArray("-32768") << QByteArray("1")
                                                            << int(ErrorKind::Overflow);
}

void TestComuniTable::searchRefusesBadNumbers()
{
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, code);
    QFETCH(int, kind);
    const QString path = WriteTable(dir_, Record(id, "Alfa", code, "UD", "") + "\r\n");
    const ComuniTable table = LoadComuniTable(path);
    try {
        FindMunicipality(table, QStringLiteral("Alfa"), path);
        QFAIL("the row's numbers must be refused");
    } catch (const Error& error) {
        QCOMPARE(int(error.kind()), kind);
        QCOMPARE(QString::fromStdString(error.file()), path);
    }
    // Numbers of rows that are not the match are never looked at.
    QVERIFY(!FindMunicipality(table, QStringLiteral("Other"), path).has_value());
}

QTEST_GUILESS_MAIN(TestComuniTable)
#include "test_comuni_table.moc"
