#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "map/MapView.h"

namespace quorvel::testing {

// One shape of a fake shapefile: its attributes (by field), its bounding box
// and, by default, a point test against that box.
struct FakeShape {
    std::vector<std::string> fields;
    MapExtents extents;
    std::function<bool(double x, double y)> contains;  // empty: inside the box
};

// A MapView that draws nothing. It records every call, in order, as readable
// text ("SetMapCursor(2)", "AddLayer(image:Raster/demTRNSh.ecw,visible)",
// "OpenShapefile(Shp/comuniPoly.shp)", "ShapeContainsPoint(Shp/V_ISPETTORATI.shp,0,5,7)"),
// hands out layer handles as the real map does (lowest free first), answers its
// questions from data the test sets, and raises events to the sink only while
// the matching "send" flag is on.
class FakeMapView : public MapView {
public:
    FakeMapView() = default;
    FakeMapView(const FakeMapView&) = delete;
    FakeMapView& operator=(const FakeMapView&) = delete;

    // Shapefile contents, by the name given to OpenShapefile; other names fail to open.
    std::map<std::string, std::vector<FakeShape>> shapefiles;
    // Image names that open successfully; every other image fails to open.
    std::vector<std::string> images;

    MapExtents extents{0, 1000, 0, 1000};
    // Extents ZoomToLayer gives each handle; an unlisted handle leaves the view.
    std::map<int, MapExtents> layerExtents;
    // Pixel to map; by default x grows east from xMin and y south from yMax, 1 unit a pixel.
    std::function<void(double px, double py, double& x, double& y)> pixelToProj;

    // What Preparations() answers.
    std::vector<Preparation> preparations;

    // The interaction state, as last set.
    int cursorMode = -1;
    int mapCursor = -1;
    bool sendMouseDown = false, sendMouseUp = false, sendMouseMove = false, sendSelectBoxFinal = false;
    std::uint32_t backColor = 0;
    // The run marks, as last set ("SetRunMarks(<count>)" among the calls).
    std::vector<RunMark> runMarks;

    mutable std::vector<std::string> calls;
    void ClearCalls() { calls.clear(); }
    // The recorded calls whose operation is one of names, in order.
    std::vector<std::string> CallsTo(std::initializer_list<std::string_view> names) const;

    struct Layer {
        std::string description;  // "image:<file>" or "shapefile:<file>"
        bool visible = false;
        std::unique_ptr<MapLayer> object;
    };
    // The layer with that handle, or nullptr.
    const Layer* LayerAt(int handle) const;
    int LayerCount() const;

    // Raise the map's events as a user's gesture would.
    void RaiseMouseDown(int x, int y, int button = 1);
    void RaiseMouseUp(int x, int y, int button = 1);
    void RaiseMouseMove(int x, int y);
    void RaiseSelectBoxFinal();
    void RaiseMapStatusChanged();
    void RaiseMouseLeave();

    // The overlay names last given.
    std::vector<OverlayLabel> overlayLabels;

    std::unique_ptr<ShapefileLayer> NewShapefile() override;
    std::unique_ptr<ImageLayer> NewImage() override;
    void SetEventSink(MapEvents* sink) override { sink_ = sink; }
    void SetCursorMode(int mode) override { Record("SetCursorMode", cursorMode = mode); }
    void SetMapCursor(int pointer) override { Record("SetMapCursor", mapCursor = pointer); }
    void SetSendMouseDown(bool on) override { Record("SetSendMouseDown", sendMouseDown = on); }
    void SetSendMouseUp(bool on) override { Record("SetSendMouseUp", sendMouseUp = on); }
    void SetSendMouseMove(bool on) override { Record("SetSendMouseMove", sendMouseMove = on); }
    void SetSendSelectBoxFinal(bool on) override { Record("SetSendSelectBoxFinal", sendSelectBoxFinal = on); }
    void SetBackColor(std::uint32_t rgb) override { Record("SetBackColor", backColor = rgb); }
    MapExtents GetExtents() const override
    {
        Record("GetExtents");
        return extents;
    }
    int AddLayer(std::unique_ptr<MapLayer> layer, bool visible) override;
    void RemoveLayer(int handle) override;
    void ZoomToLayer(int handle) override;
    void ZoomToShape(int handle, int shape) override;
    void PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const override;
    int LayerHandle(int position) const override;
    void SetLayerVisible(int handle, bool visible) override;
    void SetLayerLineColor(int handle, std::uint32_t rgb) override { Record("SetLayerLineColor", handle, rgb); }
    void SetLayerLineWidth(int handle, float width) override { Record("SetLayerLineWidth", handle, width); }
    ShapefileLayer* GetLayerObject(int handle) override;
    void AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y, int justification,
                  double rotation) override;
    void SetHighlight(int handle, int shape) override;
    void SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth) override;
    void SetRunMarks(std::vector<RunMark> marks) override;
    void ZoomToExtents(const MapExtents& extents) override;

    // Every layer whose open failed, with "cannot open <file>" as the reason;
    // neither is recorded as a call.
    std::vector<LayerProblem> LayerProblems() const override;
    std::vector<Preparation> Preparations() const override;

    // Shortest text that reads back as the same double ("50000.001", "0.5").
    static std::string Num(double value);

private:
    friend class FakeShapefile;
    friend class FakeImage;
    static std::string Text(bool on) { return on ? "true" : "false"; }
    static std::string Text(int value) { return std::to_string(value); }
    static std::string Text(std::uint32_t value) { return std::to_string(value); }
    static std::string Text(double value) { return Num(value); }
    static std::string Text(const std::string& text) { return text; }
    // Records "operation(argument,argument...)".
    template <typename... Args>
    void Record(const char* operation, const Args&... args) const
    {
        std::string call = std::string(operation) + "(";
        ((call += Text(args) + ","), ...);
        if (call.back() == ',')
            call.pop_back();
        calls.push_back(call + ")");
    }
    Layer* FindLayer(int handle);

    MapEvents* sink_ = nullptr;
    std::vector<std::unique_ptr<Layer>> layers_;  // by handle; null where free
    std::vector<int> order_;                      // handles by drawing position
};

}  // namespace quorvel::testing
