#pragma once

#include "map/MapView.h"

namespace quorvel {

// The arithmetic between widget pixels and map coordinates, with one scale
// for both directions. Pixel (0, 0) is the top-left corner of the widget and
// (width, height) its bottom-right corner, so those two pixels map exactly to
// the corners of Extents().
class ViewTransform {
public:
    ViewTransform() = default;
    ViewTransform(double centreX, double centreY, double unitsPerPixel, int width, int height);

    // The largest scale at which the whole of extents shows in a width x height
    // widget, centred; the spare room goes to the other direction. Extents with
    // no size keep fallbackUnitsPerPixel.
    static ViewTransform Fit(const MapExtents& extents, int width, int height,
                             double fallbackUnitsPerPixel = 1.0);

    double CentreX() const { return centreX_; }
    double CentreY() const { return centreY_; }
    double UnitsPerPixel() const { return unitsPerPixel_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    MapExtents Extents() const;
    void PixelToMap(double px, double py, double& x, double& y) const;
    void MapToPixel(double x, double y, double& px, double& py) const;

    // factor > 1 zooms in. The map point under pixel (px, py) stays there.
    ViewTransform ZoomedAround(double px, double py, double factor) const;
    // factor > 1 zooms in; the map point at pixel (px, py) becomes the centre.
    ViewTransform ZoomedCentredOn(double px, double py, double factor) const;
    // The picture follows the pointer: the map moves by (dx, dy) pixels.
    ViewTransform Panned(double dx, double dy) const;

    friend bool operator==(const ViewTransform&, const ViewTransform&) = default;

private:
    double centreX_ = 0;
    double centreY_ = 0;
    double unitsPerPixel_ = 1;
    int width_ = 1;
    int height_ = 1;
};

}  // namespace quorvel
