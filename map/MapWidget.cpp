#include "map/MapWidget.h"

#include "map/GdalLayers.h"
#include "map/OverviewCache.h"
#include "map/MapOverlay.h"
#include "map/MapPointer.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr double kClickZoom = 2.0;
constexpr double kWheelStepZoom = 1.25;
constexpr double kShapeMargin = 0.05;  // of the shape's size, on each side
constexpr int kDragDistance = 4;       // pixels before a press becomes a drag

QColor FromRgb(std::uint32_t rgb)
{
    return QColor(int(rgb & 0xff), int((rgb >> 8) & 0xff), int((rgb >> 16) & 0xff));
}

// The map's events number buttons and modifier keys the old way: 1 left,
// 2 right, 4 middle; 1 shift, 2 control, 4 alt.
int ButtonCode(Qt::MouseButtons buttons)
{
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

int ShiftCode(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

}  // namespace

MapWidget::MapWidget(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    view_ = ViewTransform(0, 0, 1, width(), height());
    highlightFont_ = font();
    highlightFont_.setPointSizeF(13);
    highlightFont_.setBold(true);
}

MapWidget::~MapWidget() = default;

std::unique_ptr<ShapefileLayer> MapWidget::NewShapefile()
{
    return std::make_unique<GdalShapefileLayer>();
}

std::unique_ptr<ImageLayer> MapWidget::NewImage()
{
    return std::make_unique<GdalImageLayer>();
}

void MapWidget::SetEventSink(MapEvents* sink)
{
    sink_ = sink;
}

void MapWidget::SetCursorMode(int mode)
{
    if (mode != kZoomIn && mode != kZoomOut && mode != kPan && mode != kNoTool)
        return;
    CancelGesture();
    cursorMode_ = mode;
    UpdatePointer();
}

void MapWidget::SetMapCursor(int pointer)
{
    if (pointer != kArrow && pointer != kCrossHair)
        return;
    mapCursor_ = pointer;
    UpdatePointer();
}

void MapWidget::UpdatePointer()
{
    setCursor(MapPointerFor(cursorMode_, mapCursor_, gesture_ == Gesture::Pan));
}

void MapWidget::SetSendMouseDown(bool on)
{
    sendDown_ = on;
}

void MapWidget::SetSendMouseUp(bool on)
{
    sendUp_ = on;
}

void MapWidget::SetSendMouseMove(bool on)
{
    sendMove_ = on;
}

void MapWidget::SetSendSelectBoxFinal(bool on)
{
    sendBox_ = on;
}

void MapWidget::SetBackColor(std::uint32_t rgb)
{
    background_ = FromRgb(rgb);
    Changed();
}

MapExtents MapWidget::GetExtents() const
{
    return CurrentView().Extents();
}

int MapWidget::AddLayer(std::unique_ptr<MapLayer> layer, bool visible)
{
    if (auto* image = dynamic_cast<GdalImageLayer*>(layer.get()); image && image->NeedsOverviews())
        PrepareOverviews(*image);
    const int handle = scene_.AddLayer(std::move(layer), visible);
    MapExtents extents;
    if (!viewSet_ && scene_.LayerExtents(handle, extents)) {
        FitView(extents);
        firstExtents_ = extents;
    }
    Changed();
    return handle;
}

void MapWidget::RemoveLayer(int handle)
{
    if (scene_.RemoveLayer(handle))
        Changed();
}

void MapWidget::ZoomToLayer(int handle)
{
    MapExtents extents;
    if (scene_.LayerExtents(handle, extents))
        FitView(extents);
}

void MapWidget::ZoomToShape(int handle, int shape)
{
    const GdalShapefileLayer* shapes = scene_.Shapes(handle);
    if (!shapes || shape < 0 || shape >= shapes->ShapeCount() || shapes->Shapes()[size_t(shape)].kind == ShapeKind::Empty)
        return;
    MapExtents e = shapes->ShapeExtents(shape);
    const double mx = (e.xMax - e.xMin) * kShapeMargin;
    const double my = (e.yMax - e.yMin) * kShapeMargin;
    FitView({e.xMin - mx, e.xMax + mx, e.yMin - my, e.yMax + my});
}

void MapWidget::ZoomToExtents(const MapExtents& extents)
{
    FitView(extents);
}

void MapWidget::SetNotice(const std::string& text)
{
    notice_ = QString::fromStdString(text);
    update();
}

void MapWidget::SetRunMarks(std::vector<RunMark> marks)
{
    runMarks_ = std::move(marks);
    update();
}

void MapWidget::PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const
{
    CurrentView().PixelToMap(pixelX, pixelY, projX, projY);
}

int MapWidget::LayerHandle(int position) const
{
    return scene_.LayerHandle(position);
}

void MapWidget::SetLayerVisible(int handle, bool visible)
{
    if (scene_.SetLayerVisible(handle, visible))
        Changed();
}

bool MapWidget::LayerVisible(int handle) const
{
    return scene_.LayerVisible(handle);
}

void MapWidget::SetLayerLineColor(int handle, std::uint32_t rgb)
{
    if (scene_.SetLayerLineColor(handle, FromRgb(rgb)))
        Changed();
}

void MapWidget::SetLayerLineWidth(int handle, float width)
{
    if (scene_.SetLayerLineWidth(handle, width))
        Changed();
}

ShapefileLayer* MapWidget::GetLayerObject(int handle)
{
    return scene_.GetLayerObject(handle);
}

void MapWidget::AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y,
                         int justification, double rotation)
{
    if (scene_.AddLabel(handle, text, FromRgb(rgb), x, y, justification, rotation))
        Changed();
}

std::vector<MapView::LayerProblem> MapWidget::LayerProblems() const
{
    return scene_.LayerProblems();
}

std::vector<MapView::Preparation> MapWidget::Preparations() const
{
    std::vector<Preparation> all;
    for (const auto& [source, preparation] : preparing_)
        all.push_back(preparation);
    return all;
}

void MapWidget::PrepareOverviews(GdalImageLayer& image)
{
    const QString source = QFileInfo(QString::fromStdString(image.Name())).absoluteFilePath();
    if (!overviews_) {
        overviews_ = std::make_unique<OverviewCache>();
        connect(overviews_.get(), &OverviewCache::Progress, this, &MapWidget::OverviewsProgressed);
        connect(overviews_.get(), &OverviewCache::Finished, this, &MapWidget::OverviewsFinished);
    }
    if (const QString cached = overviews_->Cached(source);
        !cached.isEmpty() && image.AdoptOverviews(cached.toStdString()))
        return;
    if (preparing_.count(source) == 0) {
        preparing_[source] = {image.Name(), 0.0};
        QMetaObject::invokeMethod(this, &MapWidget::StatusChanged, Qt::QueuedConnection);
    }
    overviews_->Request(source);
}

void MapWidget::OverviewsProgressed(const QString& source, double done)
{
    if (auto found = preparing_.find(source); found != preparing_.end()) {
        found->second.done = done;
        StatusChanged();
    }
}

void MapWidget::OverviewsFinished(const QString& source, const QString& cached)
{
    preparing_.erase(source);
    if (!cached.isEmpty()) {
        for (GdalImageLayer* image : scene_.Images()) {
            if (image->NeedsOverviews() &&
                QFileInfo(QString::fromStdString(image->Name())).absoluteFilePath() == source)
                image->AdoptOverviews(cached.toStdString());
        }
        Changed();
    }
    StatusChanged();
}

void MapWidget::StatusChanged()
{
    if (sink_)
        sink_->MapStatusChanged();
}

void MapWidget::SetHighlight(int handle, int shape)
{
    highlightHandle_ = handle;
    highlightShape_ = shape;
    update();
}

void MapWidget::SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth)
{
    overlayNames_.Set(labels, minViewWidth);
    update();
}

const QImage& MapWidget::RenderMap()
{
    SyncView();
    frame_ = scene_.Render(view_, devicePixelRatioF(), background_, scene_.VisibleLayers());
    frameView_ = view_;
    dirty_ = false;
    ++renderCount_;
    return frame_;
}

void MapWidget::EnsureRendered()
{
    if (dirty_ || frame_.isNull() || !(frameView_ == view_))
        RenderMap();
}

void MapWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool panning = gesture_ == Gesture::Pan && !frame_.isNull() &&
                         frameView_.UnitsPerPixel() == view_.UnitsPerPixel() &&
                         frameView_.Width() == view_.Width() && frameView_.Height() == view_.Height();
    if (panning) {
        // The last picture, moved with the pointer: nothing is read while dragging.
        const MapExtents shown = frameView_.Extents();
        double px, py;
        view_.MapToPixel(shown.xMin, shown.yMax, px, py);
        painter.fillRect(rect(), background_);
        painter.drawImage(QPointF(px, py), frame_);
        DrawOverlays(painter);
        return;
    }
    EnsureRendered();
    painter.drawImage(QPointF(0, 0), frame_);
    DrawOverlays(painter);
    if (gesture_ == Gesture::ZoomIn && dragged_) {
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.setBrush(QColor(255, 255, 255, 60));
        painter.drawRect(QRect(pressPos_, currentPos_).normalized());
    }
}

void MapWidget::DrawOverlays(QPainter& painter)
{
    overlayNames_.Draw(painter, view_);
    if (const GdalShapefileLayer* shapes = scene_.Shapes(highlightHandle_);
        shapes && highlightShape_ >= 0 && highlightShape_ < shapes->ShapeCount()) {
        const ShapeData& shape = shapes->Shapes()[size_t(highlightShape_)];
        DrawHighlight(painter, shape, view_);
        // A layer labelled shape by shape: a place found by its name shows it,
        // whether or not the layer's names are shown at this scale.
        if (const MapLabel* label = scene_.ShapeLabel(highlightHandle_, highlightShape_);
            label && shape.kind == ShapeKind::Point)
            DrawHighlightedName(painter, label->text, label->x, label->y, view_, highlightFont_);
    }
    DrawRunMarks(painter, runMarks_, view_);
    DrawScaleBar(painter, view_);
    DrawNotice(painter, notice_, view_.Width());
}

void MapWidget::resizeEvent(QResizeEvent*)
{
    // Until the view is moved, the first layer fills the map at every size:
    // the map is laid out, and shown at its real size, after the layers came.
    // That is no move: a highlight stays.
    if (firstExtents_) {
        const ViewTransform fitted = ViewTransform::Fit(*firstExtents_, width(), height(), view_.UnitsPerPixel());
        if (!(fitted == view_)) {
            view_ = fitted;
            update();
            emit ExtentsChanged();
        }
    }
    SyncView();
    dirty_ = true;
}

ViewTransform MapWidget::CurrentView() const
{
    if (view_.Width() == std::max(1, width()) && view_.Height() == std::max(1, height()))
        return view_;
    return ViewTransform(view_.CentreX(), view_.CentreY(), view_.UnitsPerPixel(), width(), height());
}

void MapWidget::SyncView()
{
    // A hidden widget learns its new size before its resize event arrives.
    const ViewTransform current = CurrentView();
    if (current == view_)
        return;
    view_ = current;
    dirty_ = true;
    emit ExtentsChanged();
}

void MapWidget::mousePressEvent(QMouseEvent* event)
{
    SyncView();
    const QPoint pos = event->position().toPoint();
    // A modal window opened by a handler may have taken the release of an earlier press.
    CancelGesture();
    if (sendDown_ && sink_)
        sink_->MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), pos.x(), pos.y());
    if (event->button() != Qt::LeftButton)
        return;
    switch (cursorMode_) {
    case kZoomIn:
        gesture_ = Gesture::ZoomIn;
        break;
    case kZoomOut:
        gesture_ = Gesture::ZoomOut;
        break;
    case kPan:
        gesture_ = Gesture::Pan;
        break;
    default:
        return;
    }
    gestureButton_ = Qt::LeftButton;
    pressPos_ = currentPos_ = pos;
    dragged_ = false;
    pressView_ = view_;
    UpdatePointer();
}

void MapWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (gesture_ != Gesture::None && !(event->buttons() & gestureButton_))
        CancelGesture();
    if (gesture_ != Gesture::None) {
        currentPos_ = pos;
        if ((pos - pressPos_).manhattanLength() >= kDragDistance)
            dragged_ = true;
        if (gesture_ == Gesture::Pan && dragged_)
            view_ = pressView_.Panned(pos.x() - pressPos_.x(), pos.y() - pressPos_.y());
        if (gesture_ != Gesture::ZoomOut)
            update();
    }
    if (sendMove_ && sink_)
        sink_->MouseMove(ButtonCode(event->buttons()), ShiftCode(event->modifiers()), pos.x(), pos.y());
}

void MapWidget::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    bool boxDone = false;
    QRect box;
    if (gesture_ != Gesture::None && event->button() == gestureButton_) {
        const Gesture gesture = gesture_;
        if ((pos - pressPos_).manhattanLength() >= kDragDistance)
            dragged_ = true;
        const bool dragged = dragged_;
        gesture_ = Gesture::None;
        gestureButton_ = Qt::NoButton;
        dragged_ = false;
        UpdatePointer();
        switch (gesture) {
        case Gesture::ZoomIn:
            if (dragged) {
                box = QRect(QPoint(std::min(pressPos_.x(), pos.x()), std::min(pressPos_.y(), pos.y())),
                            QPoint(std::max(pressPos_.x(), pos.x()), std::max(pressPos_.y(), pos.y())));
                double x0, y0, x1, y1;
                view_.PixelToMap(box.left(), box.bottom(), x0, y0);
                view_.PixelToMap(box.right(), box.top(), x1, y1);
                FitView({x0, x1, y0, y1});
                boxDone = true;
            } else {
                SetView(view_.ZoomedCentredOn(pos.x(), pos.y(), kClickZoom));
            }
            break;
        case Gesture::ZoomOut:
            SetView(view_.ZoomedCentredOn(pos.x(), pos.y(), 1 / kClickZoom));
            break;
        case Gesture::Pan:
            SetView(pressView_.Panned(pos.x() - pressPos_.x(), pos.y() - pressPos_.y()));
            break;
        case Gesture::None:
            break;
        }
    }
    if (boxDone && sendBox_ && sink_)
        sink_->SelectBoxFinal(box.left(), box.right(), box.bottom(), box.top());
    if (sendUp_ && sink_)
        sink_->MouseUp(ButtonCode(event->button()), ShiftCode(event->modifiers()), pos.x(), pos.y());
}

void MapWidget::wheelEvent(QWheelEvent* event)
{
    SyncView();
    const double steps = event->angleDelta().y() / 120.0;
    if (gesture_ != Gesture::None || steps == 0)
        return;
    const QPointF pos = event->position();
    SetView(view_.ZoomedAround(pos.x(), pos.y(), std::pow(kWheelStepZoom, steps)));
    event->accept();
    // A wheel turn is a whole zoom gesture: end it as a click's release ends
    // one, with no button, so the window follows the new view as it does
    // after any other zoom.
    if (sendUp_ && sink_)
        sink_->MouseUp(0, ShiftCode(event->modifiers()), int(pos.x()), int(pos.y()));
}

void MapWidget::leaveEvent(QEvent*)
{
    if (sendMove_ && sink_)
        sink_->MouseLeave();
}

void MapWidget::FitView(const MapExtents& extents)
{
    SyncView();
    SetView(ViewTransform::Fit(extents, width(), height(), view_.UnitsPerPixel()));
}

void MapWidget::SetView(const ViewTransform& view)
{
    // A highlight marks where a search led; moving on ends it.
    highlightHandle_ = -1;
    view_ = view;
    viewSet_ = true;
    firstExtents_.reset();
    update();
    emit ExtentsChanged();
}

void MapWidget::Changed()
{
    dirty_ = true;
    update();
}

void MapWidget::CancelGesture()
{
    if (gesture_ == Gesture::Pan && dragged_)
        SetView(view_);
    gesture_ = Gesture::None;
    gestureButton_ = Qt::NoButton;
    dragged_ = false;
    UpdatePointer();
    update();
}

}  // namespace quorvel
