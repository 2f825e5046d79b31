#pragma once

#include "map/MapView.h"

#include <gdal_priv.h>

#include <QImage>
#include <QPolygonF>

#include <array>
#include <string>
#include <vector>

namespace quorvel {

class ViewTransform;

enum class ShapeKind { Empty, Point, Line, Polygon };

// One shape of a shapefile, held in map coordinates. For a polygon the parts
// are all its rings (outer and holes alike, since containment is even-odd);
// for a line its parts; for points one part holding every point.
struct ShapeData {
    ShapeKind kind = ShapeKind::Empty;
    MapExtents bounds;
    std::vector<QPolygonF> parts;
};

// A shapefile read whole at open: geometry, bounding boxes and attributes
// stay in memory, so drawing and queries never touch the file again.
class GdalShapefileLayer : public ShapefileLayer {
public:
    bool OpenShapefile(const std::string& name) override;
    int ShapeCount() const override;
    std::string CellValue(int field, int shape) const override;
    MapExtents ShapeExtents(int shape) const override;
    bool ShapeContainsPoint(int shape, double x, double y) const override;

    bool IsOpen() const { return open_; }
    // The name last given to OpenShapefile.
    const std::string& Name() const { return name_; }
    // GDAL's words for the last failed open; empty after a good one.
    const std::string& OpenError() const { return openError_; }
    int FieldCount() const { return fieldCount_; }
    // False for a layer that did not open or holds no shape with a geometry.
    bool HasExtents() const { return hasExtents_; }
    MapExtents Extents() const { return extents_; }
    const std::vector<ShapeData>& Shapes() const { return shapes_; }

private:
    bool open_ = false;
    std::string name_;
    std::string openError_;
    int fieldCount_ = 0;
    std::vector<ShapeData> shapes_;
    std::vector<std::string> cells_;  // row-major: shape * fieldCount_ + field
    bool hasExtents_ = false;
    MapExtents extents_;
};

// A raster read on demand at the resolution of the screen, so GDAL serves the
// view from the file's overviews. Three or more bands are drawn as RGB(A), a
// band with a colour table through it, any other single band as a grey ramp
// between its minimum and maximum; no-data pixels are transparent.
class GdalImageLayer : public ImageLayer {
public:
    // The file type and in-memory flag make no difference here: GDAL knows a
    // raster by its content, and pixels are always read for the view at hand.
    bool OpenImage(const std::string& name, int fileType, bool inMemory) override;

    bool IsOpen() const { return dataset_ != nullptr; }
    // The name last given to OpenImage.
    const std::string& Name() const { return name_; }
    const std::string& OpenError() const { return openError_; }
    MapExtents Extents() const { return extents_; }

    // True for a raster too large to be read whole for a small view and
    // without overviews of its own or adopted ones.
    bool NeedsOverviews() const;
    // Reads from now on through dataset, which must be the same raster with
    // overviews (such as a VRT over the file with its .ovr); false, and
    // nothing changed, when it cannot be opened or is not the same size.
    bool AdoptOverviews(const std::string& dataset);

    // The pixels of the raster that fall in view, read at the view's device
    // resolution; target receives where they go, in widget pixels. A null
    // image when nothing of the raster is in view, the read failed, or the
    // read would be too slow for want of overviews.
    QImage Render(const ViewTransform& view, double devicePixelRatio, QRectF& target) const;

private:
    enum class Style { Rgb, Palette, Grey };

    GDALDatasetUniquePtr dataset_;
    std::string name_;
    std::string openError_;
    std::array<double, 6> geo_{0, 1, 0, 0, 0, -1};
    MapExtents extents_;
    Style style_ = Style::Grey;
    bool hasAlpha_ = false;
    std::vector<QRgb> palette_;
    double greyMin_ = 0;
    double greyMax_ = 255;
    bool hasNoData_ = false;
    double noData_ = 0;
};

}  // namespace quorvel
