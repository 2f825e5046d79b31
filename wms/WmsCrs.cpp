#include "wms/WmsCrs.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include "rain/Error.h"

namespace quorvel {

namespace {

constexpr int kMonteMarioGeographic = 4265;
constexpr int kWgs84Geographic = 4326;
constexpr int kWebMercator = 3857;
constexpr const char* kMonteMarioToWgs84 = "urn:ogc:def:coordinateOperation:EPSG::1660";
// Reprojected pictures are resampled through a lattice of exactly converted
// points this many pixels apart; in between the error stays far below a pixel.
constexpr int kLattice = 16;

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* t) const { OGRCoordinateTransformation::DestroyCT(t); }
};
using Transform = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

// One step, set up once per thread: GDAL's transformations are not shared.
OGRCoordinateTransformation& Step(int from, int to, const char* operation = nullptr, bool reverse = false)
{
    thread_local std::map<std::pair<int, int>, Transform> steps;
    Transform& slot = steps[{from, to}];
    if (!slot) {
        OGRSpatialReference source, target;
        OGRCoordinateTransformationOptions options;
        options.SetBallparkAllowed(false);
        const bool set = source.importFromEPSG(from) == OGRERR_NONE && target.importFromEPSG(to) == OGRERR_NONE &&
                         (operation == nullptr || options.SetCoordinateOperation(operation, reverse));
        source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        if (set)
            slot.reset(OGRCreateCoordinateTransformation(&source, &target, options));
        if (!slot) {
            const std::string pair = "EPSG:" + std::to_string(from) + " -> EPSG:" + std::to_string(to);
            throw Error(ErrorKind::BadFileFormat, {},
                        {"PROJ cannot set up the conversion " + pair,
                         "PROJ non riesce a preparare la conversione " + pair});
        }
    }
    return *slot;
}

void Apply(OGRCoordinateTransformation& step, std::vector<double>& x, std::vector<double>& y)
{
    std::vector<int> ok(x.size(), FALSE);
    step.Transform(x.size(), x.data(), y.data(), nullptr, ok.data());
    for (std::size_t i = 0; i < x.size(); ++i)
        if (!ok[i] || !std::isfinite(x[i]) || !std::isfinite(y[i]))
            x[i] = y[i] = std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

std::optional<WmsCrs> WmsCrsFromName(const std::string& name)
{
    std::string upper;
    for (const char c : name)
        upper += char(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "EPSG:3004")
        return WmsCrs::GaussBoaga;
    if (upper == "EPSG:4326")
        return WmsCrs::Wgs84;
    if (upper == "EPSG:3857")
        return WmsCrs::WebMercator;
    return std::nullopt;
}

const char* WmsCrsName(WmsCrs crs)
{
    switch (crs) {
    case WmsCrs::GaussBoaga: return "EPSG:3004";
    case WmsCrs::Wgs84: return "EPSG:4326";
    case WmsCrs::WebMercator: return "EPSG:3857";
    }
    return "";
}

MapExtents AxisOrdered(WmsCrs crs, const MapExtents& given)
{
    if (crs != WmsCrs::Wgs84)
        return given;
    return {given.yMin, given.yMax, given.xMin, given.xMax};
}

void ToGaussBoaga(WmsCrs crs, std::vector<double>& x, std::vector<double>& y)
{
    if (crs == WmsCrs::GaussBoaga)
        return;
    if (crs == WmsCrs::WebMercator)
        Apply(Step(kWebMercator, kWgs84Geographic), x, y);
    Apply(Step(kWgs84Geographic, kMonteMarioGeographic, kMonteMarioToWgs84, true), x, y);
    Apply(Step(kMonteMarioGeographic, 3004), x, y);
}

void FromGaussBoaga(WmsCrs crs, std::vector<double>& x, std::vector<double>& y)
{
    if (crs == WmsCrs::GaussBoaga)
        return;
    Apply(Step(3004, kMonteMarioGeographic), x, y);
    Apply(Step(kMonteMarioGeographic, kWgs84Geographic, kMonteMarioToWgs84, false), x, y);
    if (crs == WmsCrs::WebMercator)
        Apply(Step(kWgs84Geographic, kWebMercator), x, y);
}

QImage Reprojected(WmsCrs crs, const MapExtents& box, int width, int height, const GaussBoagaDrawing& draw,
                   int maxSide)
{
    // The lattice: every kLattice-th pixel centre and the last, converted.
    std::vector<int> columns, rows;
    for (int i = 0; i < width; i += kLattice)
        columns.push_back(i);
    if (columns.back() != width - 1)
        columns.push_back(width - 1);
    for (int j = 0; j < height; j += kLattice)
        rows.push_back(j);
    if (rows.back() != height - 1)
        rows.push_back(height - 1);
    const double sx = (box.xMax - box.xMin) / width, sy = (box.yMax - box.yMin) / height;
    std::vector<double> x, y;
    for (const int j : rows)
        for (const int i : columns) {
            x.push_back(box.xMin + (i + 0.5) * sx);
            y.push_back(box.yMax - (j + 0.5) * sy);
        }
    ToGaussBoaga(crs, x, y);
    MapExtents source{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                      std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
    for (std::size_t k = 0; k < x.size(); ++k) {
        if (std::isnan(x[k]))
            continue;
        source = {std::min(source.xMin, x[k]), std::max(source.xMax, x[k]), std::min(source.yMin, y[k]),
                  std::max(source.yMax, y[k])};
    }
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    if (!(source.xMax > source.xMin && source.yMax > source.yMin))
        return out;
    // As many pixels as the picture asked for, over the part of Gauss-Boaga
    // it shows, with a margin of a pixel for the outermost centres.
    const double resolution = std::sqrt((source.xMax - source.xMin) * (source.yMax - source.yMin) /
                                        (double(width) * double(height)));
    source = {source.xMin - resolution, source.xMax + resolution, source.yMin - resolution,
              source.yMax + resolution};
    const int drawnW = std::clamp(int(std::ceil((source.xMax - source.xMin) / resolution)), 1, maxSide);
    const int drawnH = std::clamp(int(std::ceil((source.yMax - source.yMin) / resolution)), 1, maxSide);
    const QImage drawn =
        draw(source, drawnW, drawnH).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const double px = drawnW / (source.xMax - source.xMin), py = drawnH / (source.yMax - source.yMin);

    const std::size_t across = columns.size();
    // The lattice cell of pixel i between columns[c] and columns[c + 1]; a
    // single column or row is its own cell.
    const auto cellOf = [](const std::vector<int>& lattice, int pixel) {
        return lattice.size() < 2 ? std::size_t(0) : std::min(std::size_t(pixel / kLattice), lattice.size() - 2);
    };
    const auto weight = [](const std::vector<int>& lattice, std::size_t cell, int pixel) {
        return lattice.size() < 2 ? 0.0 : double(pixel - lattice[cell]) / (lattice[cell + 1] - lattice[cell]);
    };
    for (int j = 0; j < height; ++j) {
        const std::size_t r = cellOf(rows, j), r1 = std::min(r + 1, rows.size() - 1);
        const double v = weight(rows, r, j);
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (int i = 0; i < width; ++i) {
            const std::size_t c = cellOf(columns, i), c1 = std::min(c + 1, across - 1);
            const double u = weight(columns, c, i);
            const std::size_t a = r * across + c, b = r * across + c1, d = r1 * across + c, e = r1 * across + c1;
            const double gx = (1 - v) * ((1 - u) * x[a] + u * x[b]) + v * ((1 - u) * x[d] + u * x[e]);
            const double gy = (1 - v) * ((1 - u) * y[a] + u * y[b]) + v * ((1 - u) * y[d] + u * y[e]);
            if (std::isnan(gx) || std::isnan(gy))
                continue;  // beyond what the conversion reaches
            const int si = int(std::floor((gx - source.xMin) * px));
            const int sj = int(std::floor((source.yMax - gy) * py));
            if (si >= 0 && sj >= 0 && si < drawnW && sj < drawnH)
                line[i] = reinterpret_cast<const QRgb*>(drawn.constScanLine(sj))[si];
        }
    }
    return out;
}

}  // namespace quorvel
