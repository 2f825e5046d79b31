#include "map/OffscreenMap.h"

#include "map/GdalLayers.h"
#include "map/MapOverlay.h"

#include <QPainter>

namespace quorvel {

namespace {

constexpr double kShapeMargin = 0.05;  // of the shape's size, on each side, as on the screen

QColor FromRgb(std::uint32_t rgb)
{
    return QColor(int(rgb & 0xff), int((rgb >> 8) & 0xff), int((rgb >> 16) & 0xff));
}

}  // namespace

OffscreenMap::OffscreenMap(int width, int height) : view_(0, 0, 1, width, height) {}

std::unique_ptr<ShapefileLayer> OffscreenMap::NewShapefile()
{
    return std::make_unique<GdalShapefileLayer>();
}

std::unique_ptr<ImageLayer> OffscreenMap::NewImage()
{
    return std::make_unique<GdalImageLayer>();
}

void OffscreenMap::SetBackColor(std::uint32_t rgb)
{
    background_ = FromRgb(rgb);
}

MapExtents OffscreenMap::GetExtents() const
{
    return view_.Extents();
}

int OffscreenMap::AddLayer(std::unique_ptr<MapLayer> layer, bool visible)
{
    const int handle = scene_.AddLayer(std::move(layer), visible);
    MapExtents extents;
    if (!viewSet_ && scene_.LayerExtents(handle, extents))
        FitView(extents);
    return handle;
}

void OffscreenMap::RemoveLayer(int handle)
{
    scene_.RemoveLayer(handle);
}

void OffscreenMap::ZoomToLayer(int handle)
{
    MapExtents extents;
    if (scene_.LayerExtents(handle, extents))
        FitView(extents);
}

void OffscreenMap::ZoomToShape(int handle, int shape)
{
    const GdalShapefileLayer* shapes = scene_.Shapes(handle);
    if (!shapes || shape < 0 || shape >= shapes->ShapeCount() || shapes->Shapes()[size_t(shape)].kind == ShapeKind::Empty)
        return;
    const MapExtents e = shapes->ShapeExtents(shape);
    const double mx = (e.xMax - e.xMin) * kShapeMargin;
    const double my = (e.yMax - e.yMin) * kShapeMargin;
    FitView({e.xMin - mx, e.xMax + mx, e.yMin - my, e.yMax + my});
}

void OffscreenMap::ZoomToExtents(const MapExtents& extents)
{
    FitView(extents);
}

void OffscreenMap::PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const
{
    view_.PixelToMap(pixelX, pixelY, projX, projY);
}

int OffscreenMap::LayerHandle(int position) const
{
    return scene_.LayerHandle(position);
}

void OffscreenMap::SetLayerVisible(int handle, bool visible)
{
    scene_.SetLayerVisible(handle, visible);
}

void OffscreenMap::SetLayerLineColor(int handle, std::uint32_t rgb)
{
    scene_.SetLayerLineColor(handle, FromRgb(rgb));
}

void OffscreenMap::SetLayerLineWidth(int handle, float width)
{
    scene_.SetLayerLineWidth(handle, width);
}

ShapefileLayer* OffscreenMap::GetLayerObject(int handle)
{
    return scene_.GetLayerObject(handle);
}

void OffscreenMap::AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y,
                            int justification, double rotation)
{
    scene_.AddLabel(handle, text, FromRgb(rgb), x, y, justification, rotation);
}

void OffscreenMap::SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth)
{
    overlayNames_.Set(labels, minViewWidth);
}

std::vector<MapView::LayerProblem> OffscreenMap::LayerProblems() const
{
    return scene_.LayerProblems();
}

void OffscreenMap::SetView(const ViewTransform& view)
{
    view_ = view;
    viewSet_ = true;
}

void OffscreenMap::FitView(const MapExtents& extents)
{
    SetView(ViewTransform::Fit(extents, view_.Width(), view_.Height(), view_.UnitsPerPixel()));
}

QImage OffscreenMap::Render()
{
    return scene_.Render(view_, 1.0, background_, scene_.VisibleLayers());
}

void OffscreenMap::DrawOverlayNames(QImage& picture)
{
    QPainter painter(&picture);
    overlayNames_.Draw(painter, view_);
}

}  // namespace quorvel
