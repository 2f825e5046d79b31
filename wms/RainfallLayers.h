#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QImage>

#include "map/MapView.h"
#include "rain/GridCache.h"
#include "rain/GridMaps.h"

namespace quorvel {

// The design-rainfall maps of the map service: pioggia_T2 ... pioggia_T200
// (h 1 hour) and a2, each cell coloured by its class on a fixed
// colour-blind-safe ramp (viridis) over the relief, cells without data left
// transparent. The seven quantile layers share one scale, so that a colour
// means the same rain in every T; a2 has its own. The class breaks are taken
// once from the grids' values (their deciles, rounded), and again only when
// the grid files change.
class RainfallLayers {
public:
    struct Layer {
        const char* name;
        const char* title;
        std::size_t map;  // into kGridMapNames
    };
    static const std::vector<Layer>& Layers();
    static const Layer* Find(const std::string& name);

    static constexpr int kClasses = 9;
    struct Scale {
        std::array<float, kClasses - 1> breaks{};  // class k holds values below breaks[k], above breaks[k-1]
        const char* unit = "";
    };
    // Every cell's class in each map, 255 for no data, and the two scales.
    struct Classes {
        GridMaps maps;
        Scale quantiles, a2;
        std::array<std::vector<std::uint8_t>, kGridMapNames.size()> cells;
        const Scale& ScaleOf(std::size_t map) const { return map == 0 ? a2 : quantiles; }
    };

    // folder: the data folder; "" for the working folder.
    explicit RainfallLayers(std::string folder);

    // The classes of the grids as they are now. Throws Error while they cannot be read.
    std::shared_ptr<const Classes> Current();
    // The grids as they are now, for the values under a point.
    std::shared_ptr<const ParameterGrids> Grids() { return grids_.Current(); }

    // The ramp's colours, lowest class first.
    static const std::array<QRgb, kClasses>& Ramp();

    // The layer's cells over the box, width x height pixels, each pixel
    // taking the cell under its centre; transparent where there is no data.
    static QImage Colours(const Classes& classes, std::size_t map, const MapExtents& box, int width, int height);

    // Each class's range as the legend writes it, with the unit, lowest first.
    static std::vector<QString> LegendLabels(const Classes& classes, const Layer& layer);

    // The legend: a swatch and its range per class, with the unit in a title.
    // Needs a QGuiApplication for the text.
    static QImage Legend(const Classes& classes, const Layer& layer);

private:
    GridCache grids_;
    std::mutex mutex_;
    std::shared_ptr<const ParameterGrids> source_;
    std::shared_ptr<const Classes> classes_;
};

}  // namespace quorvel
