#pragma once

#include "map/MapView.h"

#include <QFont>
#include <QImage>
#include <QPointF>
#include <QString>

#include <vector>

class QPainter;

namespace quorvel {

struct ShapeData;
class ViewTransform;

// A scale bar of a round length: the longest of 1, 2 or 5 x 10^n metres whose
// bar fits in maxPixels at the view's scale.
struct ScaleBar {
    double metres = 0;
    double pixels = 0;
    QString text;  // "500 m", "2 km"
};
ScaleBar ChooseScaleBar(double unitsPerPixel, double maxPixels);

// What the map draws over its layers, for the one view at hand: the scale bar
// in the bottom-left corner, a highlighted shape and light overlay names.
// Drawn on every paint rather than into the cached picture, so they stay put
// (the bar) or follow the view (the rest) while a pan drag moves the picture.
void DrawScaleBar(QPainter& painter, const ViewTransform& view);
void DrawHighlight(QPainter& painter, const ShapeData& shape, const ViewTransform& view);
// The name of a highlighted point, boxed in the highlight's colour above it.
void DrawHighlightedName(QPainter& painter, const QString& name, double x, double y, const ViewTransform& view,
                         const QFont& font);
// Light names laid over every layer while the view is wider than a given
// width. Each name's picture, text and halo, is made at its first drawing and
// stamped from then on.
class OverlayNames {
public:
    OverlayNames();
    // In place of those given before.
    void Set(const std::vector<OverlayLabel>& labels, double minViewWidth);
    void Draw(QPainter& painter, const ViewTransform& view);

private:
    struct Name {
        OverlayLabel label;
        QImage sprite;
        QPointF offset;
    };
    std::vector<Name> names_;
    double minWidth_ = 0;
    QFont font_;
};

}  // namespace quorvel
