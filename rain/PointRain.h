#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "rain/Grid.h"
#include "rain/Point.h"

namespace quorvel {

inline constexpr std::array<std::int16_t, 7> kReturnPeriods = {2, 5, 10, 20, 50, 100, 200};

struct RainQuantiles {
    float q2 = 0, q5 = 0, q10 = 0, q20 = 0, q50 = 0, q100 = 0, q200 = 0;
    // In return-period order, q2 first.
    std::array<float, 7> InOrder() const { return {q2, q5, q10, q20, q50, q100, q200}; }
};

struct PointRain {
    GridCell cell;
    GaussBoagaPoint centre;
    float a2 = 0;
    float a1 = 0;
    float cv = 0;
    RainQuantiles quantiles;
};

// Grid files, relative to the application folder (the working directory
// unless a caller names another).
inline constexpr const char* kA2Raster = "grd/param_a2.ras";
inline constexpr const char* kA2Header = "grd/param_a2.hdr";
inline constexpr const char* kA1Raster = "grd/param_a1.ras";
inline constexpr const char* kA1Header = "grd/param_a1.hdr";
inline constexpr const char* kCvRaster = "grd/param_cv.ras";
inline constexpr const char* kCvHeader = "grd/param_cv.hdr";

RainQuantiles ComputeQuantiles(float cv, float a1);

// More than any rain ever measured in a day, in mm: a quantile this high
// comes from a broken grid, not from the weather.
inline constexpr float kMaxPlausibleRainfall = 2000;

// Quantiles that rain can have: finite, above 0, below kMaxPlausibleRainfall,
// and none below the one of the shorter return period before it.
bool IsPlausibleRainfall(const RainQuantiles& quantiles);

// The point's cell, its centre, a2, a1, cv and seven quantiles, reading the
// three grids afresh. A cell whose a2 or a1 is not above 0, or whose cv is
// below 0 (not-a-number included), fails with Error(NoValidData); one whose
// quantiles are not plausible (a1 and cv swapped, a corrupt value) fails with
// Error(NoValidRainfall), naming the cell, its parameters and the fault.
PointRain ComputePointRain(GaussBoagaPoint point);

// The three grids loaded once, for many points. ComputePointRain(point, grids)
// returns exactly what ComputePointRain(point) returns for the same files.
struct ParameterGrids {
    ParameterGrid a2, a1, cv;
    // From the grid files under folder: empty, or a path ending with "/".
    static ParameterGrids Load(const std::string& folder = {});
};
PointRain ComputePointRain(GaussBoagaPoint point, const ParameterGrids& grids);

// What ComputePointRain gives for a point in cell. For a point known more
// exactly than in single precision, one converted from another system, whose
// cell is CellForPoint of its double-precision coordinates.
PointRain ComputeCellRain(GridCell cell);
PointRain ComputeCellRain(GridCell cell, const ParameterGrids& grids);

}  // namespace quorvel
