#include "rain/PointRain.h"

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

// The one sequence behind both ways of computing a point, so they cannot
// drift apart: the cell and its centre before any file is touched, then a2,
// a1 and cv in that order, then the quantiles.
template <typename ReadA2, typename ReadA1, typename ReadCv>
PointRain ComputeWith(GaussBoagaPoint point, ReadA2 readA2, ReadA1 readA1, ReadCv readCv)
{
    PointRain rain;
    rain.cell = CellForPoint(point.x, point.y);
    rain.centre = CellCentre(rain.cell);
    rain.a2 = readA2(rain.cell);
    rain.a1 = readA1(rain.cell);
    rain.cv = readCv(rain.cell);
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
