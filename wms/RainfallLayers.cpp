#include "wms/RainfallLayers.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quorvel {

namespace {

// Over the relief the colours keep some of its shading.
constexpr int kAlpha = 215;

std::string Text(float value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, written.ptr);
}

// The deciles of the values, rounded to a step of about a hundredth of their
// range, so the legend reads in round numbers; each break above the last.
RainfallLayers::Scale ScaleOf(std::vector<float> values, const char* unit)
{
    RainfallLayers::Scale scale;
    scale.unit = unit;
    if (values.empty())
        return scale;
    std::sort(values.begin(), values.end());
    const double range = double(values.back()) - double(values.front());
    const double step = range > 0 ? std::pow(10.0, std::floor(std::log10(range)) - 1) : 1.0;
    double last = -1e30;
    for (int k = 1; k < RainfallLayers::kClasses; ++k) {
        const double at = double(values[values.size() * std::size_t(k) / RainfallLayers::kClasses]);
        double rounded = std::round(at / step) * step;
        if (rounded <= last)
            rounded = last + step;
        scale.breaks[std::size_t(k - 1)] = float(rounded);
        last = rounded;
    }
    return scale;
}

std::uint8_t ClassOf(const RainfallLayers::Scale& scale, float value)
{
    if (value == kGridMapNoData)
        return 255;
    return std::uint8_t(std::upper_bound(scale.breaks.begin(), scale.breaks.end(), value) - scale.breaks.begin());
}

std::vector<float> WithData(const std::vector<float>& values)
{
    std::vector<float> kept;
    std::copy_if(values.begin(), values.end(), std::back_inserter(kept), [](float v) { return v != kGridMapNoData; });
    return kept;
}

}  // namespace

const std::vector<RainfallLayers::Layer>& RainfallLayers::Layers()
{
    static const std::vector<Layer> layers = {
        {"pioggia_T2", "Pioggia di progetto, 1 ora, T = 2 anni", 3},
        {"pioggia_T5", "Pioggia di progetto, 1 ora, T = 5 anni", 4},
        {"pioggia_T10", "Pioggia di progetto, 1 ora, T = 10 anni", 5},
        {"pioggia_T20", "Pioggia di progetto, 1 ora, T = 20 anni", 6},
        {"pioggia_T50", "Pioggia di progetto, 1 ora, T = 50 anni", 7},
        {"pioggia_T100", "Pioggia di progetto, 1 ora, T = 100 anni", 8},
        {"pioggia_T200", "Pioggia di progetto, 1 ora, T = 200 anni", 9},
        {"a2", "Parametro a2", 0},
    };
    return layers;
}

const RainfallLayers::Layer* RainfallLayers::Find(const std::string& name)
{
    for (const Layer& layer : Layers())
        if (name == layer.name)
            return &layer;
    return nullptr;
}

const std::array<QRgb, RainfallLayers::kClasses>& RainfallLayers::Ramp()
{
    // viridis: ordered in lightness and told apart with any colour vision.
    static const std::array<QRgb, kClasses> ramp = {0x440154, 0x472d7b, 0x3b528b, 0x2c728e, 0x21918c,
                                                    0x28ae80, 0x5ec962, 0xaddc30, 0xfde725};
    return ramp;
}

RainfallLayers::RainfallLayers(std::string folder)
    : grids_(folder.empty() || folder.back() == '/' ? folder : folder + "/")
{
}

std::shared_ptr<const RainfallLayers::Classes> RainfallLayers::Current()
{
    const auto grids = grids_.Current();
    std::lock_guard lock(mutex_);
    if (grids == source_ && classes_)
        return classes_;
    auto classes = std::make_shared<Classes>();
    classes->maps = GridMaps::Compute(*grids);
    std::vector<float> pooled;
    for (std::size_t map = kFirstQuantileMap; map < kGridMapNames.size(); ++map) {
        const std::vector<float> kept = WithData(classes->maps.values[map]);
        pooled.insert(pooled.end(), kept.begin(), kept.end());
    }
    classes->quantiles = ScaleOf(std::move(pooled), "mm");
    classes->a2 = ScaleOf(WithData(classes->maps.values[0]), "");
    for (const Layer& layer : Layers()) {
        const Scale& scale = classes->ScaleOf(layer.map);
        auto& cells = classes->cells[layer.map];
        for (const float value : classes->maps.values[layer.map])
            cells.push_back(ClassOf(scale, value));
    }
    source_ = grids;
    classes_ = std::move(classes);
    return classes_;
}

QImage RainfallLayers::Colours(const Classes& classes, std::size_t map, const MapExtents& box, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const GridMaps& maps = classes.maps;
    const auto& cells = classes.cells[map];
    if (cells.empty())
        return image;
    std::array<QRgb, kClasses> colours;
    for (int k = 0; k < kClasses; ++k)
        colours[std::size_t(k)] = qPremultiply(qRgba(qRed(Ramp()[std::size_t(k)]), qGreen(Ramp()[std::size_t(k)]),
                                                     qBlue(Ramp()[std::size_t(k)]), kAlpha));
    // The cell column of each pixel column and the cell row of each pixel
    // row, -1 outside the grid.
    std::vector<int> columnOf(std::size_t(width), -1), rowOf(std::size_t(height), -1);
    const double sx = (box.xMax - box.xMin) / width, sy = (box.yMax - box.yMin) / height;
    for (int i = 0; i < width; ++i) {
        const double c = std::floor((box.xMin + (i + 0.5) * sx - kGridWestEdge) / kGridCellSize);
        if (c >= 0 && c < maps.columns)
            columnOf[std::size_t(i)] = int(c);
    }
    for (int j = 0; j < height; ++j) {
        const double r = std::floor((kGridNorthEdge - (box.yMax - (j + 0.5) * sy)) / kGridCellSize);
        if (r >= 0 && r < maps.rows)
            rowOf[std::size_t(j)] = int(r);
    }
    for (int j = 0; j < height; ++j) {
        if (rowOf[std::size_t(j)] < 0)
            continue;
        const std::uint8_t* row = cells.data() + std::size_t(rowOf[std::size_t(j)]) * std::size_t(maps.columns);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(j));
        for (int i = 0; i < width; ++i) {
            const int column = columnOf[std::size_t(i)];
            if (column >= 0 && row[column] != 255)
                line[i] = colours[row[column]];
        }
    }
    return image;
}

std::vector<QString> RainfallLayers::LegendLabels(const Classes& classes, const Layer& layer)
{
    const Scale& scale = classes.ScaleOf(layer.map);
    std::vector<QString> labels;
    const QString unit = *scale.unit ? QStringLiteral(" ") + QString::fromLatin1(scale.unit) : QString();
    for (int k = 0; k < kClasses; ++k) {
        const QString low = k > 0 ? QString::fromStdString(Text(scale.breaks[std::size_t(k - 1)])) : QString();
        const QString high = k < kClasses - 1 ? QString::fromStdString(Text(scale.breaks[std::size_t(k)])) : QString();
        labels.push_back(k == 0 ? QStringLiteral("< ") + high + unit
                         : k == kClasses - 1 ? QStringLiteral("≥ ") + low + unit
                                             : low + QStringLiteral(" – ") + high + unit);
    }
    return labels;
}

QImage RainfallLayers::Legend(const Classes& classes, const Layer& layer)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QFont bold = font;
    bold.setBold(true);
    const int swatch = 16, gap = 4, margin = 6;
    const std::vector<QString> labels = LegendLabels(classes, layer);
    const QString title = QString::fromUtf8(layer.title);
    const QFontMetrics metrics(font), boldMetrics(bold);
    int textWidth = boldMetrics.horizontalAdvance(title) - swatch - gap;
    for (const QString& label : labels)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(label));
    const int titleHeight = boldMetrics.height() + gap;
    QImage image(margin * 3 + swatch + gap + textWidth, margin * 2 + titleHeight + kClasses * (swatch + gap),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    painter.setFont(bold);
    painter.drawText(margin, margin + boldMetrics.ascent(), title);
    painter.setFont(font);
    // Highest class on top, as the colours rise.
    for (int k = kClasses - 1, y = margin + titleHeight; k >= 0; --k, y += swatch + gap) {
        const QRgb colour = Ramp()[std::size_t(k)];
        painter.fillRect(margin, y, swatch, swatch, QColor(qRed(colour), qGreen(colour), qBlue(colour), kAlpha));
        painter.drawRect(margin, y, swatch - 1, swatch - 1);
        painter.drawText(margin + swatch + gap, y + (swatch + metrics.ascent() - metrics.descent()) / 2,
                         labels[std::size_t(k)]);
    }
    return image;
}

}  // namespace quorvel
