#include "tests/map/FakeMapView.h"

#include <algorithm>
#include <charconv>

namespace quorvel::testing {

namespace {

std::string OnOff(bool on)
{
    return on ? "true" : "false";
}

}  // namespace

class FakeShapefile : public ShapefileLayer {
public:
    explicit FakeShapefile(FakeMapView& map) : map_(map) {}

    bool OpenShapefile(const std::string& name) override
    {
        map_.Record("OpenShapefile(" + name + ")");
        name_ = name;
        const auto found = map_.shapefiles.find(name);
        shapes_ = found == map_.shapefiles.end() ? std::vector<FakeShape>{} : found->second;
        return found != map_.shapefiles.end();
    }
    int ShapeCount() const override
    {
        map_.Record("ShapeCount(" + name_ + ")");
        return static_cast<int>(shapes_.size());
    }
    std::string CellValue(int field, int shape) const override
    {
        map_.Record("CellValue(" + name_ + "," + std::to_string(field) + "," + std::to_string(shape) + ")");
        const FakeShape* s = Shape(shape);
        if (s == nullptr || field < 0 || field >= static_cast<int>(s->fields.size()))
            return {};
        return s->fields[field];
    }
    MapExtents ShapeExtents(int shape) const override
    {
        map_.Record("ShapeExtents(" + name_ + "," + std::to_string(shape) + ")");
        const FakeShape* s = Shape(shape);
        return s == nullptr ? MapExtents{} : s->extents;
    }
    bool ShapeContainsPoint(int shape, double x, double y) const override
    {
        map_.Record("ShapeContainsPoint(" + name_ + "," + std::to_string(shape) + "," + FakeMapView::Num(x) + "," +
                    FakeMapView::Num(y) + ")");
        const FakeShape* s = Shape(shape);
        if (s == nullptr)
            return false;
        if (s->contains)
            return s->contains(x, y);
        return x >= s->extents.xMin && x <= s->extents.xMax && y >= s->extents.yMin && y <= s->extents.yMax;
    }

    const std::string& Name() const { return name_; }

private:
    const FakeShape* Shape(int shape) const
    {
        return shape >= 0 && shape < static_cast<int>(shapes_.size()) ? &shapes_[shape] : nullptr;
    }

    FakeMapView& map_;
    std::string name_;
    std::vector<FakeShape> shapes_;
};

class FakeImage : public ImageLayer {
public:
    explicit FakeImage(FakeMapView& map) : map_(map) {}

    bool OpenImage(const std::string& name, int fileType, bool inMemory) override
    {
        map_.Record("OpenImage(" + name + "," + std::to_string(fileType) + "," + OnOff(inMemory) + ")");
        name_ = name;
        return std::find(map_.images.begin(), map_.images.end(), name) != map_.images.end();
    }

    const std::string& Name() const { return name_; }

private:
    FakeMapView& map_;
    std::string name_;
};

std::string FakeMapView::Num(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::vector<std::string> FakeMapView::CallsTo(std::initializer_list<std::string_view> names) const
{
    std::vector<std::string> chosen;
    for (const std::string& call : calls) {
        const std::string_view operation = std::string_view(call).substr(0, call.find('('));
        if (std::find(names.begin(), names.end(), operation) != names.end())
            chosen.push_back(call);
    }
    return chosen;
}

const FakeMapView::Layer* FakeMapView::LayerAt(int handle) const
{
    return const_cast<FakeMapView*>(this)->FindLayer(handle);
}

FakeMapView::Layer* FakeMapView::FindLayer(int handle)
{
    if (handle < 0 || handle >= static_cast<int>(layers_.size()))
        return nullptr;
    return layers_[handle].get();
}

int FakeMapView::LayerCount() const
{
    return static_cast<int>(order_.size());
}

void FakeMapView::RaiseMouseDown(int x, int y, int button)
{
    if (sink_ != nullptr && sendMouseDown)
        sink_->MouseDown(button, 0, x, y);
}

void FakeMapView::RaiseMouseUp(int x, int y, int button)
{
    if (sink_ != nullptr && sendMouseUp)
        sink_->MouseUp(button, 0, x, y);
}

void FakeMapView::RaiseMouseMove(int x, int y)
{
    if (sink_ != nullptr && sendMouseMove)
        sink_->MouseMove(0, 0, x, y);
}

void FakeMapView::RaiseSelectBoxFinal()
{
    if (sink_ != nullptr && sendSelectBoxFinal)
        sink_->SelectBoxFinal(0, 0, 0, 0);
}

void FakeMapView::RaiseMouseLeave()
{
    if (sink_ != nullptr && sendMouseMove)
        sink_->MouseLeave();
}

std::unique_ptr<ShapefileLayer> FakeMapView::NewShapefile()
{
    Record("NewShapefile()");
    return std::make_unique<FakeShapefile>(*this);
}

std::unique_ptr<ImageLayer> FakeMapView::NewImage()
{
    Record("NewImage()");
    return std::make_unique<FakeImage>(*this);
}

void FakeMapView::SetEventSink(MapEvents* sink)
{
    sink_ = sink;
}

void FakeMapView::SetCursorMode(int mode)
{
    Record("SetCursorMode(" + std::to_string(mode) + ")");
    cursorMode = mode;
}

void FakeMapView::SetMapCursor(int pointer)
{
    Record("SetMapCursor(" + std::to_string(pointer) + ")");
    mapCursor = pointer;
}

void FakeMapView::SetSendMouseDown(bool on)
{
    Record("SetSendMouseDown(" + OnOff(on) + ")");
    sendMouseDown = on;
}

void FakeMapView::SetSendMouseUp(bool on)
{
    Record("SetSendMouseUp(" + OnOff(on) + ")");
    sendMouseUp = on;
}

void FakeMapView::SetSendMouseMove(bool on)
{
    Record("SetSendMouseMove(" + OnOff(on) + ")");
    sendMouseMove = on;
}

void FakeMapView::SetSendSelectBoxFinal(bool on)
{
    Record("SetSendSelectBoxFinal(" + OnOff(on) + ")");
    sendSelectBoxFinal = on;
}

void FakeMapView::SetBackColor(std::uint32_t rgb)
{
    Record("SetBackColor(" + std::to_string(rgb) + ")");
    backColor = rgb;
}

MapExtents FakeMapView::GetExtents() const
{
    Record("GetExtents()");
    return extents;
}

int FakeMapView::AddLayer(std::unique_ptr<MapLayer> layer, bool visible)
{
    auto entry = std::make_unique<Layer>();
    if (const auto* shapes = dynamic_cast<const FakeShapefile*>(layer.get()))
        entry->description = "shapefile:" + shapes->Name();
    else if (const auto* image = dynamic_cast<const FakeImage*>(layer.get()))
        entry->description = "image:" + image->Name();
    else
        entry->description = "other";
    Record("AddLayer(" + entry->description + "," + (visible ? "visible" : "hidden") + ")");
    entry->visible = visible;
    entry->object = std::move(layer);

    const auto free = std::find(layers_.begin(), layers_.end(), nullptr);
    const int handle = static_cast<int>(free - layers_.begin());
    if (free == layers_.end())
        layers_.push_back(std::move(entry));
    else
        *free = std::move(entry);
    order_.push_back(handle);
    return handle;
}

void FakeMapView::RemoveLayer(int handle)
{
    Record("RemoveLayer(" + std::to_string(handle) + ")");
    if (FindLayer(handle) == nullptr)
        return;
    layers_[handle].reset();
    order_.erase(std::find(order_.begin(), order_.end(), handle));
}

void FakeMapView::ZoomToLayer(int handle)
{
    Record("ZoomToLayer(" + std::to_string(handle) + ")");
    const auto found = layerExtents.find(handle);
    if (found != layerExtents.end() && FindLayer(handle) != nullptr)
        extents = found->second;
}

void FakeMapView::ZoomToShape(int handle, int shape)
{
    Record("ZoomToShape(" + std::to_string(handle) + "," + std::to_string(shape) + ")");
    Layer* layer = FindLayer(handle);
    if (layer == nullptr)
        return;
    const auto* shapes = dynamic_cast<const FakeShapefile*>(layer->object.get());
    if (shapes == nullptr)
        return;
    const auto found = shapefiles.find(shapes->Name());
    if (found == shapefiles.end() || shape < 0 || shape >= static_cast<int>(found->second.size()))
        return;
    extents = found->second[shape].extents;
}

void FakeMapView::PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const
{
    Record("PixelToProj(" + Num(pixelX) + "," + Num(pixelY) + ")");
    if (pixelToProj) {
        pixelToProj(pixelX, pixelY, projX, projY);
        return;
    }
    projX = extents.xMin + pixelX;
    projY = extents.yMax - pixelY;
}

int FakeMapView::LayerHandle(int position) const
{
    Record("LayerHandle(" + std::to_string(position) + ")");
    if (position < 0 || position >= static_cast<int>(order_.size()))
        return -1;
    return order_[position];
}

void FakeMapView::SetLayerVisible(int handle, bool visible)
{
    Record("SetLayerVisible(" + std::to_string(handle) + "," + OnOff(visible) + ")");
    if (Layer* layer = FindLayer(handle))
        layer->visible = visible;
}

void FakeMapView::SetLayerLineColor(int handle, std::uint32_t rgb)
{
    Record("SetLayerLineColor(" + std::to_string(handle) + "," + std::to_string(rgb) + ")");
}

void FakeMapView::SetLayerLineWidth(int handle, float width)
{
    Record("SetLayerLineWidth(" + std::to_string(handle) + "," + Num(width) + ")");
}

ShapefileLayer* FakeMapView::GetLayerObject(int handle)
{
    Record("GetLayerObject(" + std::to_string(handle) + ")");
    Layer* layer = FindLayer(handle);
    return layer == nullptr ? nullptr : dynamic_cast<ShapefileLayer*>(layer->object.get());
}

void FakeMapView::AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y,
                           int justification, double rotation)
{
    Record("AddLabel(" + std::to_string(handle) + "," + text + "," + std::to_string(rgb) + "," + Num(x) + "," +
           Num(y) + "," + std::to_string(justification) + "," + Num(rotation) + ")");
    if (Layer* layer = FindLayer(handle))
        layer->labels.push_back(text);
}

void FakeMapView::SetHighlight(int handle, int shape)
{
    Record("SetHighlight(" + std::to_string(handle) + "," + std::to_string(shape) + ")");
    highlight = {handle, shape};
}

void FakeMapView::SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth)
{
    Record("SetOverlayLabels(" + std::to_string(labels.size()) + "," + Num(minViewWidth) + ")");
    overlayLabels = labels;
    overlayMinWidth = minViewWidth;
}

}  // namespace quorvel::testing
