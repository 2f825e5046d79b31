// Saves pictures of the main window on the sample region, for a person to look
// at: at full extent, just after the search for one municipality, then over it
// at view widths of about 40 km, 8 km and 4 km, and last with the zoom tool
// pressed and the municipality finder offering names. Run in the application
// folder; the pictures go to the folder given as the first argument, the
// municipality is the list entry given as the second (109 by default, a town
// in the plain).
#include <cstdio>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include "window/Form1.h"
#include "map/MapWidget.h"
#include "rain/Error.h"
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
    try {
        form.Load();
    } catch (const Error& error) {
        std::fprintf(stderr, "%s\n", ItalianMessage(error).c_str());
        return 1;
    }
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;

    bool ok = true;
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
    for (const QString& message : reporter.messages) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        ok = false;
    }
    return ok ? 0 : 1;
}
