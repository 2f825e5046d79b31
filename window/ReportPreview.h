#pragma once

#include <QTableWidget>

#include "report/SheetPreview.h"

namespace quorvel {

// The first sheet of a report as the report holds it: its used range with the
// stored values in their number formats, the column widths, bold and merged
// cells. Read-only.
class ReportPreview : public QTableWidget {
    Q_OBJECT

public:
    explicit ReportPreview(QWidget* parent = nullptr);

    void Show(const SheetPreview& sheet);
    // A single line instead of a sheet: why there is nothing to show.
    void ShowNote(const QString& note);
};

}  // namespace quorvel
