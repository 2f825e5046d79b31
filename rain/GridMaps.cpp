#include "rain/GridMaps.h"

#include "rain/Error.h"

namespace quorvel {

std::optional<std::size_t> GridMapIndex(std::string_view name)
{
    for (std::size_t i = 0; i < kGridMapNames.size(); ++i)
        if (name == kGridMapNames[i])
            return i;
    return std::nullopt;
}

GridMaps GridMaps::Compute(const ParameterGrids& grids)
{
    GridMaps maps;
    maps.rows = grids.a2.rowCount();
    maps.columns = grids.a2.columnCount();
    const std::size_t cells = std::size_t(maps.rows) * std::size_t(maps.columns);
    for (auto& values : maps.values)
        values.assign(cells, kGridMapNoData);
    for (std::int32_t row = 0; row < maps.rows; ++row) {
        for (std::int32_t column = 0; column < maps.columns; ++column) {
            // The sea and the land beyond the region, most of a grid's cells
            // without data, fail the run's first check (a2 above 0) at once:
            // left out here without the cost of the run's error.
            if (!(grids.a2.At({row + 1, column + 1}) > 0))
                continue;
            // The very computation a run of the cell's centre makes, so that a
            // map and a point never disagree.
            const GaussBoagaPoint centre = CellCentre({row + 1, column + 1});
            PointRain rain;
            try {
                rain = ComputePointRain(centre, grids);
            } catch (const Error&) {
                continue;  // no answer: the cell stays without data
            }
            const std::size_t at = std::size_t(row) * std::size_t(maps.columns) + std::size_t(column);
            maps.values[0][at] = rain.a2;
            maps.values[1][at] = rain.a1;
            maps.values[2][at] = rain.cv;
            const auto quantiles = rain.quantiles.InOrder();
            for (std::size_t i = 0; i < quantiles.size(); ++i)
                maps.values[kFirstQuantileMap + i][at] = quantiles[i];
        }
    }
    return maps;
}

}  // namespace quorvel
