#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "window/FormStyle.h"
#include "window/Reporter.h"
#include "tests/window/Form1Fixture.h"

using namespace quorvel;
using namespace quorvel::testing;

class TestForm1Layout : public QObject {
    Q_OBJECT

    Form1Fixture fixture_;
    Form1* form_ = nullptr;

private slots:
    void initTestCase()
    {
        fixture_.WriteTable(ComuniRecord(1, "Alfa", "1", "UD") + "\r\n");
        form_ = &fixture_.MakeAndLoad();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        QCOMPARE(form_->windowTitle(), QStringLiteral("Quorvel 2.0"));
        QCOMPARE(form_->minimumSize(), QSize(977, 743));
        QCOMPARE(form_->maximumSize(), QSize(977, 743));
        QVERIFY(!form_->windowIcon().isNull());
    }

    // Positions in twips, fonts, texts and tooltips of a sample of the controls.
    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("text");  // a tool button's tooltip
        QTest::addColumn<qreal>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("Map1") << "Map1" << QRect(240, 1800, 14175, 9135) << QString() << 0.0 << false << false;
        QTest::newRow("Label9") << "Label9" << QRect(180, 960, 1695, 615) << "Regione Autonoma Tervania" << 8.25
                                << true << true;
        QTest::newRow("Label1") << "Label1" << QRect(4320, 600, 975, 255) << "" << 9.75 << false << false;
        QTest::newRow("Command3") << "Command3" << QRect(7800, 600, 615, 615) << "Zoom alle estensioni" << 0.0
                                  << false << false;
        QTest::newRow("Command1") << "Command1" << QRect(8640, 600, 615, 615)
                                  << "Individuare il punto sulla cartografia" << 0.0 << false << false;
        QTest::newRow("Combo1") << "Combo1" << QRect(10200, 840, 2415, 315) << QString() << 0.0 << false << false;
        QTest::newRow("Command4") << "Command4" << QRect(10920, 1200, 1095, 375) << "Visualizzare" << 8.25 << false
                                  << false;
        QTest::newRow("Picture1") << "Picture1" << QRect(13560, 240, 495, 495) << QString() << 0.0 << false << false;
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, text);
        QFETCH(qreal, points);
        QWidget* control = form_->findChild<QWidget*>(name);
        QVERIFY(control && control->isVisible());
        QCOMPARE(control->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
        if (auto* label = qobject_cast<QLabel*>(control))
            QVERIFY(text.isNull() ? !label->pixmap().isNull() : label->text() == text);
        if (auto* button = qobject_cast<QPushButton*>(control))
            QCOMPARE(button->text(), text);
        if (auto* tool = qobject_cast<QToolButton*>(control)) {
            QCOMPARE(tool->toolTip(), text);
            QVERIFY(!tool->icon().pixmap(32, 32).isNull());
        }
        if (points > 0) {
            QCOMPARE(control->font().family(), FormFontFamily());
            QCOMPARE(control->font().pointSizeF(), points);
            QTEST(control->font().bold(), "bold");
            QTEST(control->font().italic(), "italic");
        }
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
        QFETCH(QStringList, buttons);
        QFETCH(bool, answer);
        QString title, text;
        QStringList shown;
        // The box is modal: answer it from the event loop it runs.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton* button : box->buttons())
                shown << button->text().remove(u'&');
            for (QAbstractButton* button : box->buttons())
                if (press.isEmpty() || button->text().remove(u'&') == press) {
                    button->click();
                    break;
                }
        });
        MessageBoxReporter reporter;
        bool said = false;
        if (press.isEmpty())
            reporter.Message(form_, QStringLiteral("Eseguito!"));
        else
            said = reporter.Ask(form_, QStringLiteral("Sovrascrivere?"));
        QCOMPARE(title, QStringLiteral("Quorvel"));
        QCOMPARE(text, press.isEmpty() ? QStringLiteral("Eseguito!") : QStringLiteral("Sovrascrivere?"));
        shown.sort();
        QCOMPARE(shown, buttons);
        QCOMPARE(said, answer);
    }
};

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
