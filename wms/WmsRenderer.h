#pragma once

#include "map/MapView.h"
#include "map/OffscreenMap.h"
#include "wms/LayerFiles.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace quorvel {

// One set of the main window's layers, opened from the data folder, drawing
// the pictures of the map service. One thread at a time.
class WmsRenderer {
public:
    explicit WmsRenderer(const std::string& folder);

    // The service's layers: the main window's, each alone, by handle, and
    // kDesktopView for the map as the desktop shows the view.
    static constexpr int kDesktopView = -1;
    struct Layer {
        const char* name;
        const char* title;
        int handle;
    };
    static const std::vector<Layer>& Layers();

    // The picture of the layers for the box at width x height pixels over
    // background. A box whose shape is not that of the picture is drawn at
    // its own shape and stretched to fill it.
    QImage Draw(const MapExtents& box, int width, int height, const std::vector<int>& layers,
                const QColor& background);

    // Where the layer has data: false when its files did not open. For the
    // district raster, all four districts' rasters.
    bool Extents(int layer, MapExtents& extents);

    // The stamps of the layer files, taken before they were opened: a
    // renderer whose stamps are no longer the files' shows what is gone.
    const LayerFileStamps& Stamps() const { return stamps_; }
    // The first layer file, relative to the folder, that is there but did
    // not open (as when the process ran out of file descriptors); empty when
    // every layer whose file exists opened. Such a renderer draws a map with
    // holes and must not draw again.
    std::string Unopened() const;
    // The index of the municipality polygon holding the point, -1 for none.
    int MunicipalityAt(double x, double y);

    // Rasters without overviews of their own read from now on through the
    // dataset overviews(file) names, when it names one.
    void AdoptOverviews(const std::function<std::string(const std::string& file)>& overviews);

private:
    void LoadDistrict(const QString& code);
    // Whether the district raster held is too large to draw wide views from
    // until it has overviews.
    bool DistrictWaits();

    std::string folder_;
    LayerFileStamps stamps_;
    OffscreenMap map_;
    QString loaded_ = "UD";  // the district raster held as layer 6
    std::function<std::string(const std::string&)> overviews_;
};

}  // namespace quorvel
