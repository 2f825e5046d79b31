#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

struct MapExtents {
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    friend bool operator==(const MapExtents&, const MapExtents&) = default;
};

// Colours as 24-bit RGB with red in the low byte: Rgb(0, 0, 255) == 16711680.
constexpr std::uint32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return std::uint32_t(r) | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16);
}

enum CursorMode : int { kZoomIn = 0, kZoomOut = 1, kPan = 2, kNoTool = 4 };
enum MapPointer : int { kArrow = 2, kCrossHair = 3 };

class MapLayer {
public:
    virtual ~MapLayer() = default;
};

// A shapefile layer object. Shape indices and attribute fields count from 0;
// an index that does not exist answers 0, empty text, empty extents or false.
class ShapefileLayer : public MapLayer {
public:
    virtual bool OpenShapefile(const std::string& name) = 0;
    virtual int ShapeCount() const = 0;
    // The attribute as text, UTF-8.
    virtual std::string CellValue(int field, int shape) const = 0;
    virtual MapExtents ShapeExtents(int shape) const = 0;
    virtual bool ShapeContainsPoint(int shape, double x, double y) const = 0;
};

class ImageLayer : public MapLayer {
public:
    virtual bool OpenImage(const std::string& name, int fileType, bool inMemory) = 0;
};

// Receives the map's events, synchronously. MouseUp and SelectBoxFinal come
// after the gesture's zoom or pan has been applied.
class MapEvents {
public:
    virtual ~MapEvents() = default;
    virtual void MouseDown(int button, int shift, int x, int y) = 0;
    virtual void MouseUp(int button, int shift, int x, int y) = 0;
    virtual void MouseMove(int button, int shift, int x, int y) = 0;
    virtual void SelectBoxFinal(int left, int right, int bottom, int top) = 0;
    // LayerProblems() or Preparations() changed; raised from the event loop.
    virtual void MapStatusChanged() {}

    // The pointer has left the map; raised while mouse-move events are on.
    virtual void MouseLeave() {}
};

// A name drawn over the map, centred on its point.
struct OverlayLabel {
    std::string text;  // UTF-8
    double x = 0;
    double y = 0;
};

// A run's point and its grid cell, marked on the map. A strong mark stands out
// from the others: the latest run's and the ones the user has selected.
struct RunMark {
    double x = 0, y = 0;
    MapExtents cell;
    bool strong = false;
    friend bool operator==(const RunMark&, const RunMark&) = default;
};

// The interactive map of the main window. Layer handles are 0, 1, 2... in
// order of adding, the lowest free one reused after RemoveLayer; an operation
// given a handle, position or shape that does not exist does nothing.
class MapView {
public:
    virtual ~MapView() = default;

    virtual std::unique_ptr<ShapefileLayer> NewShapefile() = 0;
    virtual std::unique_ptr<ImageLayer> NewImage() = 0;

    virtual void SetEventSink(MapEvents* sink) = 0;
    virtual void SetCursorMode(int mode) = 0;
    virtual void SetMapCursor(int pointer) = 0;
    virtual void SetSendMouseDown(bool on) = 0;
    virtual void SetSendMouseUp(bool on) = 0;
    virtual void SetSendMouseMove(bool on) = 0;
    virtual void SetSendSelectBoxFinal(bool on) = 0;
    virtual void SetBackColor(std::uint32_t rgb) = 0;

    virtual MapExtents GetExtents() const = 0;
    virtual int AddLayer(std::unique_ptr<MapLayer> layer, bool visible) = 0;
    virtual void RemoveLayer(int handle) = 0;
    virtual void ZoomToLayer(int handle) = 0;
    virtual void ZoomToShape(int handle, int shape) = 0;
    virtual void PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const = 0;
    // -1 when there is no layer at that position.
    virtual int LayerHandle(int position) const = 0;
    virtual void SetLayerVisible(int handle, bool visible) = 0;
    virtual void SetLayerLineColor(int handle, std::uint32_t rgb) = 0;
    virtual void SetLayerLineWidth(int handle, float width) = 0;
    // nullptr when the handle is not a shapefile layer.
    virtual ShapefileLayer* GetLayerObject(int handle) = 0;
    virtual void AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y,
                          int justification, double rotation) = 0;

    // Help for finding one's way on the map.
    // Outlines one shape of a shapefile layer over everything else, until the
    // visible extent next changes; replaces any earlier highlight.
    virtual void SetHighlight(int handle, int shape) = 0;
    // Lightly drawn names over every layer, shown only while the view is wider
    // than minViewWidth metres; they replace those given before.
    virtual void SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth) = 0;
    // What the map cannot show and what it is still preparing, for the
    // window's status area.
    struct LayerProblem {
        int handle = -1;
        std::string file;    // as the layer was asked to open it
        std::string reason;  // GDAL's words
    };
    struct Preparation {
        std::string file;
        double done = 0;  // 0 to 1
    };
    // The layers whose file could not be opened, by handle.
    virtual std::vector<LayerProblem> LayerProblems() const = 0;
    // The rasters whose overviews are being built in the background.
    virtual std::vector<Preparation> Preparations() const = 0;

    // The marks of the runs, drawn over every layer, in place of the earlier ones.
    // They are no layer: handles and positions do not see them.
    virtual void SetRunMarks(std::vector<RunMark> marks) = 0;
    // Shows the whole of extents, centred, at the map's aspect.
    virtual void ZoomToExtents(const MapExtents& extents) = 0;
};

}  // namespace quorvel
