#include "window/ReportPreview.h"

#include <QHeaderView>
#include <QLocale>

namespace quorvel {
namespace {

// Columns and rows are named as a spreadsheet names them.
QString ColumnName(int column)
{
    QString name;
    for (++column; column > 0; column = (column - 1) / 26)
        name.prepend(QChar(u'A' + (column - 1) % 26));
    return name;
}

// The report's formats write numbers the English way; the preview writes them
// as the user's spreadsheet would.
QString Localised(const QString& number, const QLocale& locale)
{
    if (locale.decimalPoint() != QStringLiteral(","))
        return number;
    QString swapped = number;
    for (QChar& c : swapped)
        c = c == u'.' ? u',' : c == u',' ? u'.' : c;
    return swapped;
}

}  // namespace

ReportPreview::ReportPreview(QWidget* parent) : QTableWidget(parent)
{
    setObjectName(QStringLiteral("ReportPreview"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setWordWrap(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
}

void ReportPreview::Show(const SheetPreview& sheet)
{
    clearSpans();
    clear();
    setRowCount(sheet.rows);
    setColumnCount(sheet.columns);
    QStringList names;
    for (int column = 0; column < sheet.columns; ++column)
        names << ColumnName(column);
    setHorizontalHeaderLabels(names);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int column = 0; column < sheet.columns; ++column)
        setColumnWidth(column, int(sheet.columnWidths[std::size_t(column)] * digit + 0.5));
    const QLocale locale;
    for (const PreviewCell& cell : sheet.cells) {
        const QString text = QString::fromStdU16String(cell.text);
        auto* item = new QTableWidgetItem(cell.number ? Localised(text, locale) : text);
        item->setTextAlignment(Qt::AlignVCenter | (cell.number ? Qt::AlignRight : Qt::AlignLeft));
        if (cell.bold) {
            QFont bold = item->font();
            bold.setBold(true);
            item->setFont(bold);
        }
        item->setToolTip(item->text());
        setItem(cell.row, cell.column, item);
    }
    for (const PreviewRange& range : sheet.merged) {
        if (range.rowLast > range.rowFirst || range.columnLast > range.columnFirst)
            setSpan(range.rowFirst, range.columnFirst, range.rowLast - range.rowFirst + 1,
                    range.columnLast - range.columnFirst + 1);
    }
}

void ReportPreview::ShowNote(const QString& note)
{
    clearSpans();
    clear();
    setRowCount(1);
    setColumnCount(1);
    setHorizontalHeaderLabels({QString()});
    setItem(0, 0, new QTableWidgetItem(note));
    setColumnWidth(0, std::max(viewport()->width(), fontMetrics().horizontalAdvance(note) + 12));
}

}  // namespace quorvel
