#pragma once

#include <array>
#include <vector>

#include <QChartView>
#include <QColor>
#include <QString>

namespace quorvel {

// One curve of the chart: the seven 1-hour heights of a point, in return-period order.
struct RainCurve {
    QString name;
    std::array<float, 7> heights{};
    QColor colour;
    bool dashed = false;
};

// The colour of the curve at index i: Tableau 10, then black and a dark
// green, so that twelve curves differ in colour, also for colour-blind eyes;
// beyond twelve the colours repeat.
QColor CurveColour(std::size_t i);

// The return periods at which the x axis has its ticks and labels.
inline constexpr std::array<int, 7> kChartPeriods = {2, 5, 10, 20, 50, 100, 200};

// The 1-hour heights against the return period on a logarithmic axis, with a
// tooltip telling the value under the pointer. The chart has no legend of its
// own on screen (the results table marks each row with its curve's colour);
// a saved picture has one.
class RainChart : public QChartView {
    Q_OBJECT

public:
    explicit RainChart(QWidget* parent = nullptr);

    void SetCurves(std::vector<RainCurve> curves);
    const std::vector<RainCurve>& Curves() const { return curves_; }

    // Saves the chart with its legend as PNG or SVG, by the file's extension;
    // the dashed curves only when asked. False when the file cannot be written.
    bool SaveTo(const QString& path, bool dashed) const;

private:
    std::vector<RainCurve> curves_;
};

// Puts curves on chart, with the axes: x the return period (log scale,
// labelled at kChartPeriods), y the height in mm with a nice range. The
// series' tooltips read curves, which must outlive them.
void FillRainChart(QChart& chart, const std::vector<RainCurve>& curves);

}  // namespace quorvel
