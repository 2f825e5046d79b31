#pragma once

#include <QByteArray>
#include <QImage>
#include <QLocale>

#include <memory>
#include <optional>
#include <string>

class QGuiApplication;

#include "rain/Durations.h"
#include "report/Register.h"

namespace quorvel {

// A point in WGS84 degrees, for the sheet's second way of naming the point.
struct LatLon {
    double latitude = 0;
    double longitude = 0;
};

// What one page tells of a run: the run as the register keeps it (point,
// cell, values, time, version and the digests of the data), and what the
// page adds around it.
struct RainSheet {
    RegisterEntry run;
    std::optional<LatLon> wgs84;
    // The point's surroundings with its cell, square, drawn by the caller.
    QImage map;
    // The region's depth-duration law, when it has one: the sheet then adds
    // the heights at 1, 3, 6, 12 and 24 hours (those the law holds for).
    std::optional<DurationLaw> law;
    // A converted point within the conversion's accuracy of its cell's edge.
    bool nearCellEdge = false;
};

// The one-page A4 sheet as a PDF: text that can be selected and copied, its
// fonts embedded. Needs a QGuiApplication (the offscreen platform serves).
QByteArray RainSheetPdf(const RainSheet& sheet, const QLocale& locale = QLocale(QLocale::Italian, QLocale::Italy));

// Writes the sheet to path, whole or not at all. Throws Error.
void WriteRainSheet(const RainSheet& sheet, const std::string& path);

class WmsRenderer;

// The sheets of points computed from the grids of one application folder,
// each stamped as the register would stamp its run. The map's layers are
// opened at the first sheet and kept for the next ones. One thread at a time.
class PointSheets {
public:
    // appFolder: empty, or ending with "/".
    explicit PointSheets(std::string appFolder);
    ~PointSheets();

    // The sheet of the point, named name, written to path, stamped now.
    // Throws Error.
    void Write(const std::string& name, GaussBoagaPoint point, const PointRain& rain, const std::string& path,
               bool nearCellEdge = false);

    // The sheet of a run of the window, stamped by the run's own record,
    // written to path. Throws Error, also for a run without a record.
    void WriteRun(const PointRunResult& run, const std::string& path);

    // The map of the point's surroundings, with its cell and the point itself.
    QImage PointMap(GaussBoagaPoint point, GridCell cell);

private:
    void Draw(const RegisterEntry& entry, const std::string& name, bool nearCellEdge, const std::string& path);

    std::string folder_;
    FileDigests digests_;
    std::unique_ptr<WmsRenderer> map_;
};

// What a program without windows needs before it draws a sheet: Qt's
// painting on the offscreen platform, unless another one is asked for.
std::unique_ptr<QGuiApplication> StartOffscreenPainting(int& argc, char** argv);

}  // namespace quorvel
