#include "map/RenderMap.h"

#include "map/GdalLayers.h"
#include "map/ViewTransform.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

bool Overlaps(const MapExtents& a, const MapExtents& b)
{
    return a.xMin <= b.xMax && a.xMax >= b.xMin && a.yMin <= b.yMax && a.yMax >= b.yMin;
}

// The part in widget pixels, without the vertices that would land on the previous one.
void ToPixels(const QPolygonF& part, const ViewTransform& view, QPolygonF& out)
{
    out.clear();
    const double s = view.UnitsPerPixel();
    const double cx = view.CentreX() - view.Width() / 2.0 * s;
    const double cy = view.CentreY() + view.Height() / 2.0 * s;
    QPointF last(-1e300, -1e300);
    const qsizetype n = part.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF p((part[i].x() - cx) / s, (cy - part[i].y()) / s);
        if (i + 1 < n && std::abs(p.x() - last.x()) < 0.5 && std::abs(p.y() - last.y()) < 0.5)
            continue;
        out.append(p);
        last = p;
    }
}

}  // namespace

void DrawShapes(QPainter& painter, const GdalShapefileLayer& layer, const ViewTransform& view,
                const QColor& colour, double width)
{
    const double pad = (width + 6) * view.UnitsPerPixel();
    MapExtents visible = view.Extents();
    visible = {visible.xMin - pad, visible.xMax + pad, visible.yMin - pad, visible.yMax + pad};
    const double tiny = view.UnitsPerPixel();

    // Thin lines are drawn aliased: Qt's fast path for them keeps a full-extent
    // frame of every municipality boundary within a few milliseconds.
    painter.setRenderHint(QPainter::Antialiasing, width > 1.5);
    QPen pen(colour, width);
    pen.setCosmetic(true);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPolygonF pixels;
    std::vector<QPointF> dots;
    for (const ShapeData& shape : layer.Shapes()) {
        if (shape.kind == ShapeKind::Empty || !Overlaps(shape.bounds, visible))
            continue;
        if (shape.kind == ShapeKind::Point) {
            for (const QPolygonF& part : shape.parts)
                for (const QPointF& p : part) {
                    double px, py;
                    view.MapToPixel(p.x(), p.y(), px, py);
                    dots.emplace_back(px, py);
                }
            continue;
        }
        // A shape smaller than a pixel is drawn as the pixel it covers.
        if (shape.bounds.xMax - shape.bounds.xMin < tiny && shape.bounds.yMax - shape.bounds.yMin < tiny) {
            double px, py;
            view.MapToPixel(shape.bounds.xMin, shape.bounds.yMax, px, py);
            painter.drawPoint(QPointF(px, py));
            continue;
        }
        for (const QPolygonF& part : shape.parts) {
            ToPixels(part, view, pixels);
            painter.drawPolyline(pixels);
        }
    }
    if (!dots.empty()) {
        // One marker drawn once and stamped at every point: thousands of
        // place names cost no more than thousands of small copies.
        const double r = std::max(1.5, width + 0.5);
        const double dpr = painter.device()->devicePixelRatioF();
        const int side = int(std::ceil((2 * r + 2) * dpr));
        QImage marker(side, side, QImage::Format_ARGB32_Premultiplied);
        marker.setDevicePixelRatio(dpr);
        marker.fill(Qt::transparent);
        {
            QPainter p(&marker);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            const double c = side / dpr / 2;
            p.drawEllipse(QPointF(c, c), r, r);
        }
        const double half = side / dpr / 2;
        for (const QPointF& p : dots)
            painter.drawImage(QPointF(std::round(p.x() - half), std::round(p.y() - half)), marker);
    }
}

double LabelHaloPad()
{
    return 2.0;
}

QRectF LabelRect(const MapLabel& label, double px, double py)
{
    const double w = label.size.width();
    const double h = label.size.height();
    const double left = label.justification == 0 ? px : label.justification == 2 ? px - w : px - w / 2;
    return QRectF(left, py - h / 2, w, h);
}

namespace {

// A run's dot with its halo, drawn once and stamped at every point.
QImage DotSprite(const QColor& colour, double diameter, double dpr)
{
    struct Sprite {
        QRgb colour;
        double diameter, dpr;
        QImage image;
    };
    static std::vector<Sprite> made;
    for (const Sprite& s : made)
        if (s.colour == colour.rgba() && s.diameter == diameter && s.dpr == dpr)
            return s.image;
    const double side = diameter + 4;
    QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(side / 2, side / 2), diameter / 2, diameter / 2);
    painter.end();
    made.push_back({colour.rgba(), diameter, dpr, std::move(image)});
    return made.back().image;
}

}  // namespace

void DrawRunMarks(QPainter& painter, const std::vector<RunMark>& marks, const ViewTransform& view)
{
    if (marks.empty())
        return;
    static const QColor kHalo(255, 255, 255, 200);
    static const QColor kStrong(230, 0, 150);
    static const QColor kWeak(150, 40, 150, 190);
    const MapExtents shown = view.Extents();
    // One call per pen for all the marks of a kind: a long session leaves hundreds.
    QList<QRectF> squares;
    QList<QPointF> dots;
    painter.save();
    for (const bool strong : {false, true}) {
        squares.clear();
        dots.clear();
        for (const RunMark& mark : marks) {
            if (mark.strong != strong || !Overlaps(mark.cell, shown))
                continue;
            double left, top, right, bottom, px, py;
            view.MapToPixel(mark.cell.xMin, mark.cell.yMax, left, top);
            view.MapToPixel(mark.cell.xMax, mark.cell.yMin, right, bottom);
            view.MapToPixel(mark.x, mark.y, px, py);
            squares.append(QRectF(QPointF(left, top), QPointF(right, bottom)));
            dots.append(QPointF(px, py));
        }
        if (squares.isEmpty())
            continue;
        const QColor colour = strong ? kStrong : kWeak;
        const double width = strong ? 2 : 1;
        const double dot = strong ? 9 : 6;
        // Crisp edges at the cell's bounds; a light halo keeps them seen on dark relief.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(kHalo, width + 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.drawRects(squares.constData(), int(squares.size()));
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.drawRects(squares.constData(), int(squares.size()));
        const QImage sprite = DotSprite(colour, dot, painter.device()->devicePixelRatioF());
        const QPointF half(sprite.width() / sprite.devicePixelRatio() / 2, sprite.height() / sprite.devicePixelRatio() / 2);
        for (const QPointF& at : dots)
            painter.drawImage(at - half, sprite);
    }
    painter.restore();
}

QImage MakeLabelSprite(const MapLabel& label, const QFont& font, double devicePixelRatio)
{
    const double pad = LabelHaloPad();
    const QSizeF logical(label.size.width() + 2 * pad, label.size.height() + 2 * pad);
    QImage sprite(QSize(int(std::ceil(logical.width() * devicePixelRatio)),
                        int(std::ceil(logical.height() * devicePixelRatio))),
                  QImage::Format_ARGB32_Premultiplied);
    sprite.setDevicePixelRatio(devicePixelRatio);
    sprite.fill(Qt::transparent);
    QPainterPath path;
    path.addText(pad, pad + QFontMetricsF(font).ascent(), font, label.text);
    QPainter p(&sprite);
    p.setRenderHint(QPainter::Antialiasing);
    p.strokePath(path, QPen(QColor(255, 255, 255, 230), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.fillPath(path, label.colour);
    return sprite;
}

LabelPlacer::LabelPlacer(int width, int height)
    : columns_(std::max(1, (width + kCell - 1) / kCell)),
      rows_(std::max(1, (height + kCell - 1) / kCell)),
      cells_(size_t(columns_) * size_t(rows_))
{
}

bool LabelPlacer::TryPlace(const QRectF& rect)
{
    const int c0 = std::clamp(int(std::floor(rect.left() / kCell)), 0, columns_ - 1);
    const int c1 = std::clamp(int(std::floor(rect.right() / kCell)), 0, columns_ - 1);
    const int r0 = std::clamp(int(std::floor(rect.top() / kCell)), 0, rows_ - 1);
    const int r1 = std::clamp(int(std::floor(rect.bottom() / kCell)), 0, rows_ - 1);
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c)
            for (const QRectF& other : cells_[size_t(r) * size_t(columns_) + size_t(c)])
                if (other.intersects(rect))
                    return false;
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c)
            cells_[size_t(r) * size_t(columns_) + size_t(c)].push_back(rect);
    return true;
}

}  // namespace quorvel
