// Qt's own texts are Italian whatever the locale: the test runs with LANG=C.
#include <memory>

#include <QAction>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "window/Translations.h"

class TestTranslations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(quorvel::InstallItalianTranslations(*qApp)); }

    void textBoxContextMenuIsItalian()
    {
        QLineEdit edit(QStringLiteral("2385123"));
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList entries;
        for (const QAction* action : menu->actions())
            if (!action->isSeparator())
                entries << action->text().section(QLatin1Char('\t'), 0, 0);
        for (const char* entry : {"Ann&ulla", "&Rifai", "&Taglia", "&Copia", "&Incolla", "Elimina", "Seleziona tutto"})
            QVERIFY2(entries.contains(QString::fromUtf8(entry)), qPrintable(entries.join(QLatin1Char('|'))));
    }

    void standardButtonsAreItalian()
    {
        QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save | QDialogButtonBox::Close);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Annulla"));
        QCOMPARE(box.button(QDialogButtonBox::Save)->text(), QStringLiteral("Salva"));
        QCOMPARE(box.button(QDialogButtonBox::Close)->text(), QStringLiteral("Chiudi"));
    }
};

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
