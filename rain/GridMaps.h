#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "rain/PointRain.h"

namespace quorvel {

// The value that marks a cell without an answer in every map of the grids.
inline constexpr float kGridMapNoData = -9999.0f;

// The maps the grids give, by name: the three parameters, then the seven
// quantiles (h 1 hour, mm) in return-period order.
inline constexpr std::array<const char*, 10> kGridMapNames = {"a2", "a1", "cv", "q2", "q5", "q10", "q20",
                                                             "q50", "q100", "q200"};
inline constexpr std::size_t kFirstQuantileMap = 3;

// Index into kGridMapNames; nothing for another name.
std::optional<std::size_t> GridMapIndex(std::string_view name);

// Every cell's answer, as ComputePointRain gives it for the cell's centre:
// a cell where the point run answers holds its a2, a1, cv and quantiles,
// every other cell kGridMapNoData in all ten maps. Rows run south from the
// grid's north edge, columns east from its west edge.
struct GridMaps {
    std::int32_t rows = 0, columns = 0;
    std::array<std::vector<float>, kGridMapNames.size()> values;

    float At(std::size_t map, std::int32_t row, std::int32_t column) const
    {
        return values[map][std::size_t(row) * std::size_t(columns) + std::size_t(column)];
    }
    static GridMaps Compute(const ParameterGrids& grids);
};

// The grid's north edge in Gauss-Boaga metres.
inline constexpr double kGridNorthEdge = double(kGridSouthEdge) + double(kGridRows) * kGridCellSize;

}  // namespace quorvel
