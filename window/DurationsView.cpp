#include "window/DurationsView.h"

#include <algorithm>
#include <cmath>

#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "rain/Error.h"

namespace quorvel {

namespace {

const double kUsualHours[] = {10.0 / 60, 15.0 / 60, 0.5, 1, 3, 6, 12, 24};
const double kTicks[] = {10.0 / 60, 0.5, 1, 3, 6, 12, 24};
const QColor kPeriodColours[] = {QColor(0x4e, 0x79, 0xa7), QColor(0x59, 0xa1, 0x4f), QColor(0xed, 0xc9, 0x48),
                                 QColor(0xf2, 0x8e, 0x2b), QColor(0xe1, 0x57, 0x59), QColor(0xb0, 0x7a, 0xa1),
                                 QColor(0x76, 0x16, 0x0e)};

QString Label(double hours)
{
    return QString::fromStdString(DurationText(hours)).replace(u'.', u',');
}

}  // namespace

// Depth (or intensity) against duration on log-log axes, a curve per return
// period; the pointer's point dashed.
class DurationCurves : public QWidget {
public:
    DurationLaw law;
    std::optional<PointRain> run, pointer;
    bool perHour = false;

    DurationCurves() { setMinimumSize(260, 200); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (!run && !pointer)
            return;
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF plot = QRectF(rect()).adjusted(52, 10, -90, -34);
        const double x0 = std::log(law.MinHours()), x1 = std::log(law.MaxHours());
        const auto value = [&](const PointRain& rain, std::size_t t, double hours) {
            const double depth = DepthAt(law, rain.quantiles.InOrder()[t], rain.a2, hours);
            return perHour ? depth / hours : depth;
        };
        double low = 1e300, high = 0;
        for (const auto& rain : {run, pointer})
            if (rain)
                for (std::size_t t = 0; t < 7; ++t)
                    for (const double hours : {law.MinHours(), law.MaxHours()}) {
                        low = std::min(low, value(*rain, t, hours));
                        high = std::max(high, value(*rain, t, hours));
                    }
        const double y0 = std::log10(low) - 0.05, y1 = std::log10(high) + 0.05;
        const auto at = [&](double hours, double v) {
            return QPointF(plot.left() + (std::log(hours) - x0) / (x1 - x0) * plot.width(),
                           plot.bottom() - (std::log10(v) - y0) / (y1 - y0) * plot.height());
        };
        painter.setPen(QColor(0xe3, 0xe3, 0xe3));
        const QLocale locale;
        for (const double tick : kTicks) {
            if (tick < law.MinHours() - 1e-9 || tick > law.MaxHours() + 1e-9)
                continue;
            const double x = at(tick, high).x();
            painter.setPen(QColor(0xe3, 0xe3, 0xe3));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(x - 30, plot.bottom() + 2, 60, 14), Qt::AlignHCenter, Label(tick));
        }
        for (double decade = std::floor(y0); decade <= y1; ++decade)
            for (const int m : {1, 2, 5}) {
                const double v = m * std::pow(10.0, decade);
                if (std::log10(v) < y0 || std::log10(v) > y1)
                    continue;
                const double y = at(1, v).y();
                painter.setPen(QColor(0xe3, 0xe3, 0xe3));
                painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
                painter.setPen(Qt::black);
                painter.drawText(QRectF(0, y - 7, plot.left() - 4, 14), Qt::AlignRight, locale.toString(v));
            }
        painter.drawRect(plot);
        painter.drawText(QRectF(plot.left(), plot.bottom() + 16, plot.width(), 16), Qt::AlignHCenter,
                         QStringLiteral("Durata"));
        painter.save();
        painter.translate(10, plot.center().y());
        painter.rotate(-90);
        painter.drawText(QRectF(-80, -6, 160, 14), Qt::AlignHCenter,
                         perHour ? QStringLiteral("Intensità (mm/h)") : QStringLiteral("Altezza (mm)"));
        painter.restore();
        for (std::size_t t = 0; t < 7; ++t) {
            for (const auto& [rain, dashed] : {std::pair{run, false}, std::pair{pointer, true}}) {
                if (!rain)
                    continue;
                QPainterPath path;
                for (int i = 0; i <= 48; ++i) {
                    const double hours = std::exp(x0 + (x1 - x0) * i / 48);
                    const QPointF point = at(hours, value(*rain, t, hours));
                    i == 0 ? path.moveTo(point) : path.lineTo(point);
                }
                painter.setPen(QPen(kPeriodColours[t], 2, dashed ? Qt::DashLine : Qt::SolidLine));
                painter.drawPath(path);
            }
            const double y = plot.top() + 6 + 16 * double(t);
            painter.setPen(QPen(kPeriodColours[t], 3));
            painter.drawLine(QPointF(plot.right() + 8, y), QPointF(plot.right() + 26, y));
            painter.setPen(Qt::black);
            painter.drawText(QPointF(plot.right() + 30, y + 4), QStringLiteral("T %1").arg(kReturnPeriods[t]));
        }
    }
};

// The hyetograph's intensities as bars against the time from the start.
class StormBars : public QWidget {
public:
    std::optional<Hyetograph> storm;

    StormBars() { setMinimumSize(260, 150); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (!storm)
            return;
        const QRectF plot = QRectF(rect()).adjusted(52, 8, -12, -32);
        const double top = storm->PeakIntensity() * 1.1;
        const double minutes = double(storm->depths.size() * std::size_t(storm->stepMinutes));
        const QLocale locale;
        for (int i = 0; i <= 4; ++i) {
            const double y = plot.bottom() - plot.height() * i / 4;
            painter.setPen(QColor(0xe3, 0xe3, 0xe3));
            painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(0, y - 7, plot.left() - 4, 14), Qt::AlignRight,
                             locale.toString(top * i / 4, 'f', 0));
        }
        for (std::size_t k = 0; k < storm->depths.size(); ++k) {
            const double left = plot.left() + plot.width() * double(k) * storm->stepMinutes / minutes;
            const double width = plot.width() * storm->stepMinutes / minutes;
            const double height = plot.height() * storm->Intensity(k) / top;
            painter.fillRect(QRectF(left, plot.bottom() - height, width, height), QColor(11, 92, 173, 150));
        }
        painter.setPen(Qt::black);
        painter.drawRect(plot);
        for (int i = 0; i <= 4; ++i)
            painter.drawText(QRectF(plot.left() + plot.width() * i / 4 - 30, plot.bottom() + 2, 60, 14),
                             Qt::AlignHCenter, locale.toString(minutes * i / 4, 'f', 0));
        painter.drawText(QRectF(plot.left(), plot.bottom() + 16, plot.width(), 16), Qt::AlignHCenter,
                         QStringLiteral("Tempo dall'inizio (min) · Intensità (mm/h)"));
    }
};

DurationsView::DurationsView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel;
    layout->addWidget(title_);
    auto* units = new QHBoxLayout;
    unit_ = new QButtonGroup(this);
    auto* depth = new QRadioButton(QStringLiteral("Altezza (mm)"));
    auto* intensity = new QRadioButton(QStringLiteral("Intensità (mm/h)"));
    depth->setChecked(true);
    unit_->addButton(depth, 0);
    unit_->addButton(intensity, 1);
    units->addWidget(depth);
    units->addWidget(intensity);
    units->addStretch();
    layout->addLayout(units);
    table_ = new QTableWidget(0, 7);
    table_->setObjectName(QStringLiteral("DurateTabella"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList periods;
    for (const int t : kReturnPeriods)
        periods << QStringLiteral("T %1").arg(t);
    table_->setHorizontalHeaderLabels(periods);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    layout->addWidget(table_, 2);
    curves_ = new DurationCurves;
    layout->addWidget(curves_, 3);

    auto* stormTitle = new QLabel(QStringLiteral("<b>Ietogramma di progetto</b>"));
    layout->addWidget(stormTitle);
    auto* controls = new QHBoxLayout;
    period_ = new QComboBox;
    for (const int t : kReturnPeriods)
        period_->addItem(QStringLiteral("T %1").arg(t), t);
    period_->setCurrentIndex(5);
    duration_ = new QLineEdit(QStringLiteral("1"));
    duration_->setToolTip(QStringLiteral("Durata: ore, o minuti con \"min\""));
    duration_->setMaximumWidth(70);
    step_ = new QComboBox;
    for (const int step : kStormSteps)
        step_->addItem(QStringLiteral("%1 min").arg(step), step);
    step_->setCurrentIndex(1);
    method_ = new QComboBox;
    method_->addItem(QStringLiteral("Chicago"));
    method_->addItem(QStringLiteral("Blocchi alternati"));
    peak_ = new QDoubleSpinBox;
    peak_->setRange(0, 1);
    peak_->setSingleStep(0.05);
    peak_->setValue(0.4);
    peak_->setToolTip(QStringLiteral("Posizione del picco"));
    controls->addWidget(period_);
    controls->addWidget(new QLabel(QStringLiteral("Durata")));
    controls->addWidget(duration_);
    controls->addWidget(step_);
    controls->addWidget(method_);
    controls->addWidget(new QLabel(QStringLiteral("Posizione del picco")));
    controls->addWidget(peak_);
    layout->addLayout(controls);
    stormText_ = new QLabel;
    stormText_->setObjectName(QStringLiteral("IetogrammaTesto"));
    layout->addWidget(stormText_);
    bars_ = new StormBars;
    layout->addWidget(bars_, 2);
    auto* saves = new QHBoxLayout;
    for (const auto& [text, format] : {std::pair{QStringLiteral("Salva CSV…"), StormFormat::Csv},
                                       {QStringLiteral("Salva SWMM [TIMESERIES]…"), StormFormat::SwmmTimeseries},
                                       {QStringLiteral("Salva file pluviometro SWMM…"), StormFormat::SwmmRainFile}}) {
        auto* button = new QPushButton(text);
        connect(button, &QPushButton::clicked, this, [this, format] {
            const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Salva ietogramma"), {},
                                                              QString::fromLatin1(StormExtension(format)));
            if (!path.isEmpty() && !SaveStorm(format, path))
                stormText_->setText(QStringLiteral("Impossibile salvare %1").arg(path));
        });
        saves->addWidget(button);
    }
    saves->addStretch();
    layout->addLayout(saves);

    connect(unit_, &QButtonGroup::idClicked, this, &DurationsView::Redraw);
    for (QComboBox* box : {period_, step_, method_})
        connect(box, &QComboBox::currentIndexChanged, this, &DurationsView::RedrawStorm);
    connect(duration_, &QLineEdit::editingFinished, this, &DurationsView::RedrawStorm);
    connect(peak_, &QDoubleSpinBox::valueChanged, this, &DurationsView::RedrawStorm);
}

void DurationsView::Show(const std::optional<DurationLaw>& law, const std::optional<PointRain>& run,
                         const QString& name, const std::optional<PointRain>& pointer)
{
    law_ = law;
    run_ = run;
    pointer_ = pointer;
    title_->setText(run ? QStringLiteral("Riga selezionata: <b>%1</b> (tratteggio: sotto il puntatore)").arg(name.toHtmlEscaped())
                        : QStringLiteral("Selezionare una riga per vederne le durate."));
    Redraw();
}

void DurationsView::Redraw()
{
    const bool perHour = unit_->checkedId() == 1;
    std::vector<double> hours;
    if (law_)
        for (const double d : kUsualHours)
            if (d >= law_->MinHours() - 1e-12 && d <= law_->MaxHours() + 1e-12)
                hours.push_back(d);
    table_->setRowCount(run_ ? int(hours.size()) : 0);
    QStringList labels;
    const QLocale locale;
    for (std::size_t r = 0; run_ && r < hours.size(); ++r) {
        labels << Label(hours[r]);
        const auto heights = run_->quantiles.InOrder();
        for (std::size_t t = 0; t < 7; ++t) {
            const float shown = perHour ? IntensityValue(*law_, heights[t], run_->a2, hours[r])
                                        : DepthValue(*law_, heights[t], run_->a2, hours[r]);
            auto* item = new QTableWidgetItem(locale.toString(shown, 'f', 1));
            item->setData(Qt::UserRole, shown);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(int(r), int(t), item);
        }
    }
    table_->setVerticalHeaderLabels(labels);
    if (law_)
        curves_->law = *law_;
    curves_->run = law_ ? run_ : std::nullopt;
    curves_->pointer = law_ ? pointer_ : std::nullopt;
    curves_->perHour = perHour;
    curves_->update();
    RedrawStorm();
}

std::optional<Hyetograph> DurationsView::Storm() const
{
    if (!law_ || !run_)
        return std::nullopt;
    const std::vector<Duration> duration = ParseDurations(duration_->text().replace(u',', u'.').toStdString());
    const StormSpec spec{duration.front().hours, step_->currentData().toInt(),
                         method_->currentIndex() == 0 ? StormMethod::Chicago : StormMethod::AlternatingBlocks,
                         peak_->value()};
    return DesignStorm(*law_, run_->quantiles.InOrder()[std::size_t(period_->currentIndex())], run_->a2, spec);
}

bool DurationsView::SaveStorm(StormFormat format, const QString& path) const
{
    const std::optional<Hyetograph> storm = Storm();
    if (!storm)
        return false;
    const std::string text = StormText(*storm, format, "Quorvel", {});
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

void DurationsView::RedrawStorm()
{
    peak_->setEnabled(method_->currentIndex() == 0);
    try {
        bars_->storm = Storm();
        const QLocale locale;
        stormText_->setText(bars_->storm ? QStringLiteral("Altezza totale h(D, T): %1 mm · Intensità di picco: %2 mm/h")
                                               .arg(locale.toString(float(bars_->storm->total), 'f', 1),
                                                    locale.toString(float(bars_->storm->PeakIntensity()), 'f', 1))
                                         : QString());
    } catch (const Error& error) {
        bars_->storm.reset();
        stormText_->setText(QString::fromStdString(error.italianDetail()));
    }
    bars_->update();
}

}  // namespace quorvel
