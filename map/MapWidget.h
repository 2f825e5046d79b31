#pragma once

#include "map/MapOverlay.h"
#include "map/MapScene.h"
#include "map/MapView.h"
#include "map/ViewTransform.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace quorvel {

class GdalImageLayer;
class OverviewCache;

// The interactive map on GDAL. The picture is rendered into a cached image only
// when something in it changed; a pan drag moves the cached picture and reads
// no file, and the map is rendered again once the button is released.
//
// The first layer added that has a known extent sets the view to that extent,
// and keeps it fitted to the widget's size until the view is moved; later
// layers leave the view alone. Once moved, on a resize the view keeps its
// centre and its scale: a larger widget shows more around the same place. The run marks
// are drawn over the cached picture, so changing them renders nothing again.
//
// A large raster without overviews gets them from the OverviewCache, built in
// the background the first time; until then a view that would need most of
// the file leaves it out and shows what lies below.
class MapWidget : public QWidget, public MapView {
    Q_OBJECT

public:
    explicit MapWidget(QWidget* parent = nullptr);
    ~MapWidget() override;

    std::unique_ptr<ShapefileLayer> NewShapefile() override;
    std::unique_ptr<ImageLayer> NewImage() override;

    void SetEventSink(MapEvents* sink) override;
    void SetCursorMode(int mode) override;
    void SetMapCursor(int pointer) override;
    void SetSendMouseDown(bool on) override;
    void SetSendMouseUp(bool on) override;
    void SetSendMouseMove(bool on) override;
    void SetSendSelectBoxFinal(bool on) override;
    void SetBackColor(std::uint32_t rgb) override;

    MapExtents GetExtents() const override;
    int AddLayer(std::unique_ptr<MapLayer> layer, bool visible) override;
    void RemoveLayer(int handle) override;
    void ZoomToLayer(int handle) override;
    void ZoomToShape(int handle, int shape) override;
    void PixelToProj(double pixelX, double pixelY, double& projX, double& projY) const override;
    int LayerHandle(int position) const override;
    void SetLayerVisible(int handle, bool visible) override;
    void SetLayerLineColor(int handle, std::uint32_t rgb) override;
    void SetLayerLineWidth(int handle, float width) override;
    ShapefileLayer* GetLayerObject(int handle) override;
    void AddLabel(int handle, const std::string& text, std::uint32_t rgb, double x, double y, int justification,
                  double rotation) override;
    std::vector<LayerProblem> LayerProblems() const override;
    std::vector<Preparation> Preparations() const override;
    void SetHighlight(int handle, int shape) override;
    void SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth) override;

    void SetRunMarks(std::vector<RunMark> marks) override;
    void ZoomToExtents(const MapExtents& extents) override;
    void SetNotice(const std::string& text) override;
    int CursorMode() const { return cursorMode_; }
    int MapCursor() const { return mapCursor_; }
    bool LayerVisible(int handle) const;
    // Renders the whole map afresh for the current view and size.
    const QImage& RenderMap();
    // How many times the map has been rendered since the widget was made.
    int RenderCount() const { return renderCount_; }

signals:
    // The visible extent changed, by a gesture, the wheel, a resize or a call.
    void ExtentsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    enum class Gesture { None, ZoomIn, ZoomOut, Pan };

    ViewTransform CurrentView() const;
    void SyncView();
    void FitView(const MapExtents& extents);
    void SetView(const ViewTransform& view);
    void Changed();
    void EnsureRendered();
    void CancelGesture();
    void PrepareOverviews(GdalImageLayer& image);
    void OverviewsProgressed(const QString& source, double done);
    void OverviewsFinished(const QString& source, const QString& cached);
    void StatusChanged();
    void UpdatePointer();
    void DrawOverlays(QPainter& painter);

    MapScene scene_;
    MapEvents* sink_ = nullptr;
    int cursorMode_ = kNoTool;
    int mapCursor_ = kArrow;
    bool sendDown_ = false;
    bool sendUp_ = false;
    bool sendMove_ = false;
    bool sendBox_ = false;
    QColor background_ = Qt::white;

    ViewTransform view_;
    bool viewSet_ = false;
    std::optional<MapExtents> firstExtents_;  // while the view is the first layer's, fitted
    std::vector<RunMark> runMarks_;

    QImage frame_;
    ViewTransform frameView_;
    bool dirty_ = true;
    int renderCount_ = 0;

    int highlightHandle_ = -1;
    int highlightShape_ = -1;
    OverlayNames overlayNames_;
    QFont highlightFont_;
    QString notice_;

    std::unique_ptr<OverviewCache> overviews_;
    // Rasters whose overviews are being built, by absolute path.
    std::map<QString, Preparation> preparing_;

    Gesture gesture_ = Gesture::None;
    Qt::MouseButton gestureButton_ = Qt::NoButton;
    QPoint pressPos_;
    QPoint currentPos_;
    bool dragged_ = false;
    ViewTransform pressView_;
};

}  // namespace quorvel
