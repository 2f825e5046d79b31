#include "rain/PointRain.h"

#include <charconv>
#include <cmath>

#include "rain/Error.h"
#include "rain/Gev.h"

namespace quorvel {

RainQuantiles ComputeQuantiles(float cv, float a1)
{
    RainQuantiles q;
    q.q2 = GevQuantile(cv, a1, 2);
    q.q5 = GevQuantile(cv, a1, 5);
    q.q10 = GevQuantile(cv, a1, 10);
    q.q20 = GevQuantile(cv, a1, 20);
    q.q50 = GevQuantile(cv, a1, 50);
    q.q100 = GevQuantile(cv, a1, 100);
    q.q200 = GevQuantile(cv, a1, 200);
    return q;
}

namespace {

// Regional grids mark the sea and the land beyond the region with a value no
// real cell has (usually -9999); not-a-number or infinite values are no data
// either. Such a cell has no rainfall to give, and would otherwise yield
// negative or meaningless quantiles.
void RequireValidData(const PointRain& rain)
{
    const struct {
        const char* name;
        float value;
        bool zeroAllowed;  // a cell without variation rains its index value
    } parameters[] = {{"a2", rain.a2, false}, {"a1", rain.a1, false}, {"cv", rain.cv, true}};
    for (const auto& [name, value, zeroAllowed] : parameters) {
        if (std::isfinite(value) && (value > 0 || (zeroAllowed && value == 0)))
            continue;
        char text[32];
        const auto written = std::to_chars(text, text + sizeof text, value);
        const std::string row = std::to_string(rain.cell.row), column = std::to_string(rain.cell.column);
        const std::string parameter = std::string(": ") + name + " = " + std::string(text, written.ptr);
        throw Error(ErrorKind::NoValidData, {},
                    {"row " + row + ", column " + column + parameter, "riga " + row + ", colonna " + column + parameter});
    }
}

// The one sequence behind both ways of computing a point, so they cannot
// drift apart: the cell and its centre before any file is touched, then a2,
// a1 and cv in that order, their check, then the quantiles.
template <typename ReadA2, typename ReadA1, typename ReadCv>
PointRain ComputeWith(GaussBoagaPoint point, ReadA2 readA2, ReadA1 readA1, ReadCv readCv)
{
    PointRain rain;
    rain.cell = CellForPoint(point.x, point.y);
    rain.centre = CellCentre(rain.cell);
    rain.a2 = readA2(rain.cell);
    rain.a1 = readA1(rain.cell);
    rain.cv = readCv(rain.cell);
    RequireValidData(rain);
    rain.quantiles = ComputeQuantiles(rain.cv, rain.a1);
    return rain;
}

auto ReadFrom(const char* raster, const char* header)
{
    return [=](GridCell cell) { return ReadGridCell(raster, header, cell.row, cell.column); };
}

auto ReadFrom(const ParameterGrid& grid)
{
    return [&grid](GridCell cell) { return grid.At(cell); };
}

}  // namespace

PointRain ComputePointRain(GaussBoagaPoint point)
{
    return ComputeWith(point, ReadFrom(kA2Raster, kA2Header), ReadFrom(kA1Raster, kA1Header),
                       ReadFrom(kCvRaster, kCvHeader));
}

ParameterGrids ParameterGrids::Load(const std::string& folder)
{
    ParameterGrid a2 = ParameterGrid::Load(folder + kA2Raster, folder + kA2Header);
    ParameterGrid a1 = ParameterGrid::Load(folder + kA1Raster, folder + kA1Header);
    ParameterGrid cv = ParameterGrid::Load(folder + kCvRaster, folder + kCvHeader);
    return {std::move(a2), std::move(a1), std::move(cv)};
}

PointRain ComputePointRain(GaussBoagaPoint point, const ParameterGrids& grids)
{
    return ComputeWith(point, ReadFrom(grids.a2), ReadFrom(grids.a1), ReadFrom(grids.cv));
}

}  // namespace quorvel
