#include <memory>

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "dialogs/Form2.h"
#include "dialogs/Form3.h"
#include "tests/dialogs/FakeHost.h"

namespace quorvel::testing {

namespace {

QRect Twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// True when the picture has at least one pixel that is not transparent.
bool Drawn(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

}  // namespace

class FormsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeHost> host;
    std::unique_ptr<RecordingOperations> operations;

    std::unique_ptr<PointDialog> Open(const QString& form)
    {
        std::unique_ptr<PointDialog> dialog;
        if (form == "Form2")
            dialog = std::make_unique<Form2>(*host, *operations);
        else
            dialog = std::make_unique<Form3>(*host, *operations);
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        if (!QTest::qWaitForWindowActive(dialog.get()))
            qWarning("dialog not active");
        return dialog;
    }
    static QString FocusName() { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); }

private slots:
    void init()
    {
        host = std::make_unique<FakeHost>();
        host->state.pEoutlet = "2400000";
        host->state.pNOutlet = "5100000";
        operations = std::make_unique<RecordingOperations>();
    }
    void cleanup()
    {
        QLocale::setDefault(QLocale::system());
        operations.reset();
        host.reset();
    }

    void layout_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<qreal>("points");  // 0: no text of its own
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("text");  // label or box text, or a button's tooltip

        QTest::newRow("Form2 Label3") << "Form2" << "Label3" << Twips(1320, 360, 135, 255) << 9.75 << true << "E";
        QTest::newRow("Form2 Label1") << "Form2" << "Label1" << Twips(1560, 360, 975, 255) << 9.75 << false << "2400000";
        QTest::newRow("Form2 Label4") << "Form2" << "Label4" << Twips(1320, 720, 135, 255) << 9.75 << true << "N";
        QTest::newRow("Form2 Label2") << "Form2" << "Label2" << Twips(1560, 720, 975, 255) << 9.75 << false << "5100000";
        QTest::newRow("Form2 Label5") << "Form2" << "Label5" << Twips(120, 1200, 1215, 375) << 8.25 << false << "Nome del file di output";
        QTest::newRow("Form2 Text1") << "Form2" << "Text1" << Twips(1440, 1320, 2055, 285) << 8.25 << false << "Piogge";
        QTest::newRow("Form2 Command1") << "Form2" << "Command1" << Twips(1080, 1800, 735, 735) << 8.25 << false << "Elaborazione";
        QTest::newRow("Form2 Command2") << "Form2" << "Command2" << Twips(1920, 1800, 735, 735) << 8.25 << false << "Annullare";
        QTest::newRow("Form2 Picture1") << "Form2" << "Picture1" << Twips(360, 120, 600, 855) << 0.0 << false << QString();
        QTest::newRow("Form2 Picture2") << "Form2" << "Picture2" << Twips(2880, 360, 495, 495) << 0.0 << false << QString();

        QTest::newRow("Form3 Label1") << "Form3" << "Label1" << Twips(1320, 360, 255, 255) << 9.75 << true << "E";
        QTest::newRow("Form3 Text1") << "Form3" << "Text1" << Twips(1680, 360, 975, 315) << 9.75 << false << "";
        QTest::newRow("Form3 Label2") << "Form3" << "Label2" << Twips(1320, 720, 255, 255) << 9.75 << true << "N";
        QTest::newRow("Form3 Text2") << "Form3" << "Text2" << Twips(1680, 720, 975, 330) << 9.75 << false << "";
        QTest::newRow("Form3 Label5") << "Form3" << "Label5" << Twips(120, 1200, 1215, 375) << 8.25 << false << "Nome del file di output";
        QTest::newRow("Form3 Text3") << "Form3" << "Text3" << Twips(1440, 1320, 2055, 285) << 8.25 << false << "Piogge";
        QTest::newRow("Form3 Command1") << "Form3" << "Command1" << Twips(1080, 1800, 735, 735) << 8.25 << false << "Elaborazione";
        QTest::newRow("Form3 Command2") << "Form3" << "Command2" << Twips(1920, 1800, 735, 735) << 8.25 << false << "Annullare";
        QTest::newRow("Form3 Picture1") << "Form3" << "Picture1" << Twips(360, 120, 600, 855) << 0.0 << false << QString();
        QTest::newRow("Form3 Picture2") << "Form3" << "Picture2" << Twips(2880, 360, 495, 495) << 0.0 << false << QString();
    }
    void layout()
    {
        QFETCH(QString, form);
        QFETCH(QString, control);
        QFETCH(QRect, geometry);
        QFETCH(qreal, points);
        QFETCH(bool, bold);
        QFETCH(QString, text);

        const auto dialog = Open(form);
        auto* widget = dialog->findChild<QWidget*>(control);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
        if (points > 0) {
            QVERIFY2(QStringList({"Verdana", "DejaVu Sans"}).contains(widget->font().family()),
                     qPrintable(widget->font().family()));
            QCOMPARE(widget->font().pointSizeF(), points);
            QCOMPARE(widget->font().bold(), bold);
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (text.isNull())
                QVERIFY2(Drawn(label->pixmap()), "picture not drawn");
            else
                QCOMPARE(label->text(), text);
        } else if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            QCOMPARE(box->text(), text);
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->toolTip(), text);
            QVERIFY(button->text().isEmpty());
            QCOMPARE(button->iconSize(), QSize(32, 32));
            QVERIFY2(Drawn(button->icon().pixmap(32, 32)), "button picture not drawn");
            QVERIFY(!button->isDefault() && !button->autoDefault());
        }
    }

    void window_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("client");
        QTest::newRow("Form2") << "Form2" << "Coordinate inserite da cartografia" << QSize(247, 175);
        QTest::newRow("Form3") << "Form3" << "Inserimento coordinate" << QSize(247, 176);
    }
    void window()
    {
        QFETCH(QString, form);
        QFETCH(QString, caption);
        QFETCH(QSize, client);
        const auto dialog = Open(form);
        QCOMPARE(dialog->windowTitle(), caption);
        QCOMPARE(dialog->size(), client);
        QCOMPARE(dialog->minimumSize(), client);
        QCOMPARE(dialog->maximumSize(), client);
        if (form == "Form2")
            QVERIFY(Drawn(dialog->windowIcon().pixmap(16, 16)));
    }

    void tabOrder_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QStringList>("order");  // from the initial focus, once round
        QTest::newRow("Form2") << "Form2" << QStringList{"Command1", "Command2", "Text1", "Command1"};
        QTest::newRow("Form3") << "Form3" << QStringList{"Text2", "Text1", "Command1", "Command2", "Text3", "Text2"};
    }
    void tabOrder()
    {
        QFETCH(QString, form);
        QFETCH(QStringList, order);
        const auto dialog = Open(form);
        QCOMPARE(FocusName(), order.first());
        for (qsizetype i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(FocusName(), order[i]);
        }
    }

    void form2Load()
    {
        const auto dialog = Open("Form2");
        QVERIFY(!host->enabled);
        QCOMPARE(host->map.calls, std::vector<std::string>{"MainWindowEnabled(false)"});
        // The point can be seen, not edited: the output name is the only box.
        QCOMPARE(dialog->findChildren<QLineEdit*>().size(), 1);
        QCOMPARE(dialog->findChildren<QLineEdit*>().first()->objectName(), QString("Text1"));
    }

    // Enter acts on the focused button only; Escape does nothing.
    void keys_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("outcome");  // "open", "run" or "cancelled"
        QTest::newRow("Form2 Enter at once") << "Form2" << "Command1" << int(Qt::Key_Return) << "run";
        QTest::newRow("Form2 keypad Enter") << "Form2" << "Command1" << int(Qt::Key_Enter) << "run";
        QTest::newRow("Form2 Enter on Annullare") << "Form2" << "Command2" << int(Qt::Key_Return) << "cancelled";
        QTest::newRow("Form2 Enter in name") << "Form2" << "Text1" << int(Qt::Key_Return) << "open";
        QTest::newRow("Form2 Escape") << "Form2" << "Command1" << int(Qt::Key_Escape) << "open";
        QTest::newRow("Form3 Enter in North") << "Form3" << "Text2" << int(Qt::Key_Return) << "open";
        QTest::newRow("Form3 Escape") << "Form3" << "Text2" << int(Qt::Key_Escape) << "open";
        QTest::newRow("Form3 Enter on Annullare") << "Form3" << "Command2" << int(Qt::Key_Return) << "cancelled";
    }
    void keys()
    {
        QFETCH(QString, form);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, outcome);
        const auto dialog = Open(form);
        if (form == "Form3") {
            dialog->findChild<QLineEdit*>("Text1")->setText("2400000");
            dialog->findChild<QLineEdit*>("Text2")->setText("5100000");
        }
        auto* target = dialog->findChild<QWidget*>(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));

        QCOMPARE(dialog->isVisible(), outcome == "open");
        QCOMPARE(operations->computed.size(), size_t(outcome == "run" ? 1 : 0));
        QCOMPARE(host->reporter.messages, outcome == "run" ? QStringList{"Eseguito!"} : QStringList{});
        QCOMPARE(dialog->result(), outcome == "run" ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }

    // "Annullare", and for the map-point dialog its title bar close box too,
    // give the map and the main window back and write nothing.
    void cancel_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("closeBox");
        QTest::addColumn<std::vector<std::string>>("calls");
        const std::vector<std::string> annullare{"SetCursorMode(4)", "MainWindowEnabled(true)", "SetMapCursor(2)"};
        QTest::newRow("Form2 Annullare") << "Form2" << false << annullare;
        QTest::newRow("Form2 close box") << "Form2" << true << annullare;
        QTest::newRow("Form3 Annullare") << "Form3" << false << annullare;
        QTest::newRow("Form3 close box") << "Form3" << true << std::vector<std::string>{};
    }
    void cancel()
    {
        QFETCH(QString, form);
        QFETCH(bool, closeBox);
        QFETCH(std::vector<std::string>, calls);
        const auto dialog = Open(form);
        host->map.ClearCalls();
        if (closeBox)
            dialog->close();
        else
            QTest::mouseClick(dialog->Command2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(host->map.calls, calls);
        QVERIFY(host->enabled);
        QVERIFY(operations->computed.empty());
        QVERIFY(operations->writtenNames.empty());
        QVERIFY(host->reporter.messages.isEmpty());
    }

    void successfulRunGivesTheWindowBack_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("Form2") << "Form2";
        QTest::newRow("Form3") << "Form3";
    }
    void successfulRunGivesTheWindowBack()
    {
        QFETCH(QString, form);
        const auto dialog = Open(form);
        if (auto* form3 = dynamic_cast<Form3*>(dialog.get())) {
            form3->Text1->setText("2400000");
            form3->Text2->setText("5100000");
            form3->Text3->setText(" Rain ");
        } else {
            static_cast<Form2*>(dialog.get())->Text1->setText(" Rain ");
        }
        host->map.ClearCalls();
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(host->reporter.messages, QStringList{"Eseguito!"});
        QCOMPARE(operations->writtenNames, std::vector<std::string>{" Rain "});
        QCOMPARE(host->map.calls, (std::vector<std::string>{"SetMapCursor(2)", "MainWindowEnabled(true)"}));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    // A failed run keeps the dialog, its entries and the main window as they were.
    void failedRunKeepsTheDialog_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("message");
        QTest::newRow("Form2") << "Form2" << "Il punto E 2400000, N 5100000 si trova fuori dalla griglia dei parametri grd/param_a2.ras.";
        QTest::newRow("Form3") << "Form3" << "Inserire valori delle coordinate valide per la regione Tervania";
    }
    void failedRunKeepsTheDialog()
    {
        QFETCH(QString, form);
        QFETCH(QString, message);
        operations->computeFailure = Error(ErrorKind::SubscriptOutOfRange, kA2Raster, {"cell outside the parameter grid", "cella fuori dalla griglia dei parametri"});
        const auto dialog = Open(form);
        if (auto* form3 = dynamic_cast<Form3*>(dialog.get())) {
            form3->Text1->setText("2400000");
            form3->Text2->setText("5100000");
        }
        const bool enabledBefore = host->enabled;
        host->map.ClearCalls();
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(host->reporter.messages, QStringList{message});
        QVERIFY(dialog->isVisible());
        QVERIFY(host->map.calls.empty());
        QCOMPARE(host->enabled, enabledBefore);
        QVERIFY(operations->writtenNames.empty());
        if (auto* form3 = dynamic_cast<Form3*>(dialog.get())) {
            QCOMPARE(form3->Text1->text(), QString("2400000"));
            QCOMPARE(form3->Text2->text(), QString("5100000"));
            QCOMPARE(form3->Text3->text(), QString("Piogge"));
        }
    }

    // The typed coordinates take "," or "." as the decimal separator, whatever the user's locale.
    void typedNumbersTakeEitherSeparator_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("east");
        QTest::addColumn<QString>("north");
        QTest::addColumn<QString>("message");  // empty: the point is run
        QTest::newRow("Italian comma") << "it_IT" << "2400000,5" << "5100000,5" << "";
        QTest::newRow("Italian, point") << "it_IT" << "2400000.5" << "5100000.5" << "";
        QTest::newRow("English point") << "en_US" << "2400000.5" << "5100000.5" << "";
        QTest::newRow("English, comma") << "en_US" << "2400000,5" << "5100000,5" << "";
        QTest::newRow("Italian grouping")
            << "it_IT" << "2.400.000" << "5100000"
            << "Casella E: \"2.400.000\" non è un numero (solo cifre, con \",\" o \".\" per i decimali).";
    }
    void typedNumbersTakeEitherSeparator()
    {
        QFETCH(QString, locale);
        QFETCH(QString, east);
        QFETCH(QString, north);
        QFETCH(QString, message);
        QLocale::setDefault(QLocale(locale));
        const auto dialog = Open("Form3");
        auto* form3 = static_cast<Form3*>(dialog.get());
        form3->Text1->setText(east);
        form3->Text2->setText(north);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        if (message.isEmpty()) {
            QCOMPARE(operations->computed.size(), size_t(1));
            QCOMPARE(operations->computed[0].x, 2400000.5f);
            QCOMPARE(operations->computed[0].y, 5100000.5f);
        } else {
            QVERIFY(operations->computed.empty());
            QCOMPARE(host->reporter.messages, QStringList{QString(kCoordinateMessage) + "\n" + message});
        }
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::FormsTest)
#include "test_forms.moc"
