// Qt's own texts are Italian whatever the locale: the test runs with LANG=C.
#include <memory>

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "window/Reporter.h"
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

    void messageBoxes_data()
    {
        QTest::addColumn<QString>("press");  // empty: a message, not a question
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("answer");
        QTest::newRow("message") << "" << QStringList{"OK"} << false;
        QTest::newRow("question, S\u00EC") << QString::fromUtf8("Sì") << QStringList{"No", QString::fromUtf8("Sì")}
                                            << true;
        QTest::newRow("question, No") << "No" << QStringList{"No", QString::fromUtf8("Sì")} << false;
    }
    void messageBoxes()
    {
        QFETCH(QString, press);
        QString title, text;
        QStringList shown;
        // The box is modal: answer it from the event loop it runs.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            title = box->windowTitle();
            text = box->text();
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                shown << button->text().remove(u'&');
                if (chosen == nullptr && (press.isEmpty() || shown.last() == press))
                    chosen = button;
            }
            chosen->click();
        });
        quorvel::MessageBoxReporter reporter;
        bool said = false;
        if (press.isEmpty())
            reporter.Message(nullptr, QStringLiteral("Eseguito!"));
        else
            said = reporter.Ask(nullptr, QStringLiteral("Sovrascrivere?"));
        QCOMPARE(title, QStringLiteral("Quorvel"));
        QCOMPARE(text, press.isEmpty() ? QStringLiteral("Eseguito!") : QStringLiteral("Sovrascrivere?"));
        shown.sort();
        QTEST(shown, "buttons");
        QTEST(said, "answer");
    }
};

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
