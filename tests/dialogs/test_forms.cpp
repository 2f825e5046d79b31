#include <memory>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "crs/Crs.h"
#include "dialogs/Form2.h"
#include "dialogs/Form3.h"
#include "dialogs/PointDialogsImpl.h"
#include "window/FormStyle.h"
#include "tests/dialogs/FakeHost.h"

namespace quorvel::testing {

class FormsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeHost> host;
    std::unique_ptr<test::FakeRun> operations;

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
        operations = std::make_unique<test::FakeRun>();
    }

    void window_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("order");  // focus from the first, once round with Tab
        QTest::newRow("Form2") << "Form2" << "Coordinate inserite da cartografia"
                               << QStringList{"Command1", "Command2", "Text1", "Command1"};
        QTest::newRow("Form3") << "Form3" << "Inserimento coordinate"
                               << QStringList{"Text2", "Text1", "Command1", "Command2", "Text3", "Combo1", "Text2"};
    }
    void window()
    {
        QFETCH(QString, form);
        QFETCH(QStringList, order);
        const auto dialog = Open(form);
        QTEST(dialog->windowTitle(), "caption");
        // Picture buttons: no text, a drawing (a blank or missing one is all grey), the name only a tooltip.
        for (QPushButton* button : {dialog->Command1, dialog->Command2})
            QVERIFY(button->text().isEmpty() && !button->icon().pixmap(32, 32).toImage().allGray());
        QCOMPARE(dialog->Command1->toolTip() + u'/' + dialog->Command2->toolTip(), QString("Elaborazione/Annullare"));
        if (form == "Form2") {
            // The picked point can be seen, not edited; the main window waits.
            QCOMPARE(dialog->findChildren<QLineEdit*>().size(), 1);
            QCOMPARE(host->map.calls, std::vector<std::string>{"MainWindowEnabled(false)"});
        }
        // The title shows whole in a bar that also holds the icon and the close
        // button; the form's controls keep their places, in the middle.
        QFont bold = QApplication::font();
        bold.setBold(true);
        const QFontMetrics title(bold);
        QVERIFY(dialog->width() >= title.horizontalAdvance(dialog->windowTitle()) + 3 * title.height());
        QCOMPARE(dialog->Picture1->geometry(), TwipsRect(360, 120, 600, 855));
        QCOMPARE(dialog->Picture1->mapTo(dialog.get(), QPoint(0, 0)).x(),
                 (dialog->width() - TwipsRect(0, 0, 3705, 0).width()) / 2 + dialog->Picture1->x());
        // The first focus is framed, as after a Tab.
        QVERIFY(QApplication::focusWidget()->isVisible());
        QVERIFY(dialog->testAttribute(Qt::WA_KeyboardFocusChange));
        QCOMPARE(FocusName(), order.first());
        for (qsizetype i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(FocusName(), order[i]);
        }
    }

    // How a dialog ends, by key or title bar: what the map and the main
    // window get back, what is said and what is written. Enter acts on the
    // focused button only; Escape does nothing. A failed run keeps the dialog,
    // its entries and the main window as they were.
    void ending_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("action");  // "close", or a key ("Return", "Escape") and the control it goes to
        QTest::addColumn<bool>("open");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<std::vector<std::string>>("calls");
        const std::vector<std::string> none, cancelled{"SetCursorMode(4)", "MainWindowEnabled(true)", "SetMapCursor(2)"},
            ran{"SetMapCursor(2)", "MainWindowEnabled(true)"};
        QTest::newRow("Form2 close box") << "Form2" << "close" << false << QStringList{} << cancelled;
        // It never took the main window: there is nothing to give back.
        QTest::newRow("Form3 close box") << "Form3" << "close" << false << QStringList{} << none;
        QTest::newRow("Form2 fails") << "Form2" << "Return Command1" << true
                                     << QStringList{"Il punto E 2400000, N 5100000 si trova fuori dalla griglia "
                                                    "dei parametri grd/param_a2.ras."}
                                     << none;
        QTest::newRow("Form3 fails") << "Form3" << "Return Command1" << true << QStringList{kCoordinateMessage} << none;
        QTest::newRow("Form2 Enter on Elaborazione") << "Form2" << "Return Command1" << false << QStringList{"Eseguito!"} << ran;
        QTest::newRow("Form2 Enter on Annullare") << "Form2" << "Return Command2" << false << QStringList{} << cancelled;
        QTest::newRow("Form2 Escape") << "Form2" << "Escape Command1" << true << QStringList{} << none;
        QTest::newRow("Form3 Enter in North") << "Form3" << "Return Text2" << true << QStringList{} << none;
    }
    void ending()
    {
        QFETCH(QString, form);
        QFETCH(QString, action);
        QFETCH(bool, open);
        QFETCH(QStringList, messages);
        const bool fails = open && !messages.isEmpty();
        if (fails)
            operations->computeFailure = Error(ErrorKind::SubscriptOutOfRange, kA2Raster, {"outside the grid", "fuori dalla griglia"});
        const auto dialog = Open(form);
        auto* form3 = dynamic_cast<Form3*>(dialog.get());
        if (form3) {
            form3->Text1->setText("2400000");
            form3->Text2->setText("5100000");
        }
        dialog->findChild<QLineEdit*>(form3 ? "Text3" : "Text1")->setText(" Rain.xls");
        host->map.ClearCalls();

        const QStringList words = action.split(u' ');
        if (words[0] == "close") {
            dialog->close();
        } else {
            auto* target = dialog->findChild<QWidget*>(words[1]);
            target->setFocus();
            QTest::keyClick(target, words[0] == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
        }

        QCOMPARE(host->reporter.messages, messages);
        QTEST(host->map.calls, "calls");
        QCOMPARE(dialog->isVisible(), open);
        QCOMPARE(host->enabled, !(open && form == "Form2"));
        const bool ran = messages == QStringList{"Eseguito!"};
        QCOMPARE(operations->writtenTo, std::string(ran ? "/apps/quorvel/ Rain" : ""));
        if (!open)
            QCOMPARE(dialog->result(), int(ran ? QDialog::Accepted : QDialog::Rejected));
        if (form3)
            QCOMPARE(form3->Text1->text() + form3->Text2->text(), QString("24000005100000"));
    }

    // The coordinate dialog in each reference system: the boxes' captions, a
    // good point (the run and the report get it in Gauss-Boaga), values
    // typed the wrong way round, a point outside the grid.
    void systems_data()
    {
        QTest::addColumn<int>("system");  // position in the choice
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("bottom");
        QTest::addColumn<QString>("captions");
        QTest::addColumn<QString>("said");  // the start of the one message
        QTest::addColumn<double>("east");   // what was written, when it ran
        QTest::addColumn<double>("north");
        const auto in = [](ReferenceSystem system, double east, double north) {
            const SystemPoint p = FromGaussBoaga(system, {east, north});
            return std::pair{QString::number(p.x, 'f', 9), QString::number(p.y, 'f', 9)};
        };
        const auto [lon, lat] = in(ReferenceSystem::Wgs84, 2400250, 5100250);
        const auto [e33, n33] = in(ReferenceSystem::Utm33, 2380100, 5150100);
        const auto [e32, n32] = in(ReferenceSystem::Utm32, 2330100, 5060100);
        const auto [edgeLon, edgeLat] = in(ReferenceSystem::Wgs84, 2400001, 5100250);
        const QString refused = QString::fromUtf8(kCoordinateMessage);
        QTest::newRow("Gauss-Boaga") << 0 << "2400000" << "5100000" << "E N" << "Eseguito!" << 2400000.0 << 5100000.0;
        QTest::newRow("WGS84") << 1 << lat << lon << "Lat Lon" << "Eseguito!" << 2400250.0 << 5100250.0;
        QTest::newRow("WGS84 in degrees and minutes") << 1 << "46 1 30,0" << "13°15'E" << "Lat Lon" << "Eseguito!" << 0.0 << 0.0;
        QTest::newRow("WGS84 swapped") << 1 << lon << lat << "Lat Lon"
                                       << refused + " (WGS84 lat/lon)\nI valori di Lat e Lon sembrano scambiati" << 0.0 << 0.0;
        QTest::newRow("WGS84 outside") << 1 << "41,9" << "12,5" << "Lat Lon"
                                       << refused + " (WGS84 lat/lon)\nIl punto Lat 41,9000, Lon 12,5000" << 0.0 << 0.0;
        QTest::newRow("WGS84 near a cell edge") << 1 << edgeLat << edgeLon << "Lat Lon"
                                                << "Eseguito!\nIl punto convertito dista meno di 4 m" << 2400001.0 << 5100250.0;
        QTest::newRow("UTM 33N") << 3 << e33 << n33 << "E N" << "Eseguito!" << 2380100.0 << 5150100.0;
        QTest::newRow("UTM 33N swapped") << 3 << n33 << e33 << "E N"
                                         << refused + " (ETRF2000 / UTM 33N)\nI valori di N e E sembrano scambiati" << 0.0 << 0.0;
        QTest::newRow("UTM 33N outside") << 3 << "500000" << "4600000" << "E N"
                                         << refused + " (ETRF2000 / UTM 33N)\nIl punto N 4600000, E 500000" << 0.0 << 0.0;
        QTest::newRow("UTM 32N") << 2 << e32 << n32 << "E N" << "Eseguito!" << 2330100.0 << 5060100.0;
    }
    void systems()
    {
        QFETCH(int, system);
        QFETCH(QString, said);
        QFETCH(double, east);
        QFETCH(double, north);
        const auto dialog = Open("Form3");
        auto* form3 = static_cast<Form3*>(dialog.get());
        QCOMPARE(form3->Combo1->currentText(), QString("Gauss-Boaga Fuso Est"));
        form3->Combo1->setCurrentIndex(system);
        QTEST(form3->Label1->text() + u' ' + form3->Label2->text(), "captions");
        QFETCH(QString, top);
        QFETCH(QString, bottom);
        form3->Text1->setText(top);
        form3->Text2->setText(bottom);
        form3->Command1->click();
        QCOMPARE(host->reporter.messages.size(), 1);
        QVERIFY2(host->reporter.messages[0].startsWith(said), qPrintable(host->reporter.messages[0]));
        QCOMPARE(dialog->isVisible(), !said.startsWith("Eseguito!"));
        if (east > 0)
            QVERIFY(std::abs(operations->written.at(0) - east) < 0.5 && std::abs(operations->written.at(1) - north) < 0.5);
    }

    // The reference system chosen is offered again at the next opening, with
    // the focus in its first box; the boxes start empty.
    void systemRemembered()
    {
        PointDialogsImpl dialogs(*operations);
        QStringList seen;
        const auto answer = [&](int choose) {
            QTimer::singleShot(0, [&, choose] {
                auto* form3 = qobject_cast<Form3*>(QApplication::activeModalWidget());
                QVERIFY(form3 != nullptr);
                seen << form3->Combo1->currentText() + u'|' + form3->Text1->text() + u'|' +
                            form3->focusWidget()->objectName();
                if (choose >= 0)
                    form3->Combo1->setCurrentIndex(choose);
                form3->Text1->setText(QStringLiteral("45"));
                form3->Command2->click();
            });
            dialogs.ShowCoordinateDialog(*host);
        };
        answer(1);
        answer(-1);
        QCOMPARE(seen, (QStringList{"Gauss-Boaga Fuso Est||Text2", "WGS84 lat/lon||Text1"}));
    }
};

}  // namespace quorvel::testing

QTEST_MAIN(quorvel::testing::FormsTest)
#include "test_forms.moc"
