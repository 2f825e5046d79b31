#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QFrame>
#include <QLocale>

#include "map/MapView.h"
#include "rain/Durations.h"
#include "rain/PointRun.h"

class QAction;
class QGridLayout;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTableWidget;

namespace quorvel {

class DurationsView;

class Desktop;
class RainChart;
class ReportPreview;
class Reporter;

// What the grids hold under the map's pointer: the point in whole metres and
// its values, or why there are none.
struct PointerReading {
    GaussBoagaPoint point;
    std::optional<PointRain> rain;
    QString note;  // without values: why, in a few words
};

// The "Risultati" pane beside the map. On top, apart from the runs, the row
// "Sotto il puntatore": the values of the point under the map's pointer, or
// of the picked point while its dialog is open. Below it every successful run
// since the program started, newest first, then a chart of the quantiles of
// the pointer (dashed) and of the selected rows, each row marked with its
// curve's colour. The rows show the quantiles first, to one decimal, then the
// point, the cell and the parameters; copies and exports carry the exact
// single-precision values, in the order report, point, cell, parameters,
// quantiles.
class ResultsPane : public QFrame {
    Q_OBJECT

public:
    ResultsPane(Reporter& reporter, Desktop& desktop, QWidget* parent = nullptr);

    void SetDesktop(Desktop& desktop) { desktop_ = &desktop; }

    // Writes the PDF sheet of a run to a path; throws Error. The program gives
    // it, so that the pane draws no map itself; without it there is no
    // "Esporta PDF…".
    using SheetWriter = std::function<void(const PointRunResult& run, const std::string& path)>;
    void SetSheetWriter(SheetWriter writer);

    // Puts the run on top and selects it alone. An earlier row whose report
    // file the run has replaced is marked "sostituito".
    void AddRun(const PointRunResult& run);
    // Newest first, in the table's order.
    const std::vector<PointRunResult>& Runs() const { return runs_; }
    // Whether the report file of that row has been replaced by a later run.
    bool Replaced(std::size_t row) const { return replaced_.at(row); }
    // The rows marked on the map: all of them, the newest and the selected ones strong.
    std::vector<RunMark> Marks() const;

    // The row "Sotto il puntatore"; nothing clears it.
    void ShowPointer(const PointerReading& reading);
    const std::optional<PointerReading>& Pointer() const { return pointer_; }

    // The selected rows as tab-separated text with a header line, numbers with
    // the locale's decimal separator: what "Copia" puts on the clipboard.
    QString CopyText(const QLocale& locale = QLocale()) const;
    // The whole list as CSV: comma-separated with a decimal point, or, for
    // spreadsheets set to Italian, semicolon-separated with a decimal comma
    // and a byte order mark; the last column says whether the row's report has
    // been replaced ("sì" or "no"). What "Esporta CSV…" saves.
    std::string CsvText(bool italian = false) const;

    QTableWidget* Table() const { return table_; }
    QTableWidget* PointerTable() const { return pointerTable_; }
    RainChart* Chart() const { return chart_; }
    // The tabs "Grafico" and "Report" below the runs, and the latter's table.
    QTabWidget* Views() const { return views_; }
    ReportPreview* Preview() const { return preview_; }

signals:
    // The rows or the selection changed: the map's marks must follow.
    void MarksChanged();
    // The user asked to see the run of that row on the map.
    void ZoomRequested(const PointRunResult& run);
    // The pane's close button was pressed.
    void CloseRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPushButton* AddButton(const QString& text, const QString& tooltip);
    void ArrangeButtons();
    int CellMargins() const;
    QFont TableFont(double scale) const;
    int HeaderMargins() const;
    int QuantileWidth(const QFont& letters) const;
    void FitFont();
    void FitColumns(const QFont& narrow);
    int LongestName() const;
    void SpreadColumns();
    void OpenReport();
    void OpenFolder();
    void Copy();
    void ExportCsv();
    void SaveChart();
    void ExportPdf();
    void Clear();
    void SelectionChanged();
    void ShowCurves(bool marks);
    void ShowPreview();
    void ShowDurations();
    std::vector<int> SelectedRows() const;
    QString ReportPath(const PointRunResult& run) const;
    QString OutputFolder() const;

    Reporter& reporter_;
    Desktop* desktop_;
    std::vector<PointRunResult> runs_;
    std::vector<bool> replaced_;
    std::optional<PointerReading> pointer_;
    QGridLayout* buttons_ = nullptr;
    QTableWidget* pointerTable_ = nullptr;
    QTableWidget* table_ = nullptr;
    RainChart* chart_ = nullptr;
    QTabWidget* views_ = nullptr;
    ReportPreview* preview_ = nullptr;
    DurationsView* durations_ = nullptr;
    QScrollArea* durationsPage_ = nullptr;
    std::optional<DurationLaw> law_;
    QPushButton* openReport_ = nullptr;
    QPushButton* openFolder_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* saveChart_ = nullptr;
    QAction* saveChartAction_ = nullptr;  // the chart's own menu
    QAction* savePointer_ = nullptr;  // whether a saved chart holds the pointer's curve
    QPushButton* exportPdf_ = nullptr;
    SheetWriter sheetWriter_;
    bool italianCsv_ = false;  // the format of the last export
    QPushButton* clear_ = nullptr;
    int quantileWidth_ = 0;
    double tableFontScale_ = 0;  // the tables' letters against the pane's; 0 before they are fitted
};

}  // namespace quorvel
