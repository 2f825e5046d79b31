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

PointRain ComputePointRain(GaussBoagaPoint point)
{
    PointRain rain;
    rain.cell = CellForPoint(point.x, point.y);
    rain.centre = CellCentre(rain.cell);
    rain.a2 = ReadGridCell(kA2Raster, kA2Header, rain.cell.row, rain.cell.column);
    rain.a1 = ReadGridCell(kA1Raster, kA1Header, rain.cell.row, rain.cell.column);
    rain.cv = ReadGridCell(kCvRaster, kCvHeader, rain.cell.row, rain.cell.column);
    rain.quantiles = ComputeQuantiles(rain.cv, rain.a1);
    return rain;
}

ParameterGrids ParameterGrids::Load()
{
    ParameterGrid a2 = ParameterGrid::Load(kA2Raster, kA2Header);
    ParameterGrid a1 = ParameterGrid::Load(kA1Raster, kA1Header);
    ParameterGrid cv = ParameterGrid::Load(kCvRaster, kCvHeader);
    return {std::move(a2), std::move(a1), std::move(cv)};
}

PointRain ComputePointRain(GaussBoagaPoint point, const ParameterGrids& grids)
{
    PointRain rain;
    rain.cell = CellForPoint(point.x, point.y);
    rain.centre = CellCentre(rain.cell);
    rain.a2 = grids.a2.At(rain.cell);
    rain.a1 = grids.a1.At(rain.cell);
    rain.cv = grids.cv.At(rain.cell);
    rain.quantiles = ComputeQuantiles(rain.cv, rain.a1);
    return rain;
}

}  // namespace quorvel
