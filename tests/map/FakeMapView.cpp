#include "tests/map/FakeMapView.h"

#include <algorithm>
#include <charconv>

namespace quorvel::testing {

class FakeShapefile : public ShapefileLayer {
public:
    explicit FakeShapefile(FakeMapView& map) : map_(map) {}

    bool OpenShapefile(const std::string& name) override
    {
        map_.Record("OpenShapefile", name);
        name_ = name;
        const auto found = map_.shapefiles.find(name);
        shapes_ = found == map_.shapefiles.end() ? std::vector<FakeShape>{} : found->second;
        open_ = found != map_.shapefiles.end();
        return open_;
    }
    int ShapeCount() const override
    {
        map_.Record("ShapeCount", name_);
        return static_cast<int>(shapes_.size());
    }
    std::string CellValue(int field, int shape) const override
    {
        map_.Record("CellValue", name_, field, shape);
        const FakeShape* s = Shape(shape);
        if (s == nullptr || field < 0 || field >= static_cast<int>(s->fields.size()))
            return {};
        return s->fields[field];
    }
    MapExtents ShapeExtents(int shape) const override
    {
        map_.Record("ShapeExtents", name_, shape);
        const FakeShape* s = Shape(shape);
        return s == nullptr ? MapExtents{} : s->extents;
    }
    bool ShapeContainsPoint(int shape, double x, double y) const override
    {
        map_.Record("ShapeContainsPoint", name_, shape, x, y);
        const FakeShape* s = Shape(shape);
        if (s == nullptr)
            return false;
        if (s->contains)
            return s->contains(x, y);
        return x >= s->extents.xMin && x <= s->extents.xMax && y >= s->extents.yMin && y <= s->extents.yMax;
    }

    const std::string& Name() const { return name_; }
    bool IsOpen() const { return open_; }

private:
    const FakeShape* Shape(int shape) const
    {
        return shape >= 0 && shape < static_cast<int>(shapes_.size()) ? &shapes_[shape] : nullptr;
    }

    FakeMapView& map_;
    std::string name_;
    std::vector<FakeShape> shapes_;
    bool open_ = false;
};

class FakeImage : public ImageLayer {
public:
    explicit FakeImage(FakeMapView& map) : map_(map) {}

    bool OpenImage(const std::string& name, int fileType, bool inMemory) override
    {
        map_.Record("OpenImage", name, fileType, inMemory);
        name_ = name;
        open_ = std::find(map_.images.begin(), map_.images.end(), name) != map_.images.end();
        return open_;
    }

    const std::string& Name() const { return name_; }
    bool IsOpen() const { return open_; }

private:
    FakeMapView& map_;
    std::string name_;
    bool open_ = false;
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

void FakeMapView::RaiseMapStatusChanged()
{
    if (sink_ != nullptr)
        sink_->MapStatusChanged();
}

std::vector<MapView::LayerProblem> FakeMapView::LayerProblems() const
{
    std::vector<LayerProblem> problems;
    for (std::size_t handle = 0; handle < layers_.size(); ++handle) {
        const MapLayer* object = layers_[handle] ? layers_[handle]->object.get() : nullptr;
        std::string name;
        if (const auto* shapes = dynamic_cast<const FakeShapefile*>(object); shapes && !shapes->IsOpen())
            name = shapes->Name();
        else if (const auto* image = dynamic_cast<const FakeImage*>(object); image && !image->IsOpen())
            name = image->Name();
        else
            continue;
        problems.push_back({static_cast<int>(handle), name, "cannot open " + name});
    }
    return problems;
}

std::vector<MapView::Preparation> FakeMapView::Preparations() const
{
    return preparations;
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
    Record("NewShapefile");
    return std::make_unique<FakeShapefile>(*this);
}

std::unique_ptr<ImageLayer> FakeMapView::NewImage()
{
    Record("NewImage");
    return std::make_unique<FakeImage>(*this);
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
    Record("AddLayer", entry->description, std::string(visible ? "visible" : "hidden"));
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
    Record("RemoveLayer", handle);
    if (FindLayer(handle) == nullptr)
        return;
    layers_[handle].reset();
    order_.erase(std::find(order_.begin(), order_.end(), handle));
}

void FakeMapView::ZoomToLayer(int handle)
{
    Record("ZoomToLayer", handle);
    const auto found = layerExtents.find(handle);
    if (found != layerExtents.end() && FindLayer(handle) != nullptr)
        extents = found->second;
}

void FakeMapView::ZoomToShape(int handle, int shape)
{
    Record("ZoomToShape", handle, shape);
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
    Record("PixelToProj", pixelX, pixelY);
    if (pixelToProj) {
        pixelToProj(pixelX, pixelY, projX, projY);
        return;
    }
    projX = extents.xMin + pixelX;
    projY = extents.yMax - pixelY;
}

int FakeMapView::LayerHandle(int position) const
{
    Record("LayerHandle", position);
    if (position < 0 || position >= static_cast<int>(order_.size()))
        return -1;
    return order_[position];
}

void FakeMapView::SetLayerVisible(int handle, bool visible)
{
    Record("SetLayerVisible", handle, visible);
    if (Layer* layer = FindLayer(handle))
        layer->visible = visible;
}

ShapefileLayer* FakeMapView::GetLayerObject(int handle)
{
    Record("GetLayerObject", handle);
    Layer* layer = FindLayer(handle);
    return layer == nullptr ? nullptr : dynamic_cast<ShapefileLayer*>(layer->object.get());
}

void FakeMapView::AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y,
                           int justification, double rotation)
{
    Record("AddLabel", handle, text, rgb, x, y, justification, rotation);
}

void FakeMapView::SetHighlight(int handle, int shape)
{
    Record("SetHighlight", handle, shape);
}

void FakeMapView::SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth)
{
    Record("SetOverlayLabels", int(labels.size()), minViewWidth);
    overlayLabels = labels;
}

void FakeMapView::SetRunMarks(std::vector<RunMark> marks)
{
    Record("SetRunMarks", int(marks.size()));
    runMarks = std::move(marks);
}

void FakeMapView::ZoomToExtents(const MapExtents& e)
{
    Record("ZoomToExtents", e.xMin, e.xMax, e.yMin, e.yMax);
    extents = e;
}

}  // namespace quorvel::testing
