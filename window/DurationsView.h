#pragma once

#include <optional>
#include <string>

#include <QWidget>

#include "rain/Durations.h"
#include "rain/PointRain.h"
#include "rain/Storm.h"

class QButtonGroup;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace quorvel {

class DurationCurves;
class StormBars;

// The tab "Durate" of the results pane: for the selected run, the heights (or
// intensities) at the usual durations by return period, the log-log
// depth-duration-frequency chart with the pointer's point dashed beside it,
// and the design hyetograph with its CSV and SWMM files.
class DurationsView : public QWidget {
    Q_OBJECT

public:
    explicit DurationsView(QWidget* parent = nullptr);

    // run: the selected run's values (none: nothing selected); pointer: the
    // point under the map's pointer, when it has values.
    void Show(const std::optional<DurationLaw>& law, const std::optional<PointRain>& run, const QString& name,
              const std::optional<PointRain>& pointer);

    // The storm as the controls ask it, of the selected run; none without one.
    std::optional<Hyetograph> Storm() const;
    // The hyetograph file, as quorvel-batch --ietogramma writes it.
    bool SaveStorm(StormFormat format, const QString& path) const;

private:
    void Redraw();
    void RedrawStorm();

    std::optional<DurationLaw> law_;
    std::optional<PointRain> run_, pointer_;
    QLabel* title_;
    QButtonGroup* unit_;
    QTableWidget* table_;
    DurationCurves* curves_;
    QComboBox* period_;
    QLineEdit* duration_;
    QComboBox* step_;
    QComboBox* method_;
    QDoubleSpinBox* peak_;
    QLabel* stormText_;
    StormBars* bars_;
};

}  // namespace quorvel
