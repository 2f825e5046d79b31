#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>

#include <vector>

#include "map/MapView.h"

class QPainter;

namespace quorvel {

class GdalShapefileLayer;
class ViewTransform;

// Outlines of polygons (never filled, so what lies below shows through),
// lines, and points as small dots, all in the given colour and width. Shapes
// whose boxes miss the view are skipped; vertices closer than half a pixel to
// the previous one are dropped, which keeps a full-extent frame cheap.
void DrawShapes(QPainter& painter, const GdalShapefileLayer& layer, const ViewTransform& view,
                const QColor& colour, double width);

// The runs' cells as square outlines at their exact bounds, each with a dot
// at its point; the strong ones over the others, thicker and brighter.
void DrawRunMarks(QPainter& painter, const std::vector<RunMark>& marks, const ViewTransform& view);

// A text on the map. Its size is measured once when it is made; its picture,
// text and halo together, is made the first time it is drawn.
struct MapLabel {
    QString text;
    QColor colour;
    double x = 0;
    double y = 0;
    int justification = 1;
    double rotation = 0;
    QSizeF size;
    QImage sprite;
};

// The label's picture: text in its colour over a light halo, padded by
// LabelHaloPad() on every side.
QImage MakeLabelSprite(const MapLabel& label, const QFont& font, double devicePixelRatio);
double LabelHaloPad();

// Where the label's text goes, in widget pixels, for its anchor at (px, py):
// justification 0 starts at the anchor, 2 ends there, 1 (and anything else)
// is centred on it; always centred vertically.
QRectF LabelRect(const MapLabel& label, double px, double py);

// Remembers the rectangles of the labels drawn so far in one frame; a label
// that would overlap one of them is refused.
class LabelPlacer {
public:
    LabelPlacer(int width, int height);
    bool TryPlace(const QRectF& rect);

private:
    static constexpr int kCell = 64;
    int columns_;
    int rows_;
    std::vector<std::vector<QRectF>> cells_;
};

}  // namespace quorvel
