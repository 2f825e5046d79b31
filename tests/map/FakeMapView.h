#pragma once

#include <algorithm>
#include <charconv>
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
    // Shapefile contents, by the name given to OpenShapefile; other names fail to open.
    std::map<std::string, std::vector<FakeShape>> shapefiles;
    // Image names that open successfully; every other image fails to open.
    std::vector<std::string> images;

    MapExtents extents{0, 1000, 0, 1000};
    // Extents ZoomToLayer gives each handle; an unlisted handle leaves the view.
    std::map<int, MapExtents> layerExtents;
    // Pixel to map; by default x grows east from xMin and y south from yMax, 1 unit a pixel.
    std::function<void(double px, double py, double& x, double& y)> pixelToProj;
    std::vector<Preparation> preparations;  // what Preparations() answers

    // The interaction state, as last set.
    int cursorMode = -1;
    int mapCursor = -1;
    bool sendMouseDown = false, sendMouseUp = false, sendMouseMove = false, sendSelectBoxFinal = false;
    // The run marks, as last set ("SetRunMarks(<count>)" among the calls).
    std::vector<RunMark> runMarks;
    std::vector<OverlayLabel> overlayLabels;  // as last given

    mutable std::vector<std::string> calls;
    void ClearCalls() { calls.clear(); }
    // The recorded calls whose operation is one of names, in order, a space between them.
    std::string CallsTo(std::initializer_list<std::string_view> names) const
    {
        std::string chosen;
        for (const std::string& call : calls)
            if (std::find(names.begin(), names.end(), std::string_view(call).substr(0, call.find('('))) != names.end())
                chosen += (chosen.empty() ? "" : " ") + call;
        return chosen;
    }

    struct Layer {
        std::string description;  // "image:<file>" or "shapefile:<file>"
        std::unique_ptr<MapLayer> object;
    };
    // The layer with that handle, or nullptr.
    const Layer* LayerAt(int handle) const
    {
        const auto found = layers_.find(handle);
        return found == layers_.end() ? nullptr : &found->second;
    }

    // Raise the map's events as a user's gesture would.
    void RaiseMouseDown(int x, int y, int button = 1) { Raise(sendMouseDown, &MapEvents::MouseDown, button, 0, x, y); }
    void RaiseMouseUp(int x, int y, int button = 1) { Raise(sendMouseUp, &MapEvents::MouseUp, button, 0, x, y); }
    void RaiseMouseMove(int x, int y) { Raise(sendMouseMove, &MapEvents::MouseMove, 0, 0, x, y); }
    void RaiseSelectBoxFinal() { Raise(sendSelectBoxFinal, &MapEvents::SelectBoxFinal, 0, 0, 0, 0); }
    void RaiseMapStatusChanged() { Raise(true, &MapEvents::MapStatusChanged); }
    void RaiseMouseLeave() { Raise(sendMouseMove, &MapEvents::MouseLeave); }

    std::unique_ptr<ShapefileLayer> NewShapefile() override
    {
        return Recorded(std::make_unique<Shapefile>(*this), "NewShapefile");
    }
    std::unique_ptr<ImageLayer> NewImage() override { return Recorded(std::make_unique<Image>(*this), "NewImage"); }
    void SetEventSink(MapEvents* sink) override { sink_ = sink; }
    void SetCursorMode(int mode) override { Record("SetCursorMode", cursorMode = mode); }
    void SetMapCursor(int pointer) override { Record("SetMapCursor", mapCursor = pointer); }
    void SetSendMouseDown(bool on) override { Record("SetSendMouseDown", sendMouseDown = on); }
    void SetSendMouseUp(bool on) override { Record("SetSendMouseUp", sendMouseUp = on); }
    void SetSendMouseMove(bool on) override { Record("SetSendMouseMove", sendMouseMove = on); }
    void SetSendSelectBoxFinal(bool on) override { Record("SetSendSelectBoxFinal", sendSelectBoxFinal = on); }
    void SetBackColor(std::uint32_t rgb) override { Record("SetBackColor", rgb); }
    MapExtents GetExtents() const override { return Recorded(extents, "GetExtents"); }
    int AddLayer(std::unique_ptr<MapLayer> layer, bool visible) override
    {
        const auto* file = dynamic_cast<const File*>(layer.get());
        int handle = 0;
        while (layers_.count(handle) != 0)
            ++handle;
        layers_[handle] = {file ? file->kind + ":" + file->name : "other", std::move(layer)};
        Record("AddLayer", layers_[handle].description, std::string(visible ? "visible" : "hidden"));
        order_.push_back(handle);
        return handle;
    }
    void RemoveLayer(int handle) override
    {
        Record("RemoveLayer", handle);
        if (layers_.erase(handle) != 0)
            std::erase(order_, handle);
    }
    void ZoomToLayer(int handle) override
    {
        Record("ZoomToLayer", handle);
        if (const auto found = layerExtents.find(handle); found != layerExtents.end() && LayerAt(handle))
            extents = found->second;
    }
    void ZoomToShape(int handle, int shape) override
    {
        Record("ZoomToShape", handle, shape);
        const auto* shapes = dynamic_cast<const Shapefile*>(ObjectAt(handle));
        if (shapes != nullptr && shapes->Shape(shape) != nullptr)
            extents = shapes->Shape(shape)->extents;
    }
    void PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const override
    {
        Record("PixelToProj", pixelX, pixelY);
        if (pixelToProj)
            return pixelToProj(pixelX, pixelY, projX, projY);
        projX = extents.xMin + pixelX;
        projY = extents.yMax - pixelY;
    }
    int LayerHandle(int position) const override
    {
        const int handle = position >= 0 && position < int(order_.size()) ? order_[position] : -1;
        return Recorded(handle, "LayerHandle", position);
    }
    void SetLayerVisible(int handle, bool visible) override { Record("SetLayerVisible", handle, visible); }
    void SetLayerLineColor(int handle, std::uint32_t rgb) override { Record("SetLayerLineColor", handle, rgb); }
    void SetLayerLineWidth(int handle, float width) override { Record("SetLayerLineWidth", handle, width); }
    ShapefileLayer* GetLayerObject(int handle) override
    {
        return Recorded(dynamic_cast<ShapefileLayer*>(ObjectAt(handle)), "GetLayerObject", handle);
    }
    void AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y, int justification,
                  double rotation) override
    {
        Record("AddLabel", handle, text, rgb, x, y, justification, rotation);
    }
    void SetHighlight(int handle, int shape) override { Record("SetHighlight", handle, shape); }
    void SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth) override
    {
        Record("SetOverlayLabels", int(labels.size()), minViewWidth);
        overlayLabels = labels;
    }
    void SetRunMarks(std::vector<RunMark> marks) override
    {
        Record("SetRunMarks", int(marks.size()));
        runMarks = std::move(marks);
    }
    void ZoomToExtents(const MapExtents& e) override
    {
        Record("ZoomToExtents", e.xMin, e.xMax, e.yMin, e.yMax);
        extents = e;
    }

    // Every layer whose open failed, with "impossibile aprire <file>." as the
    // reason, ending with a full stop as GDAL's do; neither is recorded as a call.
    std::vector<LayerProblem> LayerProblems() const override
    {
        std::vector<LayerProblem> problems;
        for (const auto& [handle, layer] : layers_)
            if (const auto* file = dynamic_cast<const File*>(layer.object.get()); file != nullptr && !file->open)
                problems.push_back({handle, file->name, "impossibile aprire " + file->name + "."});
        return problems;
    }
    std::vector<Preparation> Preparations() const override { return preparations; }

private:
    // What both kinds of layer object keep: the file asked for and whether it opened.
    struct File {
        FakeMapView& owner;
        std::string kind;
        std::string name;
        bool open = false;
    };
    class Shapefile : public ShapefileLayer, public File {
    public:
        explicit Shapefile(FakeMapView& owner) : File{owner, "shapefile", {}} {}
        bool OpenShapefile(const std::string& file) override
        {
            owner.Record("OpenShapefile", file);
            name = file;
            const auto found = owner.shapefiles.find(file);
            open = found != owner.shapefiles.end();
            shapes_ = open ? found->second : std::vector<FakeShape>{};
            return open;
        }
        int ShapeCount() const override { return owner.Recorded(int(shapes_.size()), "ShapeCount", name); }
        std::string CellValue(int field, int shape) const override
        {
            owner.Record("CellValue", name, field, shape);
            const FakeShape* s = Shape(shape);
            return s != nullptr && field >= 0 && field < int(s->fields.size()) ? s->fields[field] : std::string();
        }
        MapExtents ShapeExtents(int shape) const override
        {
            return owner.Recorded(Shape(shape) ? Shape(shape)->extents : MapExtents{}, "ShapeExtents", name, shape);
        }
        bool ShapeContainsPoint(int shape, double x, double y) const override
        {
            owner.Record("ShapeContainsPoint", name, shape, x, y);
            const FakeShape* s = Shape(shape);
            if (s == nullptr || s->contains)
                return s != nullptr && s->contains(x, y);
            return x >= s->extents.xMin && x <= s->extents.xMax && y >= s->extents.yMin && y <= s->extents.yMax;
        }
        const FakeShape* Shape(int shape) const
        {
            return shape >= 0 && shape < int(shapes_.size()) ? &shapes_[shape] : nullptr;
        }

    private:
        std::vector<FakeShape> shapes_;
    };
    class Image : public ImageLayer, public File {
    public:
        explicit Image(FakeMapView& owner) : File{owner, "image", {}} {}
        bool OpenImage(const std::string& file, int fileType, bool inMemory) override
        {
            owner.Record("OpenImage", file, fileType, inMemory);
            name = file;
            open = std::find(owner.images.begin(), owner.images.end(), file) != owner.images.end();
            return open;
        }
    };

    static std::string Text(bool on) { return on ? "true" : "false"; }
    static std::string Text(const std::string& text) { return text; }
    // A number as the shortest text that reads back the same ("50000.001", "0.5", "16711680").
    template <typename Number>
    static std::string Text(Number value)
    {
        char text[64];
        return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
    }
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
    // Records the call and answers result.
    template <typename Result, typename... Args>
    Result Recorded(Result result, const char* operation, const Args&... args) const
    {
        Record(operation, args...);
        return result;
    }
    // Calls the sink, if there is one and the event is on.
    template <typename... Args, typename... Values>
    void Raise(bool on, void (MapEvents::*event)(Args...), Values... values)
    {
        if (sink_ != nullptr && on)
            (sink_->*event)(values...);
    }

    MapLayer* ObjectAt(int handle) const { return LayerAt(handle) ? LayerAt(handle)->object.get() : nullptr; }

    MapEvents* sink_ = nullptr;
    std::map<int, Layer> layers_;  // by handle
    std::vector<int> order_;       // handles by drawing position
};

}  // namespace quorvel::testing
