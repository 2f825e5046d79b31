#include "sheet/RainSheet.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "crs/Crs.h"
#include "map/ViewTransform.h"
#include "maplayers/LayerTable.h"
#include "rain/Error.h"
#include "rain/SampleMark.h"
#include "report/Report.h"
#include "wms/WmsRenderer.h"

namespace quorvel {
namespace {

constexpr int kDotsPerInch = 600;
constexpr double kPageWidth = 210, kMargin = 18;  // mm

// The exact value, as short as reads back to the same single-precision number.
QString Exact(float value, const QLocale& locale)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return QString::fromLatin1(text, end - text).replace(u'.', locale.decimalPoint());
}

QString Quantile(float value, const QLocale& locale)
{
    return locale.toString(value, 'f', 1);
}

// Draws in millimetres from the page's top-left corner, with fonts in points.
class Page {
public:
    explicit Page(QPainter& painter) : painter_(painter) {}

    static double Dots(double mm) { return mm * kDotsPerInch / 25.4; }
    static QRectF Box(double x, double y, double width, double height)
    {
        return {Dots(x), Dots(y), Dots(width), Dots(height)};
    }

    void Font(double points, bool bold = false, bool mono = false)
    {
        QFont font(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(points);
        font.setBold(bold);
        painter_.setFont(font);
    }

    // Writes text with its top at y; returns the height used, in mm.
    double Text(double x, double y, double width, const QString& text, int flags = Qt::AlignLeft)
    {
        const QRectF area = Box(x, y, width, 200);
        const QRectF used = painter_.boundingRect(area, flags | Qt::TextWordWrap, text);
        painter_.drawText(area, flags | Qt::TextWordWrap, text);
        return used.height() * 25.4 / kDotsPerInch;
    }

    QPainter& painter() { return painter_; }

private:
    QPainter& painter_;
};

// The quantiles against the return period, on a logarithmic axis labelled at
// each of the seven periods.
void DrawCurve(Page& page, const RainQuantiles& quantiles, double x, double y, double width, double height,
               const QLocale& locale)
{
    QPainter& painter = page.painter();
    const auto values = quantiles.InOrder();
    const double top = *std::max_element(values.begin(), values.end());
    // A round step that gives five to ten grid lines.
    const double raw = std::max(top, 1.0) / 5;
    const double magnitude = std::pow(10, std::floor(std::log10(raw)));
    double step = magnitude;
    for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = factor * magnitude;
        if (raw <= step)
            break;
    }
    const double yMax = step * std::ceil(top / step + 0.001);
    const double left = x + 14, bottom = y + height - 10, right = x + width - 2, upper = y + 2;
    const auto px = [&](double period) {
        return Page::Dots(left + (right - left) * (std::log(period / 1.6) / std::log(250 / 1.6)));
    };
    const auto py = [&](double mm) { return Page::Dots(bottom - (bottom - upper) * mm / yMax); };

    page.Font(7);
    painter.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), Page::Dots(0.15)));
    for (double v = 0; v <= yMax + step / 2; v += step) {
        painter.drawLine(QPointF(Page::Dots(left), py(v)), QPointF(Page::Dots(right), py(v)));
        painter.setPen(Qt::black);
        page.Text(x, (py(v) * 25.4 / kDotsPerInch) - 1.6, 12.5, locale.toString(v, 'g', 6), Qt::AlignRight);
        painter.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), Page::Dots(0.15)));
    }
    for (const std::int16_t period : kReturnPeriods) {
        painter.drawLine(QPointF(px(period), py(0)), QPointF(px(period), py(yMax)));
        painter.setPen(Qt::black);
        page.Text(px(period) * 25.4 / kDotsPerInch - 6, bottom + 1, 12, QString::number(period), Qt::AlignHCenter);
        painter.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), Page::Dots(0.15)));
    }
    painter.setPen(QPen(Qt::black, Page::Dots(0.25)));
    painter.drawRect(QRectF(QPointF(Page::Dots(left), py(yMax)), QPointF(Page::Dots(right), py(0))));
    page.Text(left, bottom + 5, right - left, QStringLiteral("Tempo di ritorno T (anni)"), Qt::AlignHCenter);
    painter.save();
    painter.translate(Page::Dots(x), Page::Dots(upper + (bottom - upper) / 2));
    painter.rotate(-90);
    painter.drawText(QRectF(Page::Dots(-30), 0, Page::Dots(60), Page::Dots(4)), Qt::AlignHCenter,
                     QStringLiteral("h 1 ora (mm)"));
    painter.restore();

    QPainterPath curve;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const QPointF at(px(kReturnPeriods[i]), py(values[i]));
        i == 0 ? curve.moveTo(at) : curve.lineTo(at);
    }
    const QColor blue(0x00, 0x72, 0xb2);
    painter.setPen(QPen(blue, Page::Dots(0.5)));
    painter.drawPath(curve);
    painter.setBrush(blue);
    for (std::size_t i = 0; i < values.size(); ++i)
        painter.drawEllipse(QPointF(px(kReturnPeriods[i]), py(values[i])), Page::Dots(0.8), Page::Dots(0.8));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(Qt::black);
}

// The heights h(d, T) at the day's usual durations the law holds for; returns the y below.
double DrawDurations(Page& page, const DurationLaw& law, const PointRain& rain, double y, double width,
                     const QLocale& locale)
{
    QPainter& painter = page.painter();
    std::vector<double> hours;
    for (const double d : {1.0, 3.0, 6.0, 12.0, 24.0})
        if (d >= law.MinHours() && d <= law.MaxHours())
            hours.push_back(d);
    if (hours.empty())
        return y;
    page.Font(12, true);
    y += page.Text(kMargin, y, width, QStringLiteral("Altezze di pioggia per durata, h(d) = h1 · d^a2 (mm)")) + 2;
    const double labelWidth = 30, column = (width - labelWidth) / 7, row = 5.5;
    const int lines = int(hours.size()) + 1;
    painter.setPen(QPen(Qt::black, Page::Dots(0.25)));
    painter.fillRect(Page::Box(kMargin, y, width, row), QColor(0xee, 0xee, 0xee));
    for (int line = 0; line <= lines; ++line)
        painter.drawLine(QPointF(Page::Dots(kMargin), Page::Dots(y + line * row)),
                         QPointF(Page::Dots(kMargin + width), Page::Dots(y + line * row)));
    page.Font(9, true);
    page.Text(kMargin + 1.5, y + 1, labelWidth, QStringLiteral("Durata"));
    const auto heights = rain.quantiles.InOrder();
    for (std::size_t i = 0; i < heights.size(); ++i)
        page.Text(kMargin + labelWidth + i * column, y + 1, column, QString::number(kReturnPeriods[i]),
                  Qt::AlignHCenter);
    for (std::size_t r = 0; r < hours.size(); ++r) {
        const double top = y + (r + 1) * row + 1;
        page.Font(9, true);
        page.Text(kMargin + 1.5, top, labelWidth, QString::fromStdString(DurationText(hours[r])));
        page.Font(9);
        for (std::size_t i = 0; i < heights.size(); ++i)
            page.Text(kMargin + labelWidth + i * column, top, column,
                      locale.toString(DepthValue(law, heights[i], rain.a2, hours[r]), 'f', 1), Qt::AlignHCenter);
    }
    return y + lines * row + 5;
}

void DrawSheet(QPainter& painter, const RainSheet& sheet, const QLocale& locale)
{
    Page page(painter);
    const RegisterEntry& run = sheet.run;
    const PointRain& rain = run.rain;
    const double width = kPageWidth - 2 * kMargin;
    double y = kMargin;

    page.Font(18, true);
    y += page.Text(kMargin, y, width, QStringLiteral("Pioggia di progetto"));
    page.Font(11);
    y += page.Text(kMargin, y, width, QString::fromStdString(run.reportFile)) + 3;

    if (run.data == "esempio") {
        painter.fillRect(Page::Box(kMargin, y, width, 8), QColor(0xfd, 0xec, 0xc8));
        page.Font(10, true);
        painter.setPen(QColor(0x8a, 0x3b, 0x00));
        page.Text(kMargin, y + 1.8, width, QString::fromUtf8(kSampleWarning), Qt::AlignHCenter);
        painter.setPen(Qt::black);
        y += 11;
    }

    // The point and its cell on the left, the map of its surroundings on the right.
    const double mapSize = 70, textWidth = width - mapSize - 6;
    const double mapTop = y;
    page.Font(12, true);
    y += page.Text(kMargin, y, textWidth, QStringLiteral("Punto")) + 1;
    page.Font(9.5);
    QString point = QStringLiteral("Gauss-Boaga Fuso Est (EPSG:3004)\nE %1 m   N %2 m")
                        .arg(Exact(run.point.x, locale), Exact(run.point.y, locale));
    if (sheet.wgs84)
        point += QStringLiteral("\nWGS84 (EPSG:4326)\nlat %1°   lon %2°")
                     .arg(locale.toString(sheet.wgs84->latitude, 'f', 6),
                          locale.toString(sheet.wgs84->longitude, 'f', 6));
    y += page.Text(kMargin, y, textWidth, point) + 3;
    if (sheet.nearCellEdge) {
        page.Font(8.5, true);
        painter.setPen(QColor(0x8a, 0x3b, 0x00));
        y += page.Text(kMargin, y, textWidth, QString::fromStdString(NearCellEdgeNote())) + 3;
        painter.setPen(Qt::black);
    }
    page.Font(12, true);
    y += page.Text(kMargin, y, textWidth, QStringLiteral("Cella della griglia (500 m)")) + 1;
    page.Font(9.5);
    y += page.Text(kMargin, y, textWidth,
                   QStringLiteral("riga %1, colonna %2\ncentro E %3 m   N %4 m")
                       .arg(rain.cell.row)
                       .arg(rain.cell.column)
                       .arg(Exact(rain.centre.x, locale), Exact(rain.centre.y, locale))) +
         3;
    page.Font(12, true);
    y += page.Text(kMargin, y, textWidth, QStringLiteral("Parametri")) + 1;
    page.Font(9.5);
    y += page.Text(kMargin, y, textWidth,
                   QStringLiteral("a2 = %1\na1 = %2\ncv = %3")
                       .arg(Exact(rain.a2, locale), Exact(rain.a1, locale), Exact(rain.cv, locale)));

    const QRectF mapBox = Page::Box(kPageWidth - kMargin - mapSize, mapTop, mapSize, mapSize);
    if (!sheet.map.isNull()) {
        const QSizeF fitted = QSizeF(sheet.map.size()).scaled(mapBox.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(mapBox.topLeft(), fitted), sheet.map);
    }
    painter.setPen(QPen(Qt::black, Page::Dots(0.25)));
    painter.drawRect(mapBox);
    y = std::max(y, mapTop + mapSize) + 7;

    // The seven quantiles as a table: the periods on one line, the heights below.
    page.Font(12, true);
    y += page.Text(kMargin, y, width, QStringLiteral("Altezze di pioggia di durata 1 ora")) + 2;
    const double labelWidth = 30, column = (width - labelWidth) / 7, row = 7;
    painter.setPen(QPen(Qt::black, Page::Dots(0.25)));
    painter.fillRect(Page::Box(kMargin, y, width, row), QColor(0xee, 0xee, 0xee));
    for (int line = 0; line <= 2; ++line)
        painter.drawLine(QPointF(Page::Dots(kMargin), Page::Dots(y + line * row)),
                         QPointF(Page::Dots(kMargin + width), Page::Dots(y + line * row)));
    page.Font(9.5, true);
    page.Text(kMargin + 1.5, y + 1.5, labelWidth, QStringLiteral("T (anni)"));
    page.Text(kMargin + 1.5, y + row + 1.5, labelWidth, QStringLiteral("h (mm)"));
    const auto values = rain.quantiles.InOrder();
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double left = kMargin + labelWidth + i * column;
        page.Font(9.5, true);
        page.Text(left, y + 1.5, column, QString::number(kReturnPeriods[i]), Qt::AlignHCenter);
        page.Font(9.5);
        page.Text(left, y + row + 1.5, column, Quantile(values[i], locale), Qt::AlignHCenter);
    }
    y += 2 * row + 6;

    // With durations the curve gives them room: the page stays one page.
    const double curveHeight = sheet.law ? 52 : 78;
    DrawCurve(page, rain.quantiles, kMargin, y, width, curveHeight, locale);
    y += curveHeight + 6;
    if (sheet.law)
        y = DrawDurations(page, *sheet.law, rain, y, width, locale);

    // Where the numbers come from, as the register keeps it.
    page.Font(8);
    y += page.Text(kMargin, y, width,
                   QStringLiteral("Calcolato il %1 con Quorvel %2 (utente %3).")
                       .arg(QString::fromStdString(run.time), QString::fromStdString(run.version),
                            QString::fromStdString(run.user))) +
         1;
    const char* names[] = {"param_a2.ras", "param_a1.ras", "param_cv.ras", "modello .xls",
                           "param_a2.hdr", "param_a1.hdr", "param_cv.hdr"};
    QString digests = QStringLiteral("SHA-256 dei dati:");
    for (std::size_t i = 0; i < 7; ++i) {
        const std::string& digest = i < 4 ? run.digests[i] : run.headerDigests[i - 4];
        digests += QStringLiteral("\n%1  %2").arg(QString::fromLatin1(names[i]), -13).arg(QString::fromStdString(digest));
    }
    page.Font(6.5, false, true);
    page.Text(kMargin, y, width, digests);
}

}  // namespace

QByteArray RainSheetPdf(const RainSheet& sheet, const QLocale& locale)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kDotsPerInch);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(QStringLiteral("Pioggia di progetto – ") + QString::fromStdString(sheet.run.reportFile));
        writer.setCreator(QStringLiteral("Quorvel ") + QString::fromStdString(sheet.run.version));
        QPainter painter(&writer);
        painter.setRenderHint(QPainter::Antialiasing);
        DrawSheet(painter, sheet, locale);
    }
    return bytes;
}

void WriteRainSheet(const RainSheet& sheet, const std::string& path)
{
    const QByteArray pdf = RainSheetPdf(sheet);
    ReplaceFileWith(path, std::vector<std::uint8_t>(pdf.begin(), pdf.end()));
}

PointSheets::PointSheets(std::string appFolder) : folder_(std::move(appFolder)) {}

PointSheets::~PointSheets() = default;

QImage PointSheets::PointMap(GaussBoagaPoint point, GridCell cell)
{
    if (!map_)
        map_ = std::make_unique<WmsRenderer>(folder_);
    // Wide enough for the names of the municipality and its neighbours.
    constexpr double kHalfWidth = 4000;
    // Few pixels, so that the names keep a readable size on the page.
    constexpr int kPixels = 320;
    const MapExtents box{point.x - kHalfWidth, point.x + kHalfWidth, point.y - kHalfWidth, point.y + kHalfWidth};
    QImage picture = map_->Draw(box, kPixels, kPixels,
                                {kElevationLayer, kMunicipalityLayer, kProvinceLayer, kMunicipalityNames}, Qt::white);
    const ViewTransform view(point.x, point.y, 2 * kHalfWidth / kPixels, kPixels, kPixels);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const GaussBoagaPoint centre = CellCentre(cell);
    const double half = kGridCellSize / 2.0;
    double left, top, right, bottom, px, py;
    view.MapToPixel(centre.x - half, centre.y + half, left, top);
    view.MapToPixel(centre.x + half, centre.y - half, right, bottom);
    view.MapToPixel(point.x, point.y, px, py);
    const QColor red(0xd5, 0x5e, 0x00);
    painter.setPen(QPen(red, 3));
    painter.setBrush(QColor(0xd5, 0x5e, 0x00, 50));
    painter.drawRect(QRectF(QPointF(left, top), QPointF(right, bottom)));
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(red);
    painter.drawEllipse(QPointF(px, py), 6, 6);
    return picture;
}

void PointSheets::Write(const std::string& name, GaussBoagaPoint point, const PointRain& rain,
                        const std::string& path, bool nearCellEdge)
{
    const PointRunResult run{point, rain, folder_, name};
    Draw(EntryOf(run, RecordRun(run, digests_)), name, nearCellEdge, path);
}

void PointSheets::WriteRun(const PointRunResult& run, const std::string& path)
{
    if (!run.record)
        throw Error(ErrorKind::FileNotFound, RegisterPath(run.appFolder),
                    {"the run was not recorded: its sheet would not tell its data",
                     "l'elaborazione non è stata registrata: il foglio non ne direbbe i dati"});
    Draw(EntryOf(run, *run.record), run.outputName,
         run.converted && run.converted->nearCellEdge, path);
}

void PointSheets::Draw(const RegisterEntry& entry, const std::string& name, bool nearCellEdge, const std::string& path)
{
    RainSheet sheet;
    sheet.run = entry;
    sheet.run.reportFile = name;
    const SystemPoint wgs84 = FromGaussBoaga(ReferenceSystem::Wgs84, {entry.point.x, entry.point.y});
    sheet.wgs84 = LatLon{wgs84.y, wgs84.x};
    sheet.map = PointMap(entry.point, entry.rain.cell);
    sheet.law = ReadDurationLaw(folder_);
    sheet.nearCellEdge = nearCellEdge;
    WriteRainSheet(sheet, path);
}

std::unique_ptr<QGuiApplication> StartOffscreenPainting(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Starting, Qt may note that it found no runtime folder, which concerns
    // only windows; such a note would muddle a command's standard error.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    auto application = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previous);
    return application;
}

}  // namespace quorvel
