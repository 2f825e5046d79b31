#pragma once

#include <string>
#include <vector>

#include <QDockWidget>
#include <QLocale>

#include "map/MapView.h"
#include "rain/PointRun.h"

class QChartView;
class QPushButton;
class QTableWidget;

namespace quorvel {

class Desktop;
class Reporter;

// The "Risultati" pane: every successful run since the program started,
// newest first, a chart of the selected rows' quantiles against the return
// period, and the actions on them. The table shows the quantiles to one
// decimal; copies and exports carry the exact single-precision values.
class ResultsPane : public QDockWidget {
    Q_OBJECT

public:
    ResultsPane(Reporter& reporter, Desktop& desktop, QWidget* parent = nullptr);

    void SetDesktop(Desktop& desktop) { desktop_ = &desktop; }

    // Puts the run on top and selects it alone.
    void AddRun(const PointRunResult& run);
    // Newest first, in the table's order.
    const std::vector<PointRunResult>& Runs() const { return runs_; }
    // The rows marked on the map: all of them, the newest and the selected ones strong.
    std::vector<RunMark> Marks() const;

    // The selected rows as tab-separated text with a header line, numbers with
    // the locale's decimal separator: what "Copia" puts on the clipboard.
    QString CopyText(const QLocale& locale = QLocale()) const;
    // The whole list as comma-separated text with a decimal point: what "Esporta CSV…" saves.
    std::string CsvText() const;

    QTableWidget* Table() const { return table_; }
    QChartView* Chart() const { return chart_; }

signals:
    // The rows or the selection changed: the map's marks must follow.
    void MarksChanged();
    // The user asked to see the run of that row on the map.
    void ZoomRequested(const PointRunResult& run);

private:
    void OpenReport();
    void OpenFolder();
    void Copy();
    void ExportCsv();
    void Clear();
    void SelectionChanged();
    std::vector<int> SelectedRows() const;
    QString ReportPath(const PointRunResult& run) const;
    QString OutputFolder() const;

    Reporter& reporter_;
    Desktop* desktop_;
    std::vector<PointRunResult> runs_;
    QTableWidget* table_ = nullptr;
    QChartView* chart_ = nullptr;
    QPushButton* openReport_ = nullptr;
    QPushButton* openFolder_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* clear_ = nullptr;
};

}  // namespace quorvel
