#include "window/RainChart.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>

#include <QCategoryAxis>
#include <QChart>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QImage>
#include <QLegend>
#include <QLineSeries>
#include <QLocale>
#include <QPainter>
#include <QSvgGenerator>
#include <QToolTip>
#include <QValueAxis>

namespace quorvel {

namespace {

constexpr std::array<QRgb, 12> kPalette = {
    0x4e79a7, 0xf28e2b, 0xe15759, 0x76b7b2, 0x59a14f, 0xedc948,
    0xb07aa1, 0xff9da7, 0x9c755f, 0xbab0ac, 0x000000, 0x1b5e20,
};

// Margins of the x axis, in return periods: the first and last points are not on the frame.
constexpr double kFirstPeriod = 1.7;
constexpr double kLastPeriod = 240;

// A range of four to six steps of 1, 2, 2.5 or 5 times a power of ten, holding low and high.
struct NiceRange {
    double low, high;
    int ticks;
};

double NiceStep(double span)
{
    for (double power = std::pow(10.0, std::floor(std::log10(span)) - 1);; power *= 10)
        for (const double factor : {1.0, 2.0, 2.5, 5.0})
            if (span / (factor * power) <= 6)
                return factor * power;
}

NiceRange Nice(double low, double high)
{
    if (!(high > low))
        high = low + 1;
    const double step = NiceStep(high - low);
    const double from = std::floor(low / step) * step;
    double to = std::ceil(high / step) * step;
    while ((to - from) / step < 4)
        to += step;
    return {from, to, int(std::lround((to - from) / step)) + 1};
}

void ShowValue(const RainCurve& curve, const QPointF& at)
{
    std::size_t nearest = 0;
    for (std::size_t i = 1; i < kChartPeriods.size(); ++i)
        if (std::abs(std::log10(kChartPeriods[i]) - at.x()) < std::abs(std::log10(kChartPeriods[nearest]) - at.x()))
            nearest = i;
    const QLocale locale;
    QToolTip::showText(QCursor::pos(), QStringLiteral("%1\nT = %2 anni: h = %3 mm")
                                           .arg(curve.name, QString::number(kChartPeriods[nearest]),
                                                locale.toString(curve.heights[nearest], 'f', 1)));
}

void FitHeights(QValueAxis& heights, const std::vector<RainCurve>& curves)
{
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const RainCurve& curve : curves)
        for (const float h : curve.heights) {
            low = std::min(low, double(h));
            high = std::max(high, double(h));
        }
    const NiceRange range = std::isfinite(low) ? Nice(low, high) : Nice(0, 100);
    heights.setRange(range.low, range.high);
    heights.setTickCount(range.ticks);
    heights.setLabelFormat(range.high - range.low < 10 ? QStringLiteral("%.1f") : QStringLiteral("%.0f"));
}

// Whether the curves differ from the shown ones only in their heights.
bool SameCurves(const std::vector<RainCurve>& a, const std::vector<RainCurve>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const RainCurve& x, const RainCurve& y) {
        return x.name == y.name && x.colour == y.colour && x.dashed == y.dashed;
    });
}

}  // namespace

QColor CurveColour(std::size_t i)
{
    return QColor(kPalette[i % kPalette.size()]);
}

void FillRainChart(QChart& chart, const std::vector<RainCurve>& curves)
{
    chart.removeAllSeries();
    // The axes are made once: made afresh at every change, they would lose
    // their labels' room while the pointer moves.
    if (chart.axes().isEmpty()) {
        // The x values are log10(T): a category axis then puts its ticks and
        // labels exactly at the return periods.
        auto* periods = new QCategoryAxis;
        periods->setMin(std::log10(kFirstPeriod));
        periods->setMax(std::log10(kLastPeriod));
        periods->setStartValue(std::log10(kFirstPeriod));
        for (const int period : kChartPeriods)
            periods->append(QString::number(period), std::log10(period));
        periods->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        periods->setTitleText(QStringLiteral("Tempo di ritorno T (anni)"));
        periods->setGridLineVisible(true);
        periods->setTruncateLabels(false);
        auto* heights = new QValueAxis;
        heights->setTitleText(QStringLiteral("h 1 ora (mm)"));
        heights->setGridLineVisible(true);
        // The labels' room is measured once, for the first range: later
        // ranges' labels must not be cut to it.
        heights->setTruncateLabels(false);
        chart.addAxis(periods, Qt::AlignBottom);
        chart.addAxis(heights, Qt::AlignLeft);
    }
    QAbstractAxis* periods = chart.axes(Qt::Horizontal).front();
    auto* heights = static_cast<QValueAxis*>(chart.axes(Qt::Vertical).front());

    FitHeights(*heights, curves);

    for (std::size_t c = 0; c < curves.size(); ++c) {
        const RainCurve& curve = curves[c];
        auto* series = new QLineSeries;
        series->setName(curve.name);
        QPen pen(curve.colour, 2);
        if (curve.dashed)
            pen.setStyle(Qt::DashLine);
        series->setPen(pen);
        series->setPointsVisible(true);
        for (std::size_t i = 0; i < kChartPeriods.size(); ++i)
            series->append(std::log10(kChartPeriods[i]), curve.heights[i]);
        chart.addSeries(series);
        series->attachAxis(periods);
        series->attachAxis(heights);
        QObject::connect(series, &QLineSeries::hovered, series, [&curves, c](const QPointF& at, bool on) {
            if (on && c < curves.size())
                ShowValue(curves[c], at);
            else
                QToolTip::hideText();
        });
    }
}

RainChart::RainChart(QWidget* parent) : QChartView(new QChart, parent)
{
    chart()->legend()->hide();
    chart()->setMargins(QMargins(2, 2, 2, 2));
    setRenderHint(QPainter::Antialiasing);
    FillRainChart(*chart(), curves_);
}

// The pointer's curve changes at every move of the mouse: only its points
// change then, so the chart is not built again.
void RainChart::SetCurves(std::vector<RainCurve> curves)
{
    const bool same = SameCurves(curves, curves_);
    curves_ = std::move(curves);
    if (!same) {
        FillRainChart(*chart(), curves_);
        return;
    }
    const QList<QAbstractSeries*> series = chart()->series();
    for (std::size_t c = 0; c < curves_.size(); ++c) {
        QList<QPointF> points;
        for (std::size_t t = 0; t < kChartPeriods.size(); ++t)
            points.append(QPointF(std::log10(kChartPeriods[t]), curves_[c].heights[t]));
        auto* line = static_cast<QLineSeries*>(series[qsizetype(c)]);
        if (line->points() != points)
            line->replace(points);
    }
    FitHeights(*static_cast<QValueAxis*>(chart()->axes(Qt::Vertical).front()), curves_);
}

bool RainChart::SaveTo(const QString& path, bool dashed) const
{
    std::vector<RainCurve> saved;
    std::copy_if(curves_.begin(), curves_.end(), std::back_inserter(saved),
                 [dashed](const RainCurve& curve) { return dashed || !curve.dashed; });
    constexpr QSize kPicture(1000, 600);
    QGraphicsScene scene;
    auto* chart = new QChart;  // owned by the scene
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), kPicture));
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setShowToolTips(true);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    chart->setBackgroundBrush(Qt::white);
    FillRainChart(*chart, saved);
    scene.setSceneRect(chart->geometry());
    // Outside a view the chart lays out its axes and legend only on these events.
    QCoreApplication::sendPostedEvents();

    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(kPicture);
        svg.setViewBox(QRect(QPoint(0, 0), kPicture));
        svg.setTitle(QStringLiteral("Piogge di 1 ora"));
        QPainter painter;
        if (!painter.begin(&svg))
            return false;
        scene.render(&painter);
        return painter.end();
    }
    QImage image(kPicture, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter);
    painter.end();
    return image.save(path, "PNG");
}

}  // namespace quorvel
