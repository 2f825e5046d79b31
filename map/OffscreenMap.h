#pragma once

#include "map/MapOverlay.h"
#include "map/MapScene.h"
#include "map/MapView.h"
#include "map/ViewTransform.h"

#include <QColor>
#include <QImage>

namespace quorvel {

// The map with no window, for pictures made away from the screen: the same
// layers, rules and drawing as the interactive map, at a pixel size given
// here. The first layer added that has a known extent sets the view to it, as
// on the screen. There is no pointer, so the settings of tools, pointers and
// mouse events are accepted and change nothing; highlights and run marks
// belong to the screen and are not drawn. One thread at a time.
class OffscreenMap : public MapView {
public:
    OffscreenMap(int width, int height);

    std::unique_ptr<ShapefileLayer> NewShapefile() override;
    std::unique_ptr<ImageLayer> NewImage() override;

    void SetEventSink(MapEvents*) override {}
    void SetCursorMode(int) override {}
    void SetMapCursor(int) override {}
    void SetSendMouseDown(bool) override {}
    void SetSendMouseUp(bool) override {}
    void SetSendMouseMove(bool) override {}
    void SetSendSelectBoxFinal(bool) override {}
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
    void SetHighlight(int, int) override {}
    void SetOverlayLabels(const std::vector<OverlayLabel>& labels, double minViewWidth) override;
    std::vector<LayerProblem> LayerProblems() const override;
    std::vector<Preparation> Preparations() const override { return {}; }
    void SetRunMarks(std::vector<RunMark>) override {}
    void ZoomToExtents(const MapExtents& extents) override;

    const ViewTransform& View() const { return view_; }
    void SetView(const ViewTransform& view);
    MapScene& Scene() { return scene_; }
    QColor Background() const { return background_; }

    // The visible layers and their labels for the current view, as the
    // interactive map renders its picture.
    QImage Render();
    // The overlay names over picture, when the current view is wide enough
    // for them, as the interactive map lays them over its picture.
    void DrawOverlayNames(QImage& picture);

private:
    void FitView(const MapExtents& extents);

    MapScene scene_;
    ViewTransform view_;
    bool viewSet_ = false;
    QColor background_ = Qt::white;
    OverlayNames overlayNames_;
};

}  // namespace quorvel
