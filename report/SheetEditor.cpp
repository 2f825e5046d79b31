// Fills the report's cells into the records of a template's Workbook stream.
// Records the report does not concern are carried over byte for byte.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include "report/Biff.h"
#include "report/CellText.h"
#include "report/Formula.h"
#include "report/Workbook.h"

namespace quorvel {
namespace {

using namespace biff;

constexpr std::uint16_t kDefaultXf = 15;
constexpr int kFittedColumns = 8;  // A to H
// Any text this wide or wider gets the widest column there is (255
// characters, with the padding FitColumns adds): a column that has one
// needs no more measuring.
constexpr double kWidestText = 255 - 1.7;

// A string stored in place (character count, option byte, characters), cut
// where its record ends.
std::u16string UnicodeString(const Bytes& bytes, size_t at)
{
    std::u16string text;
    if (bytes.size() < at + 3) {
        return text;
    }
    const size_t count = U16(bytes, at);
    const bool wide = bytes[at + 2] & 1;
    for (size_t k = 0; k < count && at + 3 + (k + 1) * (wide ? 2 : 1) <= bytes.size(); ++k) {
        text += wide ? static_cast<char16_t>(U16(bytes, at + 3 + 2 * k))
                     : static_cast<char16_t>(bytes[at + 3 + k]);
    }
    return text;
}

// A cell record with the records that belong to it (STRING, SHRFMLA, ...).
struct CellGroup {
    std::uint16_t row = 0;
    std::uint16_t first = 0;  // first and last column it covers
    std::uint16_t last = 0;
    std::vector<Record> records;
};

// The XF index of column col of a cell group: MULRK and MULBLANK hold one
// per cell, the other cell records one.
std::uint16_t XfAt(const CellGroup& group, int col)
{
    const Record& head = group.records.front();
    return U16(head.data, 4 + (col - group.first) * MultiUnit(head.type));
}

// The sheet's cell records, each with the records that belong to it.
std::vector<CellGroup> CellGroups(const Substream& sheet)
{
    std::vector<CellGroup> groups;
    bool inGroup = false;
    for (const Record& record : sheet.records) {
        if (!record.nested && IsCell(record.type)) {
            const std::uint16_t first = U16(record.data, 2);
            const size_t unit = MultiUnit(record.type);
            const std::uint16_t last = unit ? U16(record.data, record.data.size() - 2) : first;
            groups.push_back({U16(record.data, 0), first, last, {record}});
            inGroup = true;
        } else if (inGroup && !record.nested && IsAttachment(record.type)) {
            groups.back().records.push_back(record);
        } else {
            inGroup = false;
        }
    }
    return groups;
}

struct Font {
    double height = 200;
    bool bold = false;
};

struct Range {
    int rowFirst, rowLast, colFirst, colLast;
    bool Holds(int row, int col) const
    {
        return row >= rowFirst && row <= rowLast && col >= colFirst && col <= colLast;
    }
};

class Editor {
public:
    Editor(Workbook& book, const std::string& file) : parts_(book.parts), file_(file) {}

    void Run(std::span<const ReportCell> cells);

private:
    [[noreturn]] void Fail(const ErrorDetail& why) const { biff::Fail(file_, why); }

    size_t FirstSheet();
    void ReadGlobals();
    void RebuildCellTable(Substream& sheet, std::span<const ReportCell> cells);
    std::vector<CellGroup> ReadCellTable(std::vector<Record>& table, std::vector<Record>& rows,
                                         std::vector<Record>& strays, bool& hadDbCell);
    void CheckTargets(const std::vector<CellGroup>& groups, std::span<const ReportCell> cells);
    void DropOtherRecordsOf(std::vector<CellGroup>& groups, const ReportCell& cell);
    void RefuseSubstreamInGlobals() const;
    void RefuseMissingFormats() const;
    void PutTarget(std::vector<CellGroup>& groups, std::vector<Record>& rows,
                   const std::vector<Record>& sheet, const ReportCell& cell, bool addRows);
    std::uint16_t DefaultXf(const std::vector<Record>& rows, const std::vector<Record>& sheet,
                            int row, int col) const;
    std::array<double, kFittedColumns> MeasureColumns(const Substream& sheet,
                                                      const std::vector<CellGroup>& groups) const;
    void FitColumns(Substream& sheet, const std::array<double, kFittedColumns>& widths);
    std::u16string ShownText(const CellGroup& group, int col) const;
    void WidenExtent(Substream& sheet, std::span<const ReportCell> cells);
    void SelectFirstSheet(size_t first);
    void MarkForRecalculation();

    std::vector<Substream>& parts_;
    const std::string& file_;
    std::vector<Font> fonts_;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> xfs_;  // font, number format
    std::map<std::uint16_t, std::u16string> formats_;
    std::vector<std::u16string> strings_;
    int removedStrings_ = 0;  // LABELSST references replaced by numbers
};

// The substream of the first sheet in tab order, which must be a worksheet;
// every sheet the globals list must be there.
size_t Editor::FirstSheet()
{
    // Looked up, not searched: a template may list thousands of sheets.
    std::map<std::uint32_t, size_t> sheetAt;
    for (size_t i = parts_.size() - 1; i >= 1; --i) {
        sheetAt[parts_[i].records.front().origin] = i;
    }
    size_t first = 0;
    for (const Record& record : parts_.front().records) {
        if (record.type != kBoundSheet || record.nested) {
            continue;
        }
        const auto sheet = sheetAt.find(U32(record.data, 0));
        const size_t found = sheet == sheetAt.end() ? 0 : sheet->second;
        if (found == 0) {
            Fail({"sheet offset points at no sheet", "la posizione di un foglio non porta a nessun foglio"});
        }
        if (first == 0) {
            if (parts_[found].kind != kWorksheetKind || (record.data[5] & 0x0F) != 0) {
                Fail({"the first sheet is not a worksheet", "il primo foglio non è un foglio di lavoro"});
            }
            first = found;
        }
    }
    if (first == 0) {
        Fail({"workbook without sheets", "cartella di lavoro senza fogli"});
    }
    return first;
}

void Editor::ReadGlobals()
{
    auto& records = parts_.front().records;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& record = records[i];
        if (record.nested) {
            continue;
        }
        if (record.type == kFont) {
            fonts_.push_back({static_cast<double>(std::max<std::uint16_t>(U16(record.data, 0), 20)),
                              U16(record.data, 6) >= 700});
        } else if (record.type == kXf) {
            xfs_.emplace_back(U16(record.data, 0), U16(record.data, 2));
        } else if (record.type == kFormat) {
            // Excel takes formats of at most 255 characters; a longer one is
            // measured as General, so that it cannot cost its length in every cell.
            if (std::u16string format = UnicodeString(record.data, 2); format.size() <= 255) {
                formats_[U16(record.data, 0)] = std::move(format);
            }
        } else if (record.type == kSst) {
            strings_ = ReadSharedStrings(records, i, file_);
        }
    }
    if (fonts_.empty()) {
        fonts_.push_back({});
    }
}

std::vector<CellGroup> Editor::ReadCellTable(std::vector<Record>& table,
                                             std::vector<Record>& rows,
                                             std::vector<Record>& strays, bool& hadDbCell)
{
    std::vector<CellGroup> groups;
    bool inGroup = false;
    for (Record& record : table) {
        if (record.nested) {
            strays.push_back(std::move(record));
            inGroup = false;
        } else if (record.type == kRow) {
            rows.push_back(std::move(record));
            inGroup = false;
        } else if (record.type == kDbCell) {
            hadDbCell = true;
            inGroup = false;
        } else if (IsCell(record.type)) {
            CellGroup group;
            group.row = U16(record.data, 0);
            group.first = group.last = U16(record.data, 2);
            const size_t size = record.data.size();
            if (const size_t unit = MultiUnit(record.type); unit != 0) {
                group.last = U16(record.data, size - 2);
                if ((size - 6) % unit != 0 || group.last != group.first + (size - 6) / unit - 1) {
                    Fail({"malformed MULRK or MULBLANK record", "record MULRK o MULBLANK malformato"});
                }
            }
            group.records.push_back(std::move(record));
            groups.push_back(std::move(group));
            inGroup = true;
        } else if (IsAttachment(record.type) && inGroup) {
            groups.back().records.push_back(std::move(record));
        } else {
            strays.push_back(std::move(record));
            inGroup = false;
        }
    }
    return groups;
}

void Editor::CheckTargets(const std::vector<CellGroup>& groups, std::span<const ReportCell> cells)
{
    for (const CellGroup& group : groups) {
        for (const Record& record : group.records) {
            if (record.type != kShrFmla && record.type != kArray && record.type != kTable) {
                continue;
            }
            const Range range{U16(record.data, 0), U16(record.data, 2), record.data[4],
                              record.data[5]};
            for (const ReportCell& cell : cells) {
                if (record.type == kShrFmla
                        ? range.rowFirst == cell.row && range.colFirst == cell.column
                        : range.Holds(cell.row, cell.column)) {
                    Fail({"a shared or array formula is anchored on a report cell", "una formula condivisa o matrice è ancorata a una cella del report"});
                }
            }
        }
    }
}

std::uint16_t Editor::DefaultXf(const std::vector<Record>& rows, const std::vector<Record>& sheet,
                                int row, int col) const
{
    for (const Record& record : rows) {
        if (U16(record.data, 0) == row && (U16(record.data, 12) & 0x0080)) {
            return U16(record.data, 14) & 0x0FFF;
        }
    }
    for (const Record& record : sheet) {
        if (record.type == kColInfo && !record.nested &&
            U16(record.data, 0) <= col && col <= U16(record.data, 2)) {
            return U16(record.data, 6);
        }
    }
    return kDefaultXf;
}

Record NumberRecord(const ReportCell& cell, std::uint16_t xf)
{
    Record record = MakeRecord(kNumber, 14);
    Put16(record.data, 0, cell.row);
    Put16(record.data, 2, cell.column);
    Put16(record.data, 4, xf);
    std::memcpy(record.data.data() + 6, &cell.value, 8);
    return record;
}

// Cells first..last of a MULRK or MULBLANK as their own record: a single
// RK or BLANK for one cell, the multiple form for more.
CellGroup CutMulti(const Record& multi, std::uint16_t row, std::uint16_t multiFirst,
                   std::uint16_t first, std::uint16_t last)
{
    const bool rk = multi.type == kMulRk;
    const size_t unit = MultiUnit(multi.type);
    const size_t count = last - first + 1;
    const auto begin = multi.data.begin() + 4 + (first - multiFirst) * unit;
    CellGroup group{row, first, last, {}};
    Record record;
    if (count == 1) {
        record = MakeRecord(rk ? kRk : kBlank, 4);
        record.data.insert(record.data.end(), begin, begin + unit);
    } else {
        record = MakeRecord(multi.type, 4);
        record.data.insert(record.data.end(), begin, begin + count * unit);
        record.data.resize(record.data.size() + 2);
        Put16(record.data, record.data.size() - 2, last);
    }
    Put16(record.data, 0, row);
    Put16(record.data, 2, first);
    group.records.push_back(std::move(record));
    return group;
}

// Readers show the last of two records for one cell, so a template holding
// a second record for a report cell would hide the number written there.
// Every record of the cell after the first, which the number replaces, goes;
// a multiple record keeps its other cells.
void Editor::DropOtherRecordsOf(std::vector<CellGroup>& groups, const ReportCell& cell)
{
    std::vector<CellGroup> kept;
    kept.reserve(groups.size());
    bool first = true;
    for (CellGroup& group : groups) {
        const bool holds = group.row == cell.row && group.first <= cell.column && cell.column <= group.last;
        if (!holds || first) {
            first = first && !holds;
            kept.push_back(std::move(group));
            continue;
        }
        const Record& head = group.records.front();
        if (head.type == kLabelSst) {
            ++removedStrings_;
        }
        if (head.type != kMulRk && head.type != kMulBlank) {
            continue;
        }
        if (group.first < cell.column) {
            kept.push_back(CutMulti(head, group.row, group.first, group.first, cell.column - 1));
        }
        if (cell.column < group.last) {
            kept.push_back(CutMulti(head, group.row, group.first, cell.column + 1, group.last));
        }
    }
    groups = std::move(kept);
}

// A sheet's records inside the globals, or a cell whose format index points
// past the formats, make a file that LibreOffice and xlrd refuse to open:
// no report is made from such a template.
void Editor::RefuseSubstreamInGlobals() const
{
    for (const Record& record : parts_.front().records) {
        if (record.nested) {
            Fail({"a substream inside the workbook globals", "un sottoflusso dentro i dati globali della cartella di lavoro"});
        }
    }
}

void Editor::RefuseMissingFormats() const
{
    for (size_t i = 1; i < parts_.size(); ++i) {
        for (const Record& record : parts_[i].records) {
            if (record.nested || !IsCell(record.type) || record.data.size() < 6) {
                continue;
            }
            const size_t unit = MultiUnit(record.type);
            const size_t count = unit == 0 ? 1 : (record.data.size() - 6) / unit;
            for (size_t k = 0; k < count; ++k) {
                if (U16(record.data, 4 + k * unit) >= xfs_.size()) {
                    char english[128], italian[128];
                    std::snprintf(english, sizeof english, "cell in row %u, column %u with format %u; the workbook has %zu",
                                  U16(record.data, 0) + 1u, U16(record.data, 2) + unsigned(k) + 1u,
                                  U16(record.data, 4 + k * unit), xfs_.size());
                    std::snprintf(italian, sizeof italian, "cella alla riga %u, colonna %u con il formato %u; la cartella di lavoro ne ha %zu",
                                  U16(record.data, 0) + 1u, U16(record.data, 2) + unsigned(k) + 1u,
                                  U16(record.data, 4 + k * unit), xfs_.size());
                    Fail({english, italian});
                }
            }
        }
    }
}

void Editor::PutTarget(std::vector<CellGroup>& groups, std::vector<Record>& rows,
                       const std::vector<Record>& sheet, const ReportCell& cell, bool addRows)
{
    auto found = std::find_if(groups.begin(), groups.end(), [&](const CellGroup& g) {
        return g.row == cell.row && g.first <= cell.column && cell.column <= g.last;
    });
    if (found == groups.end()) {
        groups.push_back({cell.row, cell.column, cell.column,
                          {NumberRecord(cell, DefaultXf(rows, sheet, cell.row, cell.column))}});
    } else {
        const Record& head = found->records.front();
        const std::uint16_t xf = XfAt(*found, cell.column);
        if (head.type == kMulRk || head.type == kMulBlank) {
            CellGroup multi = std::move(*found);
            groups.erase(found);
            if (multi.first < cell.column) {
                groups.push_back(CutMulti(multi.records.front(), multi.row, multi.first,
                                          multi.first, cell.column - 1));
            }
            if (cell.column < multi.last) {
                groups.push_back(CutMulti(multi.records.front(), multi.row, multi.first,
                                          cell.column + 1, multi.last));
            }
            groups.push_back({cell.row, cell.column, cell.column, {NumberRecord(cell, xf)}});
        } else {
            if (head.type == kLabelSst) {
                ++removedStrings_;
            }
            found->records = {NumberRecord(cell, xf)};
        }
    }

    auto row = std::find_if(rows.begin(), rows.end(),
                            [&](const Record& r) { return U16(r.data, 0) == cell.row; });
    if (row == rows.end()) {
        if (!addRows) {
            return;
        }
        Record added = MakeRecord(kRow, 16);
        std::uint16_t height = 0x00FF, flags = 0x0100;
        for (const Record& record : sheet) {
            // A DEFAULTROWHEIGHT without its flags (2 bytes) counts as absent.
            if (record.type == kDefaultRowHeight && !record.nested && record.data.size() >= 4) {
                height = U16(record.data, 2);
                flags |= (U16(record.data, 0) & 1) ? 0x0040 : 0;
            }
        }
        Put16(added.data, 0, cell.row);
        Put16(added.data, 2, cell.column);
        Put16(added.data, 4, cell.column + 1);
        Put16(added.data, 6, height);
        Put16(added.data, 12, flags);
        Put16(added.data, 14, kDefaultXf);
        rows.push_back(std::move(added));
        return;
    }
    Bytes& data = row->data;
    if (U16(data, 2) >= U16(data, 4)) {
        Put16(data, 2, cell.column);
        Put16(data, 4, cell.column + 1);
    } else {
        Put16(data, 2, std::min<std::uint16_t>(U16(data, 2), cell.column));
        Put16(data, 4, std::max<std::uint16_t>(U16(data, 4), cell.column + 1));
    }
}

// The first sheet's ROW and cell records are laid out again in row blocks of
// 32 rows (ROW records, then cells, then the DBCELL when the template indexes
// its rows), which is the order they already have in the templates of the
// common writers; the report cells go into that order.
void Editor::RebuildCellTable(Substream& sheet, std::span<const ReportCell> cells)
{
    auto& records = sheet.records;
    auto isTable = [](const Record& r) {
        return !r.nested && (r.type == kRow || r.type == kDbCell || IsCell(r.type));
    };
    auto first = std::find_if(records.begin(), records.end(), isTable);
    auto last = std::find_if(records.rbegin(), records.rend(), isTable).base();
    while (last != records.end() && !last->nested && IsAttachment(last->type)) {
        ++last;
    }
    if (first == records.end()) {
        first = std::find_if(records.begin(), records.end(), [](const Record& r) {
            return !r.nested && r.type == kDimensions;
        });
        if (first == records.end()) {
            Fail({"sheet without DIMENSIONS record", "foglio senza record DIMENSIONS"});
        }
        last = ++first;
    }
    std::vector<Record> table(std::make_move_iterator(first), std::make_move_iterator(last));
    const size_t at = first - records.begin();
    records.erase(first, last);

    std::vector<Record> rows, strays;
    bool hadDbCell = false;
    std::vector<CellGroup> groups = ReadCellTable(table, rows, strays, hadDbCell);
    CheckTargets(groups, cells);
    const bool addRows = hadDbCell || !rows.empty();
    for (const ReportCell& cell : cells) {
        DropOtherRecordsOf(groups, cell);
        PutTarget(groups, rows, records, cell, addRows);
    }
    auto rowOf = [](const Record& r) { return U16(r.data, 0); };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Record& a, const Record& b) { return rowOf(a) < rowOf(b); });
    std::stable_sort(groups.begin(), groups.end(), [](const CellGroup& a, const CellGroup& b) {
        return a.row != b.row ? a.row < b.row : a.first < b.first;
    });

    std::vector<Record> rebuilt;
    size_t r = 0, g = 0;
    while (r < rows.size() || g < groups.size()) {
        const int block = std::min(r < rows.size() ? rowOf(rows[r]) / kRowsPerBlock : 0xFFFF,
                                   g < groups.size() ? groups[g].row / kRowsPerBlock : 0xFFFF);
        size_t rowCount = 0;
        for (; r < rows.size() && rowOf(rows[r]) / kRowsPerBlock == block; ++r, ++rowCount) {
            rebuilt.push_back(std::move(rows[r]));
        }
        for (; g < groups.size() && groups[g].row / kRowsPerBlock == block; ++g) {
            for (Record& record : groups[g].records) {
                rebuilt.push_back(std::move(record));
            }
        }
        if (hadDbCell) {
            rebuilt.push_back(MakeRecord(kDbCell, 4 + 2 * rowCount));
        }
    }
    rebuilt.insert(rebuilt.end(), std::make_move_iterator(strays.begin()),
                   std::make_move_iterator(strays.end()));
    records.insert(records.begin() + at, std::make_move_iterator(rebuilt.begin()),
                   std::make_move_iterator(rebuilt.end()));
}

std::u16string Editor::ShownText(const CellGroup& group, int col) const
{
    const Record& head = group.records.front();
    const Bytes& data = head.data;
    // A view, not a copy: a template may give thousands of cells one long format.
    std::u16string builtin;
    auto formatOf = [&](std::uint16_t xfIndex) -> std::u16string_view {
        const std::uint16_t id = xfIndex < xfs_.size() ? xfs_[xfIndex].second : 0;
        if (auto custom = formats_.find(id); custom != formats_.end()) {
            return custom->second;
        }
        builtin = celltext::BuiltinFormat(id);
        return builtin;
    };
    const std::uint16_t xf = XfAt(group, col);
    switch (head.type) {
    case kNumber: {
        double value;
        std::memcpy(&value, data.data() + 6, 8);
        return celltext::FormatNumber(value, formatOf(xf));
    }
    case kRk:
        return celltext::FormatNumber(DecodeRk(U32(data, 6)), formatOf(xf));
    case kMulRk:
        return celltext::FormatNumber(
            DecodeRk(U32(data, 4 + (col - group.first) * MultiUnit(head.type) + 2)), formatOf(xf));
    case kLabelSst: {
        const std::uint32_t index = U32(data, 6);
        return index < strings_.size() ? strings_[index] : std::u16string{};
    }
    case kLabel:
    case kRString:
        return UnicodeString(data, 6);
    case kBoolErr:
        return data[7] ? formula::ErrorText(static_cast<formula::ErrorCode>(data[6]))
                       : data[6] ? u"TRUE" : u"FALSE";
    case kFormula:
        // The cached result stands in for the value the formula will show.
        if (U16(data, 12) != 0xFFFF) {
            double value;
            std::memcpy(&value, data.data() + 6, 8);
            return celltext::FormatNumber(value, formatOf(xf));
        }
        if (data[6] == 1) {
            return data[8] ? u"TRUE" : u"FALSE";
        }
        if (data[6] == 2) {
            return formula::ErrorText(static_cast<formula::ErrorCode>(data[8]));
        }
        for (const Record& record : group.records) {
            if (record.type == kString) {
                return UnicodeString(record.data, 0);
            }
        }
        return {};
    default:
        return {};
    }
}

// Each of columns A to H that shows something gets the width of its widest
// text, measured in the cell's font; cells of merged ranges do not count,
// empty columns keep their width.
std::array<double, kFittedColumns> Editor::MeasureColumns(
    const Substream& sheet, const std::vector<CellGroup>& groups) const
{
    // The rows of each fitted column that merged ranges cover, as sorted
    // intervals apart from each other, and the widths of shared strings, each
    // measured once: a template may hold thousands of ranges, cells and
    // references to one long string.
    std::array<std::vector<std::pair<int, int>>, kFittedColumns> mergedRows;
    for (const Record& record : sheet.records) {
        if (record.type != kMergedCells || record.nested) {
            continue;
        }
        const size_t count = std::min<size_t>(U16(record.data, 0), (record.data.size() - 2) / 8);
        for (size_t k = 0; k < count; ++k) {
            const size_t at = 2 + 8 * k;
            const Range m{U16(record.data, at), U16(record.data, at + 2), U16(record.data, at + 4),
                          U16(record.data, at + 6)};
            if (m.rowFirst == m.rowLast && m.colFirst == m.colLast) {
                continue;
            }
            for (int col = m.colFirst; col <= std::min(m.colLast, kFittedColumns - 1); ++col) {
                if (m.rowFirst <= m.rowLast) {
                    mergedRows[col].emplace_back(m.rowFirst, m.rowLast);
                }
            }
        }
    }
    for (auto& rows : mergedRows) {
        std::sort(rows.begin(), rows.end());
        std::vector<std::pair<int, int>> joined;
        for (const auto& interval : rows) {
            if (!joined.empty() && interval.first <= joined.back().second + 1) {
                joined.back().second = std::max(joined.back().second, interval.second);
            } else {
                joined.push_back(interval);
            }
        }
        rows = std::move(joined);
    }
    auto inMerge = [&](int row, int col) {
        const auto& rows = mergedRows[col];
        const auto after = std::upper_bound(rows.begin(), rows.end(), std::pair(row, std::numeric_limits<int>::max()));
        return after != rows.begin() && std::prev(after)->second >= row;
    };
    std::vector<double> sharedWidths(strings_.size(), -1);
    auto textWidth = [&](const CellGroup& group, int col) {
        const Record& head = group.records.front();
        if (head.type == kLabelSst) {
            const std::uint32_t index = U32(head.data, 6);
            if (index >= strings_.size()) {
                return 0.0;
            }
            if (sharedWidths[index] < 0) {
                sharedWidths[index] = celltext::TextWidth(strings_[index]);
            }
            return sharedWidths[index];
        }
        return celltext::TextWidth(ShownText(group, col));
    };

    std::array<double, kFittedColumns> widths{};
    for (const CellGroup& group : groups) {
        for (int col = group.first; col <= group.last && col < kFittedColumns; ++col) {
            if (widths[col] >= kWidestText || inMerge(group.row, col)) {
                continue;
            }
            const double width = textWidth(group, col);
            if (width == 0) {
                continue;
            }
            const std::uint16_t xf = XfAt(group, col);
            std::uint16_t fontIndex = xf < xfs_.size() ? xfs_[xf].first : 0;
            fontIndex = fontIndex >= 4 ? fontIndex - 1 : fontIndex;
            const Font font = fontIndex < fonts_.size() ? fonts_[fontIndex] : fonts_.front();
            const double scale = font.height / fonts_.front().height * (font.bold ? 1.1 : 1.0);
            widths[col] = std::max(widths[col], width * scale);
        }
    }
    return widths;
}

void Editor::FitColumns(Substream& sheet, const std::array<double, kFittedColumns>& widths)
{
    auto& records = sheet.records;

    // One COLINFO per fitted column, the template's others kept as they are.
    std::vector<Record> infos;
    auto isInfo = [](const Record& r) { return !r.nested && r.type == kColInfo; };
    auto firstInfo = std::find_if(records.begin(), records.end(), isInfo);
    size_t at;
    if (firstInfo != records.end()) {
        at = firstInfo - records.begin();
    } else {
        auto anchor = std::find_if(records.begin(), records.end(), [](const Record& r) {
            return !r.nested && (r.type == kDefColWidth || r.type == kDimensions);
        });
        at = anchor - records.begin() + (anchor != records.end() && anchor->type == kDefColWidth);
    }
    std::array<std::optional<Record>, kFittedColumns> perColumn;
    // Taken out in one pass: erasing them one by one is quadratic in a
    // template of many COLINFO records.
    std::vector<Record> others;
    others.reserve(records.size());
    for (auto it = records.begin(); it != records.end(); ++it) {
        if (!isInfo(*it)) {
            others.push_back(std::move(*it));
            continue;
        }
        const int first = U16(it->data, 0), last = U16(it->data, 2);
        for (int col = first; col <= std::min(last, kFittedColumns - 1); ++col) {
            Record single = *it;
            Put16(single.data, 0, col);
            Put16(single.data, 2, col);
            single.origin = kAdded;
            perColumn[col] = std::move(single);
        }
        if (last >= kFittedColumns) {
            Record rest = std::move(*it);
            if (first < kFittedColumns) {
                Put16(rest.data, 0, kFittedColumns);
                rest.origin = kAdded;
            }
            infos.push_back(std::move(rest));
        }
    }
    records = std::move(others);
    std::vector<Record> sorted;
    for (int col = 0; col < kFittedColumns; ++col) {
        if (widths[col] > 0) {
            if (!perColumn[col]) {
                perColumn[col] = MakeRecord(kColInfo, 12);
                Put16(perColumn[col]->data, 0, col);
                Put16(perColumn[col]->data, 2, col);
                Put16(perColumn[col]->data, 6, kDefaultXf);
            }
            // Padding of the cell margins plus one digit for the estimate.
            const double units = std::min((widths[col] + 1.7) * 256, 255.0 * 256);
            Bytes& data = perColumn[col]->data;
            Put16(data, 4, static_cast<std::uint32_t>(std::lround(units)));
            Put16(data, 8, U16(data, 8) | 0x0006);  // user-set, best fit
        }
        if (perColumn[col]) {
            sorted.push_back(std::move(*perColumn[col]));
        }
    }
    sorted.insert(sorted.end(), std::make_move_iterator(infos.begin()),
                  std::make_move_iterator(infos.end()));
    records.insert(records.begin() + std::min(at, records.size()),
                   std::make_move_iterator(sorted.begin()), std::make_move_iterator(sorted.end()));
}

void Editor::WidenExtent(Substream& sheet, std::span<const ReportCell> cells)
{
    int rowFirst = cells[0].row, rowEnd = cells[0].row + 1;
    int colFirst = cells[0].column, colEnd = cells[0].column + 1;
    for (const ReportCell& cell : cells) {
        rowFirst = std::min<int>(rowFirst, cell.row);
        rowEnd = std::max<int>(rowEnd, cell.row + 1);
        colFirst = std::min<int>(colFirst, cell.column);
        colEnd = std::max<int>(colEnd, cell.column + 1);
    }
    bool dimensions = false;
    for (Record& record : sheet.records) {
        if (record.nested) {
            continue;
        }
        if (record.type == kDimensions && !dimensions) {
            dimensions = true;
            Bytes& d = record.data;
            const bool empty = U32(d, 4) <= U32(d, 0) || U16(d, 10) <= U16(d, 8);
            Put32(d, 0, empty ? rowFirst : std::min<std::uint32_t>(U32(d, 0), rowFirst));
            Put32(d, 4, empty ? rowEnd : std::max<std::uint32_t>(U32(d, 4), rowEnd));
            Put16(d, 8, empty ? colFirst : std::min<std::uint16_t>(U16(d, 8), colFirst));
            Put16(d, 10, empty ? colEnd : std::max<std::uint16_t>(U16(d, 10), colEnd));
        } else if (record.type == kIndex) {
            Bytes& d = record.data;
            const bool empty = U32(d, 8) <= U32(d, 4);
            Put32(d, 4, empty ? rowFirst : std::min<std::uint32_t>(U32(d, 4), rowFirst));
            Put32(d, 8, empty ? rowEnd : std::max<std::uint32_t>(U32(d, 8), rowEnd));
        }
    }
}

// A SELECTION record's data for the given pane: one range, A1:A1, with A1
// the active cell.
Bytes SelectionOfA1(std::uint8_t pane)
{
    Bytes data(15, 0);
    data[0] = pane;
    Put16(data, 7, 1);
    return data;
}

void Editor::SelectFirstSheet(size_t first)
{
    for (Record& record : parts_.front().records) {
        if (record.type == kWindow1 && !record.nested) {
            Put16(record.data, 10, 0);  // active tab
            Put16(record.data, 12, 0);  // first tab shown
            Put16(record.data, 14, 1);  // tabs selected
        }
    }
    for (size_t i = 1; i < parts_.size(); ++i) {
        for (Record& record : parts_[i].records) {
            if (record.type == kWindow2 && !record.nested) {
                const std::uint16_t selectedAndShown = 0x0600;
                const std::uint16_t flags = U16(record.data, 0);
                Put16(record.data, 0,
                      i == first ? flags | selectedAndShown : flags & ~selectedAndShown);
            }
        }
    }
    auto& records = parts_[first].records;
    bool selected = false;
    for (Record& record : records) {
        if (record.type == kSelection && !record.nested) {
            record.data = SelectionOfA1(record.data[0]);
            selected = true;
        }
    }
    if (!selected) {
        auto window = std::find_if(records.begin(), records.end(), [](const Record& r) {
            return !r.nested && r.type == kWindow2;
        });
        if (window != records.end()) {
            while (window + 1 != records.end() &&
                   ((window + 1)->type == kPlv || (window + 1)->type == kScl ||
                    (window + 1)->type == kPane)) {
                ++window;
            }
            records.insert(window + 1, Record{kSelection, SelectionOfA1(3)});
        }
    }
}

void Editor::MarkForRecalculation()
{
    for (Record& record : parts_.front().records) {
        if (record.type == kRecalcId && !record.nested) {
            Put32(record.data, 4, 0);  // older than any engine: recalculate all on load
        } else if (record.type == kSst && !record.nested && removedStrings_ > 0) {
            const std::uint32_t total = U32(record.data, 0);
            Put32(record.data, 0, total > static_cast<std::uint32_t>(removedStrings_)
                                      ? total - removedStrings_ : 0);
        }
    }
}

void Editor::Run(std::span<const ReportCell> cells)
{
    RefuseSubstreamInGlobals();
    CheckSizes(parts_.front(), Scope::Globals, file_);
    const size_t first = FirstSheet();
    for (size_t i = 1; i < parts_.size(); ++i) {
        CheckSizes(parts_[i], i == first ? Scope::EditedSheet : Scope::Sheet, file_);
    }
    ReadGlobals();
    WidenExtent(parts_[first], cells);
    RebuildCellTable(parts_[first], cells);
    StoreFormulaResults(parts_, strings_);
    // Measured once the formulas show their results.
    FitColumns(parts_[first], MeasureColumns(parts_[first], CellGroups(parts_[first])));
    SelectFirstSheet(first);
    MarkForRecalculation();
    RefuseMissingFormats();
}

}  // namespace

std::vector<std::uint8_t> FillWorkbookStream(std::span<const std::uint8_t> stream,
                                             std::span<const ReportCell> cells,
                                             const std::string& file)
{
    if (cells.empty()) {
        return {stream.begin(), stream.end()};
    }
    Workbook book = ReadWorkbook(stream, file);
    Editor(book, file).Run(cells);
    return WriteWorkbook(book, file);
}

bool StoresFormulaResults(std::span<const std::uint8_t> stream, const std::string& file)
{
    return !PrecisionAsShown(ReadWorkbook(stream, file).parts.front());
}

}  // namespace quorvel
