#include "map/MapOverlay.h"

#include "map/GdalLayers.h"
#include "map/ViewTransform.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr int kMargin = 10;           // pixels between the bar and the map's edges
constexpr double kBarMaxPixels = 120;  // and never more than a third of the map
constexpr int kBarHeight = 4;
const QColor kHighlightColour(255, 170, 0);

QString Metres(double value)
{
    // The interface is Italian: a decimal comma, should a bar ever be that short.
    return QString::number(value, 'g', 6).replace(u'.', u',');
}

}  // namespace

ScaleBar ChooseScaleBar(double unitsPerPixel, double maxPixels)
{
    const double longest = unitsPerPixel * maxPixels;
    if (!(longest > 0) || !std::isfinite(longest))
        return {};
    double decade = std::pow(10.0, std::floor(std::log10(longest)));
    // log10 may land a hair below a whole power of ten.
    if (decade * 10 <= longest * (1 + 1e-12))
        decade *= 10;
    double metres = decade;
    for (const double step : {5.0, 2.0})
        if (step * decade <= longest * (1 + 1e-12)) {
            metres = step * decade;
            break;
        }
    ScaleBar bar;
    bar.metres = metres;
    bar.pixels = metres / unitsPerPixel;
    bar.text = metres >= 1000 ? Metres(metres / 1000) + QStringLiteral(" km") : Metres(metres) + QStringLiteral(" m");
    return bar;
}

void DrawScaleBar(QPainter& painter, const ViewTransform& view)
{
    const ScaleBar bar = ChooseScaleBar(view.UnitsPerPixel(), std::min(kBarMaxPixels, view.Width() / 3.0));
    const int length = int(std::lround(bar.pixels));
    if (length < 1)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QFont font = painter.font();
    font.setPointSizeF(8);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const int barTop = view.Height() - kMargin - kBarHeight;
    const QRect barRect(kMargin, barTop, length, kBarHeight);
    const double textWidth = metrics.horizontalAdvance(bar.text);
    const QRectF back(kMargin - 4, barTop - metrics.height() - 5, std::max<double>(length, textWidth) + 8,
                      metrics.height() + kBarHeight + 8);
    painter.fillRect(back, QColor(255, 255, 255, 190));
    painter.fillRect(barRect, Qt::black);
    painter.setPen(Qt::black);
    painter.drawText(QPointF(kMargin, barTop - 3 - metrics.descent()), bar.text);
    painter.restore();
}

void DrawHighlight(QPainter& painter, const ShapeData& shape, const ViewTransform& view)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    std::vector<QPolygonF> pixels;
    for (const QPolygonF& part : shape.parts) {
        QPolygonF out;
        out.reserve(part.size());
        for (const QPointF& p : part) {
            double px, py;
            view.MapToPixel(p.x(), p.y(), px, py);
            out.append(QPointF(px, py));
        }
        pixels.push_back(std::move(out));
    }
    // A dark halo under a bright line, so the outline shows on any ground.
    for (const QPen& pen : {QPen(QColor(0, 0, 0, 120), 6.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin),
                            QPen(kHighlightColour, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)}) {
        painter.setPen(pen);
        for (const QPolygonF& part : pixels) {
            if (shape.kind == ShapeKind::Point) {
                for (const QPointF& p : part)
                    painter.drawEllipse(p, 6.0, 6.0);
            } else {
                painter.drawPolyline(part);
            }
        }
    }
    painter.restore();
}

void DrawHighlightedName(QPainter& painter, const QString& name, double x, double y, const ViewTransform& view,
                         const QFont& font)
{
    if (name.isEmpty())
        return;
    double px, py;
    view.MapToPixel(x, y, px, py);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(name) + 10;
    const double height = metrics.height() + 4;
    const QRectF box(px - width / 2, py - 10 - height, width, height);
    painter.setPen(QPen(QColor(0, 0, 0, 160), 1.0));
    painter.setBrush(kHighlightColour);
    painter.drawRoundedRect(box, 4, 4);
    painter.setPen(Qt::black);
    painter.drawText(box, Qt::AlignCenter, name);
    painter.restore();
}

OverlayNames::OverlayNames()
{
    font_.setPointSizeF(13);
    font_.setBold(true);
}

void OverlayNames::Set(const std::vector<OverlayLabel>& labels, double minViewWidth)
{
    names_.clear();
    for (const OverlayLabel& label : labels)
        if (!label.text.empty())
            names_.push_back({label, {}, {}});
    minWidth_ = minViewWidth;
}

void OverlayNames::Draw(QPainter& painter, const ViewTransform& view)
{
    const MapExtents shown = view.Extents();
    if (!(shown.xMax - shown.xMin > minWidth_))
        return;
    const double dpr = painter.device()->devicePixelRatioF();
    const QFontMetricsF metrics(font_);
    constexpr double kPad = 3;  // room for the halo
    for (Name& name : names_) {
        if (name.sprite.isNull() || name.sprite.devicePixelRatio() != dpr) {
            const QString text = QString::fromStdString(name.label.text);
            const double width = metrics.horizontalAdvance(text);
            const QSizeF logical(width + 2 * kPad, metrics.height() + 2 * kPad);
            name.sprite = QImage(QSize(int(std::ceil(logical.width() * dpr)), int(std::ceil(logical.height() * dpr))),
                                 QImage::Format_ARGB32_Premultiplied);
            name.sprite.setDevicePixelRatio(dpr);
            name.sprite.fill(Qt::transparent);
            QPainterPath path;
            path.addText(kPad, kPad + metrics.ascent(), font_, text);
            QPainter p(&name.sprite);
            p.setRenderHint(QPainter::Antialiasing);
            p.strokePath(path, QPen(QColor(255, 255, 255, 120), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.fillPath(path, QColor(70, 40, 40, 140));
            // From the anchor to the sprite's corner: the text centred on it.
            name.offset = QPointF(-width / 2 - kPad, (metrics.ascent() - metrics.descent()) / 2 - metrics.ascent() - kPad);
        }
        double px, py;
        view.MapToPixel(name.label.x, name.label.y, px, py);
        painter.drawImage(QPointF(std::round(px + name.offset.x()), std::round(py + name.offset.y())), name.sprite);
    }
}

}  // namespace quorvel
