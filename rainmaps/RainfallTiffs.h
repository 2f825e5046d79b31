#pragma once

#include <string>

#include <QString>

#include "window/RainfallMapSource.h"
#include "wms/RainfallLayers.h"

namespace quorvel {

// The map service's design-rainfall layers for the main window: the same
// classes and colours, one pixel per grid cell, written as an RGBA GeoTIFF in
// EPSG:3004 into the cache folder. A file is named by the layer and a digest
// of its classes, so grids that change give a new file and the same grids
// find theirs again at the next start.
class RainfallTiffs : public RainfallMapSource {
public:
    // folder: the data folder, "" for the working folder; cacheFolder empty:
    // DefaultFolder().
    explicit RainfallTiffs(std::string folder, QString cacheFolder = {});

    // $XDG_CACHE_HOME/quorvel/pioggia when that is an absolute path,
    // otherwise ~/.cache/quorvel/pioggia.
    static QString DefaultFolder();

    std::vector<Choice> Choices() const override;
    Map Make(const std::string& name) override;

private:
    RainfallLayers layers_;
    QString cache_;
};

}  // namespace quorvel
