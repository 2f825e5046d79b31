// The tab "Durate": the table is the law to the digit shown, the switch gives
// intensities, the storm is the core's, and its files are quorvel-batch's texts.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "rain/Durations.h"
#include "rain/PointRain.h"
#include "rain/Storm.h"
#include "window/DurationsView.h"

namespace quorvel {

class DurationsViewTest : public QObject {
    Q_OBJECT

private slots:
    void tableSwitchAndStorm()
    {
        const DurationLaw law = ParseDurationLaw(
            "law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=0.5\nsubhour_from_minutes=10\n", "law");
        PointRain rain;
        rain.a2 = 0.42576984f;
        rain.quantiles = ComputeQuantiles(0.29440853f, 25.708979f);
        PointRain pointer = rain;
        pointer.a2 = 0.3f;
        DurationsView view;
        view.resize(640, 900);
        view.Show(law, rain, QStringLiteral("Valle"), pointer);
        view.show();
        auto* table = view.findChild<QTableWidget*>(QStringLiteral("DurateTabella"));
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 8);
        QCOMPARE(table->verticalHeaderItem(0)->text(), QStringLiteral("10 min"));
        QCOMPARE(table->verticalHeaderItem(7)->text(), QStringLiteral("24 h"));
        const auto q = rain.quantiles.InOrder();
        for (int t = 0; t < 7; ++t)
            QVERIFY(table->item(7, t)->data(Qt::UserRole).toDouble() == float(DepthAt(law, q[std::size_t(t)], rain.a2, 24)));
        for (QRadioButton* button : view.findChildren<QRadioButton*>())
            if (button->text().startsWith(QStringLiteral("Intensità")))
                button->click();
        QVERIFY(table->item(0, 6)->data(Qt::UserRole).toDouble() ==
                float(DepthAt(law, q[6], rain.a2, 10.0 / 60) / (10.0 / 60)));

        const std::optional<Hyetograph> storm = view.Storm();
        QVERIFY(storm);
        const Hyetograph expected = DesignStorm(law, q[5], rain.a2, {1, 5, StormMethod::Chicago, 0.4});
        QCOMPARE(storm->depths, expected.depths);
        QVERIFY(view.findChild<QLabel*>(QStringLiteral("IetogrammaTesto"))->text().contains(QStringLiteral("Intensità di picco")));
        QTemporaryDir dir;
        QVERIFY(view.SaveStorm(StormFormat::SwmmRainFile, dir.filePath(QStringLiteral("p.dat"))));
        QFile saved(dir.filePath(QStringLiteral("p.dat")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().toStdString(), SwmmRainFile(expected, "Quorvel", {}));
        if (const QByteArray shot = qgetenv("QUORVEL_DURATIONS_SCREENSHOT"); !shot.isEmpty())
            view.grab().save(QString::fromLocal8Bit(shot));

        view.Show(std::nullopt, rain, QStringLiteral("Valle"), pointer);
        QCOMPARE(table->rowCount(), 0);
    }
};

}  // namespace quorvel

QTEST_MAIN(quorvel::DurationsViewTest)
#include "test_durations_view.moc"
