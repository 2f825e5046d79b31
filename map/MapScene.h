#pragma once

#include "map/MapView.h"
#include "map/RenderMap.h"

#include <QColor>
#include <QFont>
#include <QImage>

#include <memory>
#include <vector>

class QPainter;

namespace quorvel {

class GdalImageLayer;
class GdalShapefileLayer;
class ViewTransform;

// The map's layers and the one way they are drawn, with no window: the widget
// draws its picture through it, and so does every other picture of the map.
// Handles are 0, 1, 2... in order of adding, the lowest free one reused after
// RemoveLayer. Not shared between threads: the layers hold GDAL handles, and
// drawing fills each label's cached picture.
class MapScene {
public:
    MapScene();
    ~MapScene();
    MapScene(const MapScene&) = delete;
    MapScene& operator=(const MapScene&) = delete;

    int AddLayer(std::unique_ptr<MapLayer> layer, bool visible);
    // The setters answer whether the picture changed.
    bool RemoveLayer(int handle);
    // -1 when there is no layer at that position.
    int LayerHandle(int position) const;
    bool SetLayerVisible(int handle, bool visible);
    bool LayerVisible(int handle) const;
    bool SetLayerLineColor(int handle, const QColor& colour);
    bool SetLayerLineWidth(int handle, float width);
    bool AddLabel(int handle, const std::string& text, const QColor& colour, double x, double y, int justification,
                  double rotation);
    // nullptr when the handle is not a layer of that kind.
    ShapefileLayer* GetLayerObject(int handle);
    const GdalShapefileLayer* Shapes(int handle) const;
    // The label of one shape of a layer labelled shape by shape; nullptr otherwise.
    const MapLabel* ShapeLabel(int handle, int shape) const;
    std::vector<GdalImageLayer*> Images();
    // False for a layer that did not open or has no extent.
    bool LayerExtents(int handle, MapExtents& extents) const;
    std::vector<MapView::LayerProblem> LayerProblems() const;

    // The visible layers' handles, in drawing order.
    std::vector<int> VisibleLayers() const;
    // The layers given, in that order, and then their labels, over background,
    // for the view at that device pixel ratio; handles that are no layer are
    // skipped, hidden layers drawn all the same.
    QImage Render(const ViewTransform& view, double devicePixelRatio, const QColor& background,
                  const std::vector<int>& handles);

private:
    struct Layer {
        std::unique_ptr<MapLayer> object;
        const GdalShapefileLayer* shapes = nullptr;
        const GdalImageLayer* image = nullptr;
        bool visible = true;
        QColor lineColour;
        float lineWidth = 1.0f;
        std::vector<MapLabel> labels;
    };

    Layer* Find(int handle);
    const Layer* Find(int handle) const;
    void DrawLabels(QPainter& painter, const ViewTransform& view, double devicePixelRatio,
                    const std::vector<int>& handles);

    std::vector<std::unique_ptr<Layer>> layers_;  // by handle; null where free
    std::vector<int> order_;                      // handles by drawing position
    QFont labelFont_;
    std::size_t spriteBytes_ = 0;
};

}  // namespace quorvel
