#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rain/Point.h"

namespace quorvel {

// Fixed geometry of the regional parameter grids (Gauss-Boaga East zone).
inline constexpr std::int32_t kGridWestEdge = 2310000;
inline constexpr std::int32_t kGridSouthEdge = 5040000;
inline constexpr std::int32_t kGridCellSize = 500;
inline constexpr std::int32_t kGridRows = 260;

// 1-based, row 1 at the north. May lie outside the grid: only reading checks it.
struct GridCell {
    std::int32_t row = 0;
    std::int32_t column = 0;
    friend bool operator==(const GridCell&, const GridCell&) = default;
};

// Throws Error(Overflow) for coordinates beyond any plausible range. In
// double precision, so that a point converted from another system is placed
// by all its digits, not by the single-precision value stored and shown.
GridCell CellForPoint(double x, double y);
GaussBoagaPoint CellCentre(GridCell cell);

// The ground a parameter grid covers, in metres: a point lies in it when
// west <= x < east and south <= y < north.
struct GridArea {
    double west = 0, east = 0, south = 0, north = 0;
};

// The area of the grid whose header is at headerPath: its columns run east
// from the west edge, its rows south from the north edge. Fails as
// ReadGridCell fails on a bad header.
GridArea ReadGridArea(const std::string& headerPath);

// The value of one cell of a parameter grid (.ras raster, .hdr header).
// Reads both files afresh on every call. Both must be regular files, the
// header at most 64 KiB with lines of at most 4 KiB and rows x columns at
// most 256 MiB of values, and the raster exactly those values: anything else
// throws Error.
float ReadGridCell(const std::string& rasterPath, const std::string& headerPath,
                   std::int32_t row, std::int32_t column);

// A whole grid held in memory, for callers that ask many cells of the same
// grid (the batch run). Reads and fails exactly as ReadGridCell does, except
// that the cell check is left to At().
class ParameterGrid {
public:
    static ParameterGrid Load(const std::string& rasterPath, const std::string& headerPath);

    std::int32_t rowCount() const { return rowCount_; }
    std::int32_t columnCount() const { return columnCount_; }
    // Throws Error(SubscriptOutOfRange) for a cell outside the grid.
    float At(GridCell cell) const;
    bool Contains(GridCell cell) const;

private:
    std::int32_t rowCount_ = 0;
    std::int32_t columnCount_ = 0;
    std::string rasterPath_;
    std::vector<float> values_;
};

}  // namespace quorvel
