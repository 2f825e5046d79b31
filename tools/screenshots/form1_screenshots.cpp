// Saves pictures of the main window on the sample region, for a person to look
// at: at full extent, just after the search for one municipality, then over it
// at view widths of about 40 km, 8 km and 4 km, with the zoom tool pressed and
// the municipality finder offering names, and last at the default size with
// the results of five points of more than 100 mm in 200 years, two of them
// selected, zoomed so their cells show, with the pointer over the map, then at
// 800 x 600. The first picture is the window as it opens. Run
// in the application folder; the pictures go to the folder given as the first
// argument, the municipality is the list entry given as the second (109 by
// default, a town in the plain).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include "maplayers/DetailView.h"
#include "window/Form1.h"
#include "rainmaps/RainfallTiffs.h"
#include "window/RainChart.h"
#include "window/ResultsPane.h"
#include "sheet/RainSheet.h"
#include "map/MapWidget.h"
#include "rain/Error.h"
#include "rain/PointRain.h"
#include "report/Report.h"
#include "tests/window/RecordingReporter.h"

using namespace quorvel;

namespace {

void Send(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A press and release at one pixel, as a click of the current tool.
void Click(MapWidget& map, QPoint at)
{
    Send(&map, QEvent::MouseButtonPress, at, Qt::LeftButton);
    Send(&map, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

double Width(const MapWidget& map)
{
    const MapExtents view = map.GetExtents();
    return view.xMax - view.xMin;
}

// Zooms out by clicks until the view is wide enough, then drags a zoom box of
// the map's proportions, centred, to reach the width: the way a user would.
void ZoomToWidth(Form1& form, MapWidget& map, double metres)
{
    const QPoint centre(map.width() / 2, map.height() / 2);
    form.findChild<QToolButton*>(QStringLiteral("CmdZoomOut"))->click();
    while (Width(map) < metres)
        Click(map, centre);
    form.findChild<QToolButton*>(QStringLiteral("CmdZoomIn"))->click();
    const double share = metres / Width(map);
    const int halfWidth = int(map.width() * share / 2);
    const int halfHeight = int(map.height() * share / 2);
    const QPoint from = centre - QPoint(halfWidth, halfHeight);
    const QPoint to = centre + QPoint(halfWidth, halfHeight);
    Send(&map, QEvent::MouseButtonPress, from, Qt::LeftButton);
    Send(&map, QEvent::MouseMove, to, Qt::LeftButton);
    Send(&map, QEvent::MouseButtonRelease, to, Qt::NoButton);
    // Show the read-out too, as a user's pointer over the map would.
    Send(&map, QEvent::MouseMove, centre + QPoint(40, 25), Qt::NoButton);
}

// The window alone, or with screen the whole screen, where the finder's
// completions (a window of their own) show too; offscreen there is no screen
// to grab, and the window alone is saved.
bool Save(Form1& form, const QString& folder, const QString& name, bool screen = false)
{
    QTest::qWait(50);
    const QString path = QDir(folder).filePath(name);
    QPixmap picture = screen ? QGuiApplication::primaryScreen()->grabWindow(0) : QPixmap();
    if (picture.isNull())
        picture = form.grab();
    if (!picture.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Five computed points whose 200-year height passes 100 mm, as close together
// as such points lie, so one view shows all five cells; the fourth is run
// again last under the first's name, which replaces that row's report. Empty
// when the region has fewer than five such points.
std::vector<PointRunResult> HeavyRuns(MapView& map, const std::string& appFolder)
{
    constexpr float kHeavy = 100;  // mm in 200 years
    const ParameterGrids grids = ParameterGrids::Load();
    const MapExtents region = map.GetExtents();
    std::vector<std::pair<GaussBoagaPoint, PointRain>> heavy;
    // Off the 500 m lines, so each point lies inside its cell.
    constexpr double kStep = 1500;
    for (double y = region.yMin + 613; y < region.yMax; y += kStep)
        for (double x = region.xMin + 587; x < region.xMax; x += kStep) {
            const GaussBoagaPoint point{float(std::round(x)), float(std::round(y))};
            try {
                const PointRain rain = ComputePointRain(point, grids);
                if (rain.quantiles.q200 > kHeavy)
                    heavy.emplace_back(point, rain);
            } catch (const Error&) {
            }
        }
    double best = std::numeric_limits<double>::infinity();
    std::vector<std::size_t> chosen;
    for (std::size_t a = 0; a < heavy.size(); ++a) {
        std::vector<std::pair<double, std::size_t>> nearest;
        for (std::size_t b = 0; b < heavy.size(); ++b)
            nearest.emplace_back(std::hypot(heavy[b].first.x - heavy[a].first.x, heavy[b].first.y - heavy[a].first.y), b);
        if (nearest.size() < 5)
            break;
        std::partial_sort(nearest.begin(), nearest.begin() + 5, nearest.end());
        if (nearest[4].first >= best)
            continue;
        best = nearest[4].first;
        chosen.clear();
        for (int i = 0; i < 5; ++i)
            chosen.push_back(nearest[std::size_t(i)].second);
    }
    std::vector<PointRunResult> runs;
    const char* const names[] = {"Prova1", "Sotto il ponte vecchio", "Prova3", "Prova4", "Prova1"};
    for (std::size_t i = 0; i < chosen.size(); ++i)
        runs.push_back({heavy[chosen[i]].first, heavy[chosen[i]].second, appFolder, names[i]});
    return runs;
}

bool SaveResults(Form1& form, MapWidget& map, const QString& folder)
{
    form.findChild<QComboBox*>(QStringLiteral("Combo1"))->clearEditText();
    form.findChild<QToolButton*>(QStringLiteral("Command3"))->click();
    const std::vector<PointRunResult> runs = HeavyRuns(map, QDir::currentPath().toStdString() + "/");
    if (runs.size() != 5) {
        std::fprintf(stderr, "no five points with more than 100 mm in 200 years\n");
        return false;
    }
    MapExtents around{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                      std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
    for (const PointRunResult& run : runs) {
        // The report too, for the "Report" tab's picture.
        const PointRain& r = run.rain;
        const RainQuantiles& q = r.quantiles;
        WriteRainReport(run.point.x, run.point.y, r.centre.x, r.centre.y, r.a2, q.q2, q.q5, q.q10, q.q20, q.q50,
                        q.q100, q.q200, run.appFolder, run.outputName);
        form.RunCompleted(run);
        around = {std::min(around.xMin, run.rain.centre.x - 1000.0), std::max(around.xMax, run.rain.centre.x + 1000.0),
                  std::min(around.yMin, run.rain.centre.y - 1000.0), std::max(around.yMax, run.rain.centre.y + 1000.0)};
    }
    form.resize(977, 743);  // the default size
    QTest::qWait(50);
    QTableWidget* table = form.Results()->Table();
    table->clearSelection();
    for (const int row : {0, 2})
        table->selectionModel()->select(table->model()->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    map.ZoomToExtents(around);
    UpdateDetailView(map, form.State().distretto);
    // The pointer among the cells: its row and its dashed curve show.
    const QPoint between(map.width() / 2 + 17, map.height() / 2 + 11);
    Send(&map, QEvent::MouseMove, between, Qt::NoButton);
    std::printf("five runs, view %.0f m wide, district %s, map %dx%d\n", Width(map),
                qPrintable(form.State().distretto), map.width(), map.height());
    if (!Save(form, folder, QStringLiteral("main-results.png")))
        return false;
    // The chart as "Salva grafico…" saves it, with its legend.
    const QString chart = QDir(folder).filePath(QStringLiteral("results-chart.png"));
    if (!form.Results()->Chart()->SaveTo(chart, false))
        return false;
    std::printf("%s\n", qPrintable(chart));
    // The first selected run's report in the "Report" tab.
    form.Results()->Views()->setCurrentIndex(1);
    QTest::qWait(50);
    if (!Save(form, folder, QStringLiteral("main-report.png")))
        return false;
    form.Results()->Views()->setCurrentIndex(0);
    // The smallest window: the logos give way, the working controls stay whole.
    form.resize(800, 600);
    QTest::qWait(50);
    Send(&map, QEvent::MouseMove, QPoint(map.width() / 2, map.height() / 2), Qt::NoButton);
    std::printf("800 x 600: map %dx%d\n", map.width(), map.height());
    return Save(form, folder, QStringLiteral("main-800x600.png"));
}

// At the default size and full extent, with the 50-year map and its legend.
bool SaveRainfallMap(Form1& form, RainfallTiffs& maps, const QString& folder)
{
    form.resize(977, 743);
    QTest::qWait(50);
    form.findChild<QToolButton*>(QStringLiteral("Command3"))->click();
    auto* box = form.findChild<QComboBox*>(QStringLiteral("MappaPioggia"));
    const int index = box->findText(QStringLiteral("h 1 ora T50"));
    box->setCurrentIndex(index);
    emit box->activated(index);
    QTest::qWait(50);
    std::printf("rainfall map %s\n", maps.Make("pioggia_T50").file.c_str());
    return Save(form, folder, QStringLiteral("main-rainfall.png"));
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <picture folder> [list entry]\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int entry = argc > 2 ? std::atoi(argv[2]) : 109;
    QDir().mkpath(folder);

    testing::RecordingReporter reporter;
    auto* map = new MapWidget;
    Form1 form(*map, map, reporter);
    // As the program has it, so that the pane's buttons are all there.
    form.Results()->SetSheetWriter([](const PointRunResult& run, const std::string& path) {
        PointSheets(run.appFolder).WriteRun(run, path);
    });
    const QTemporaryDir cache;
    RainfallTiffs rainfallMaps("", cache.path());
    form.SetRainfallMaps(&rainfallMaps);
    try {
        form.Load();
    } catch (const Error& error) {
        std::fprintf(stderr, "%s\n", ItalianMessage(error).c_str());
        return 1;
    }
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;

    // The region as the window opens on it.
    bool ok = Save(form, folder, QStringLiteral("main-start.png"));
    form.findChild<QToolButton*>(QStringLiteral("Command3"))->click();
    ok = ok && Save(form, folder, QStringLiteral("main-full-extent.png"));

    auto* combo = form.findChild<QComboBox*>(QStringLiteral("Combo1"));
    combo->setCurrentIndex(entry);
    form.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    ok = ok && Save(form, folder, QStringLiteral("main-municipality.png"));
    for (const int km : {40, 8, 4}) {
        ZoomToWidth(form, *map, km * 1000.0);
        std::printf("view %.0f m wide, district %s\n", Width(*map), qPrintable(form.State().distretto));
        ok = ok && Save(form, folder, QStringLiteral("main-%1km.png").arg(km));
    }

    // Three letters of the municipality's name, in capitals, from its middle.
    const QString name = combo->itemText(entry);
    combo->clearEditText();
    combo->lineEdit()->setFocus();
    QTest::keyClicks(combo->lineEdit(), name.mid(name.size() / 2 - 1, 3).toUpper());
    ok = ok && Save(form, folder, QStringLiteral("main-finder.png"), true);
    ok = SaveResults(form, *map, folder) && ok;
    ok = SaveRainfallMap(form, rainfallMaps, folder) && ok;
    for (const QString& message : reporter.messages) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        ok = false;
    }
    return ok ? 0 : 1;
}
