#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorvel {
class GdalShapefileLayer;
}

namespace quorvel::server {

inline constexpr const char* kMunicipalityNamesLayer = "Shp/toponomasticaComuni.shp";
inline constexpr const char* kPlaceNamesLayer = "Shp/toponomastica25kdep.shp";

// A place of the two name layers, as the desktop's finder offers it: its
// name, the municipality whose polygon holds it (empty when none does) and
// the middle of its shape.
struct Place {
    std::string name;  // UTF-8
    std::string municipality;
    double x = 0, y = 0;
};

// The region's names beyond the municipality list: the places and each
// municipality's outline. Read at the first question and kept, one reader at
// a time.
class RegionNames {
public:
    explicit RegionNames(std::string folder);
    ~RegionNames();

    // [{"name":...,"comune":...,"x":...,"y":...}], in the layers' order.
    // Throws Error when a layer cannot be read.
    std::shared_ptr<const std::string> PlacesJson();
    // {"name":...,"rings":[[[x,y],...],...]} in whole metres; empty when no
    // municipality of the table has that name. Throws Error.
    std::string OutlineJson(const std::string& municipality);

private:
    void Load();

    std::string folder_;
    std::mutex mutex_;
    bool loaded_ = false;
    std::unique_ptr<GdalShapefileLayer> polygons_;
    std::vector<std::pair<std::string, int>> shapeOf_;  // municipality name, polygon
    std::shared_ptr<const std::string> places_;
};

}  // namespace quorvel::server
