#include "map/ViewTransform.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {
// A widget not yet laid out may report a size of 0; the arithmetic needs at least a pixel.
int AtLeastOne(int n) { return std::max(1, n); }
}  // namespace

ViewTransform::ViewTransform(double centreX, double centreY, double unitsPerPixel, int width, int height)
    : centreX_(centreX),
      centreY_(centreY),
      unitsPerPixel_(unitsPerPixel > 0 && std::isfinite(unitsPerPixel) ? unitsPerPixel : 1.0),
      width_(AtLeastOne(width)),
      height_(AtLeastOne(height))
{
}

ViewTransform ViewTransform::Fit(const MapExtents& extents, int width, int height, double fallbackUnitsPerPixel)
{
    width = AtLeastOne(width);
    height = AtLeastOne(height);
    const double spanX = std::abs(extents.xMax - extents.xMin);
    const double spanY = std::abs(extents.yMax - extents.yMin);
    double scale = std::max(spanX / width, spanY / height);
    if (!(scale > 0) || !std::isfinite(scale))
        scale = fallbackUnitsPerPixel;
    return ViewTransform((extents.xMin + extents.xMax) / 2, (extents.yMin + extents.yMax) / 2, scale, width,
                         height);
}

MapExtents ViewTransform::Extents() const
{
    const double halfW = width_ * unitsPerPixel_ / 2;
    const double halfH = height_ * unitsPerPixel_ / 2;
    return {centreX_ - halfW, centreX_ + halfW, centreY_ - halfH, centreY_ + halfH};
}

void ViewTransform::PixelToMap(double px, double py, double& x, double& y) const
{
    x = centreX_ + (px - width_ / 2.0) * unitsPerPixel_;
    y = centreY_ - (py - height_ / 2.0) * unitsPerPixel_;
}

void ViewTransform::MapToPixel(double x, double y, double& px, double& py) const
{
    px = (x - centreX_) / unitsPerPixel_ + width_ / 2.0;
    py = (centreY_ - y) / unitsPerPixel_ + height_ / 2.0;
}

ViewTransform ViewTransform::ZoomedAround(double px, double py, double factor) const
{
    double x, y;
    PixelToMap(px, py, x, y);
    const double scale = unitsPerPixel_ / factor;
    // Solve for the centre that puts (x, y) back under (px, py) at the new scale.
    const double cx = x - (px - width_ / 2.0) * scale;
    const double cy = y + (py - height_ / 2.0) * scale;
    return ViewTransform(cx, cy, scale, width_, height_);
}

ViewTransform ViewTransform::ZoomedCentredOn(double px, double py, double factor) const
{
    double x, y;
    PixelToMap(px, py, x, y);
    return ViewTransform(x, y, unitsPerPixel_ / factor, width_, height_);
}

ViewTransform ViewTransform::Panned(double dx, double dy) const
{
    return ViewTransform(centreX_ - dx * unitsPerPixel_, centreY_ + dy * unitsPerPixel_, unitsPerPixel_, width_,
                         height_);
}

}  // namespace quorvel
