#include "map/MapScene.h"

#include "map/GdalLayers.h"
#include "map/ViewTransform.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr std::size_t kSpriteBudget = 32u << 20;
const QColor kDefaultLine(64, 64, 64);

}  // namespace

MapScene::MapScene()
{
    labelFont_.setPointSizeF(8);
}

MapScene::~MapScene() = default;

int MapScene::AddLayer(std::unique_ptr<MapLayer> layer, bool visible)
{
    auto entry = std::make_unique<Layer>();
    entry->shapes = dynamic_cast<const GdalShapefileLayer*>(layer.get());
    entry->image = dynamic_cast<const GdalImageLayer*>(layer.get());
    entry->object = std::move(layer);
    entry->visible = visible;
    entry->lineColour = kDefaultLine;
    const auto free = std::find(layers_.begin(), layers_.end(), nullptr);
    const int handle = int(free - layers_.begin());
    if (free == layers_.end())
        layers_.push_back(std::move(entry));
    else
        *free = std::move(entry);
    order_.push_back(handle);
    return handle;
}

bool MapScene::RemoveLayer(int handle)
{
    if (!Find(handle))
        return false;
    std::erase(order_, handle);
    layers_[size_t(handle)].reset();
    return true;
}

int MapScene::LayerHandle(int position) const
{
    return position >= 0 && position < int(order_.size()) ? order_[size_t(position)] : -1;
}

bool MapScene::SetLayerVisible(int handle, bool visible)
{
    Layer* layer = Find(handle);
    if (!layer || layer->visible == visible)
        return false;
    layer->visible = visible;
    return true;
}

bool MapScene::LayerVisible(int handle) const
{
    const Layer* layer = Find(handle);
    return layer && layer->visible;
}

bool MapScene::SetLayerLineColor(int handle, const QColor& colour)
{
    Layer* layer = Find(handle);
    if (!layer)
        return false;
    layer->lineColour = colour;
    return true;
}

bool MapScene::SetLayerLineWidth(int handle, float width)
{
    Layer* layer = Find(handle);
    if (!layer || !std::isfinite(width) || width < 0)
        return false;
    layer->lineWidth = width;
    return true;
}

bool MapScene::AddLabel(int handle, const std::string& text, const QColor& colour, double x, double y,
                        int justification, double rotation)
{
    Layer* layer = Find(handle);
    if (!layer || !std::isfinite(x) || !std::isfinite(y))
        return false;
    MapLabel label;
    label.text = QString::fromStdString(text);
    label.colour = colour;
    label.x = x;
    label.y = y;
    label.justification = justification;
    label.rotation = std::isfinite(rotation) ? rotation : 0.0;
    const QFontMetricsF metrics(labelFont_);
    label.size = QSizeF(metrics.horizontalAdvance(label.text), metrics.height());
    layer->labels.push_back(std::move(label));
    return layer->visible;
}

ShapefileLayer* MapScene::GetLayerObject(int handle)
{
    Layer* layer = Find(handle);
    return layer ? dynamic_cast<ShapefileLayer*>(layer->object.get()) : nullptr;
}

const GdalShapefileLayer* MapScene::Shapes(int handle) const
{
    const Layer* layer = Find(handle);
    return layer ? layer->shapes : nullptr;
}

const MapLabel* MapScene::ShapeLabel(int handle, int shape) const
{
    const Layer* layer = Find(handle);
    if (!layer || !layer->shapes || shape < 0 || shape >= layer->shapes->ShapeCount() ||
        int(layer->labels.size()) != layer->shapes->ShapeCount())
        return nullptr;
    return &layer->labels[size_t(shape)];
}

std::vector<GdalImageLayer*> MapScene::Images()
{
    std::vector<GdalImageLayer*> images;
    for (const auto& layer : layers_)
        if (auto* image = layer ? dynamic_cast<GdalImageLayer*>(layer->object.get()) : nullptr)
            images.push_back(image);
    return images;
}

bool MapScene::LayerExtents(int handle, MapExtents& extents) const
{
    const Layer* layer = Find(handle);
    if (layer && layer->image && layer->image->IsOpen()) {
        extents = layer->image->Extents();
        return true;
    }
    if (layer && layer->shapes && layer->shapes->HasExtents()) {
        extents = layer->shapes->Extents();
        return true;
    }
    return false;
}

std::vector<MapView::LayerProblem> MapScene::LayerProblems() const
{
    std::vector<MapView::LayerProblem> problems;
    for (std::size_t handle = 0; handle < layers_.size(); ++handle) {
        const Layer* layer = layers_[handle].get();
        if (layer && layer->image && !layer->image->IsOpen())
            problems.push_back({int(handle), layer->image->Name(), layer->image->OpenError()});
        else if (layer && layer->shapes && !layer->shapes->IsOpen())
            problems.push_back({int(handle), layer->shapes->Name(), layer->shapes->OpenError()});
    }
    return problems;
}

std::vector<int> MapScene::VisibleLayers() const
{
    std::vector<int> visible;
    for (const int handle : order_)
        if (layers_[size_t(handle)]->visible)
            visible.push_back(handle);
    return visible;
}

QImage MapScene::Render(const ViewTransform& view, double dpr, const QColor& background,
                        const std::vector<int>& handles)
{
    QImage frame(QSize(int(std::lround(view.Width() * dpr)), int(std::lround(view.Height() * dpr))).expandedTo(QSize(1, 1)),
                 QImage::Format_ARGB32_Premultiplied);
    frame.setDevicePixelRatio(dpr);
    frame.fill(background);
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    for (const int handle : handles) {
        const Layer* layer = Find(handle);
        if (!layer)
            continue;
        if (layer->image) {
            QRectF target;
            const QImage pixels = layer->image->Render(view, dpr, target);
            if (!pixels.isNull()) {
                const bool enlarged = pixels.width() + 1 < target.width() * dpr;
                painter.setRenderHint(QPainter::SmoothPixmapTransform, enlarged);
                painter.drawImage(target, pixels);
            }
        } else if (layer->shapes) {
            DrawShapes(painter, *layer->shapes, view, layer->lineColour, layer->lineWidth);
        }
    }
    DrawLabels(painter, view, dpr, handles);
    return frame;
}

void MapScene::DrawLabels(QPainter& painter, const ViewTransform& view, double dpr, const std::vector<int>& handles)
{
    // Labels go over every layer, the lower layer's first; the first label to
    // claim a place keeps it.
    LabelPlacer placer(view.Width(), view.Height());
    const QRectF area(0, 0, view.Width(), view.Height());
    for (const int handle : handles) {
        Layer* layer = Find(handle);
        if (!layer)
            continue;
        for (MapLabel& label : layer->labels) {
            if (label.text.isEmpty())
                continue;
            double px, py;
            view.MapToPixel(label.x, label.y, px, py);
            const QRectF rect = LabelRect(label, px, py);
            if (!area.intersects(rect) || !placer.TryPlace(rect))
                continue;
            if (label.sprite.isNull() || label.sprite.devicePixelRatio() != dpr) {
                if (spriteBytes_ > kSpriteBudget) {
                    for (const auto& each : layers_)
                        if (each)
                            for (MapLabel& l : each->labels)
                                l.sprite = QImage();
                    spriteBytes_ = 0;
                }
                label.sprite = MakeLabelSprite(label, labelFont_, dpr);
                spriteBytes_ += std::size_t(label.sprite.sizeInBytes());
            }
            const double pad = LabelHaloPad();
            if (label.rotation == 0) {
                painter.drawImage(rect.topLeft() - QPointF(pad, pad), label.sprite);
            } else {
                painter.save();
                painter.translate(px, py);
                painter.rotate(-label.rotation);
                painter.drawImage(rect.topLeft() - QPointF(px + pad, py + pad), label.sprite);
                painter.restore();
            }
        }
    }
}

MapScene::Layer* MapScene::Find(int handle)
{
    return handle >= 0 && handle < int(layers_.size()) ? layers_[size_t(handle)].get() : nullptr;
}

const MapScene::Layer* MapScene::Find(int handle) const
{
    return handle >= 0 && handle < int(layers_.size()) ? layers_[size_t(handle)].get() : nullptr;
}

}  // namespace quorvel
