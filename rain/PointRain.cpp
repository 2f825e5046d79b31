#include "rain/PointRain.h"

#include <charconv>
#include <cmath>
#include <optional>

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

std::string Text(float value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

// What makes the quantiles implausible, in words; nothing when they are not.
std::optional<ErrorDetail> RainfallFault(const RainQuantiles& quantiles)
{
    const std::array<float, 7> q = quantiles.InOrder();
    for (std::size_t i = 0; i < q.size(); ++i) {
        const std::string value = "q" + std::to_string(kReturnPeriods[i]) + " = " + Text(q[i]) + " mm";
        if (!std::isfinite(q[i]))
            return ErrorDetail{value + ", not a finite number", value + ", che non è un numero finito"};
        if (!(q[i] > 0))
            return ErrorDetail{value + ", not above 0", value + ", non sopra 0"};
        if (!(q[i] < kMaxPlausibleRainfall))
            return ErrorDetail{value + ", not below 2000 mm, more than any rain measured in a day",
                               value + ", non sotto 2000 mm, più di qualsiasi pioggia misurata in un giorno"};
        if (i > 0 && q[i] < q[i - 1]) {
            const std::string earlier = "q" + std::to_string(kReturnPeriods[i - 1]) + " = " + Text(q[i - 1]) + " mm";
            return ErrorDetail{value + ", less than " + earlier, value + ", meno di " + earlier};
        }
    }
    return std::nullopt;
}

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
        const std::string row = std::to_string(rain.cell.row), column = std::to_string(rain.cell.column);
        const std::string parameter = std::string(": ") + name + " = " + Text(value);
        throw Error(ErrorKind::NoValidData, {},
                    {"row " + row + ", column " + column + parameter, "riga " + row + ", colonna " + column + parameter});
    }
}

// Grids with a1 and cv swapped, or a corrupt value, still hold numbers of
// the right sign, but give rain below zero or beyond any storm. Such a cell
// is refused with the numbers that show why.
[[noreturn]] void RefuseRainfall(const PointRain& rain, const ErrorDetail& fault)
{
    const std::string row = std::to_string(rain.cell.row), column = std::to_string(rain.cell.column);
    const std::string parameters = "a2 = " + Text(rain.a2) + ", a1 = " + Text(rain.a1) + ", cv = " + Text(rain.cv);
    throw Error(ErrorKind::NoValidRainfall, {},
                {"row " + row + ", column " + column + ": " + parameters + " give " + fault.english,
                 "riga " + row + ", colonna " + column + ": " + parameters + " danno " + fault.italian});
}

// The one sequence behind both ways of computing a point, so they cannot
// drift apart: the cell's centre before any file is touched, then a2,
// a1 and cv in that order, their check, then the quantiles.
template <typename ReadA2, typename ReadA1, typename ReadCv>
PointRain ComputeWith(GridCell cell, ReadA2 readA2, ReadA1 readA1, ReadCv readCv)
{
    PointRain rain;
    rain.cell = cell;
    rain.centre = CellCentre(rain.cell);
    rain.a2 = readA2(rain.cell);
    rain.a1 = readA1(rain.cell);
    rain.cv = readCv(rain.cell);
    RequireValidData(rain);
    try {
        rain.quantiles = ComputeQuantiles(rain.cv, rain.a1);
    } catch (const Error& error) {
        RefuseRainfall(rain, {"no finite rainfall (" + error.detail() + ")",
                              "una pioggia non finita (" + error.italianDetail() + ")"});
    }
    if (const auto fault = RainfallFault(rain.quantiles))
        RefuseRainfall(rain, *fault);
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
    return ComputeCellRain(CellForPoint(point.x, point.y));
}

PointRain ComputeCellRain(GridCell cell)
{
    return ComputeWith(cell, ReadFrom(kA2Raster, kA2Header), ReadFrom(kA1Raster, kA1Header),
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
    return ComputeCellRain(CellForPoint(point.x, point.y), grids);
}

PointRain ComputeCellRain(GridCell cell, const ParameterGrids& grids)
{
    return ComputeWith(cell, ReadFrom(grids.a2), ReadFrom(grids.a1), ReadFrom(grids.cv));
}

bool IsPlausibleRainfall(const RainQuantiles& quantiles)
{
    return !RainfallFault(quantiles);
}

}  // namespace quorvel
