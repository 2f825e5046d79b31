#include "report/SheetPreview.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "report/Biff.h"
#include "report/CellText.h"
#include "report/Formula.h"
#include "report/Report.h"
#include "report/Workbook.h"

namespace quorvel {
namespace {

using namespace biff;

// A preview, not a viewer: a sheet larger than this shows its top left.
constexpr int kMaxRows = 500;
constexpr int kMaxColumns = 52;

struct Style {
    std::uint16_t font = 0;
    std::uint16_t format = 0;
};

class Reader {
public:
    Reader(const Workbook& book, const std::string& path) : book_(book), path_(path) {}

    SheetPreview Read();

private:
    const Substream& FirstSheet() const;
    void ReadGlobals();
    void AddCell(int row, int column, std::uint16_t xf, std::u16string text, bool number);
    std::u16string NumberText(double value, std::uint16_t xf) const;

    const Workbook& book_;
    const std::string& path_;
    std::vector<bool> boldFonts_;
    std::vector<Style> styles_;
    std::map<std::uint16_t, std::u16string> formats_;
    std::vector<std::u16string> strings_;
    SheetPreview preview_;
};

const Substream& Reader::FirstSheet() const
{
    for (const Record& record : book_.parts.front().records) {
        if (record.type != kBoundSheet || record.nested) {
            continue;
        }
        for (size_t i = 1; i < book_.parts.size(); ++i) {
            if (book_.parts[i].records.front().origin == U32(record.data, 0) &&
                book_.parts[i].kind == kWorksheetKind) {
                return book_.parts[i];
            }
        }
        break;
    }
    Fail(path_, {"the first sheet is not a worksheet", "il primo foglio non è un foglio di lavoro"});
}

void Reader::ReadGlobals()
{
    const auto& records = book_.parts.front().records;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& record = records[i];
        if (record.nested) {
            continue;
        }
        if (record.type == kFont) {
            boldFonts_.push_back(U16(record.data, 6) >= 700);
        } else if (record.type == kXf) {
            styles_.push_back({U16(record.data, 0), U16(record.data, 2)});
        } else if (record.type == kFormat && record.data.size() >= 5) {
            const size_t count = U16(record.data, 2);
            const bool wide = record.data[4] & 1;
            std::u16string format;
            for (size_t k = 0; k < count && 5 + (k + 1) * (wide ? 2 : 1) <= record.data.size(); ++k) {
                format += wide ? static_cast<char16_t>(U16(record.data, 5 + 2 * k)) : record.data[5 + k];
            }
            formats_[U16(record.data, 0)] = std::move(format);
        } else if (record.type == kSst) {
            strings_ = ReadSharedStrings(records, i, path_);
        }
    }
}

std::u16string Reader::NumberText(double value, std::uint16_t xf) const
{
    const std::uint16_t id = xf < styles_.size() ? styles_[xf].format : 0;
    const auto custom = formats_.find(id);
    return celltext::FormatNumber(value, custom != formats_.end() ? custom->second : celltext::BuiltinFormat(id));
}

void Reader::AddCell(int row, int column, std::uint16_t xf, std::u16string text, bool number)
{
    if (row >= kMaxRows || column >= kMaxColumns || text.empty()) {
        return;
    }
    std::uint16_t font = xf < styles_.size() ? styles_[xf].font : 0;
    font = font >= 4 ? font - 1 : font;  // font 4 is never stored
    const bool bold = font < boldFonts_.size() && boldFonts_[font];
    preview_.cells.push_back({row, column, std::move(text), number, bold});
    preview_.rows = std::max(preview_.rows, row + 1);
    preview_.columns = std::max(preview_.columns, column + 1);
}

SheetPreview Reader::Read()
{
    CheckSizes(book_.parts.front(), Scope::Globals, path_);
    const Substream& sheet = FirstSheet();
    CheckSizes(sheet, Scope::EditedSheet, path_);
    ReadGlobals();

    double defaultWidth = 8.43;
    std::vector<std::pair<std::pair<int, int>, double>> columnWidths;
    const auto& records = sheet.records;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& record = records[i];
        const Bytes& d = record.data;
        if (record.nested) {
            continue;
        }
        const int row = d.size() >= 4 ? U16(d, 0) : 0;
        const int column = d.size() >= 4 ? U16(d, 2) : 0;
        switch (record.type) {
        case kNumber: {
            double value;
            std::memcpy(&value, d.data() + 6, 8);
            AddCell(row, column, U16(d, 4), NumberText(value, U16(d, 4)), true);
            break;
        }
        case kRk:
            AddCell(row, column, U16(d, 4), NumberText(DecodeRk(U32(d, 6)), U16(d, 4)), true);
            break;
        case kMulRk:
            for (size_t at = 4; at + 8 <= d.size(); at += 6) {
                const std::uint16_t xf = U16(d, at);
                AddCell(row, column + static_cast<int>((at - 4) / 6), xf,
                        NumberText(DecodeRk(U32(d, at + 2)), xf), true);
            }
            break;
        case kLabelSst:
            if (U32(d, 6) < strings_.size()) {
                AddCell(row, column, U16(d, 4), strings_[U32(d, 6)], false);
            }
            break;
        case kLabel:
        case kRString: {
            std::u16string text;
            const bool wide = d[8] & 1;
            for (size_t k = 0; k < U16(d, 6) && 9 + (k + 1) * (wide ? 2 : 1) <= d.size(); ++k) {
                text += wide ? static_cast<char16_t>(U16(d, 9 + 2 * k)) : d[9 + k];
            }
            AddCell(row, column, U16(d, 4), std::move(text), false);
            break;
        }
        case kBoolErr:
            AddCell(row, column, U16(d, 4),
                    d[7] ? formula::ErrorText(static_cast<formula::ErrorCode>(d[6]))
                         : d[6] ? u"VERO" : u"FALSO",
                    false);
            break;
        case kFormula:
            if (U16(d, 12) != 0xFFFF) {
                double value;
                std::memcpy(&value, d.data() + 6, 8);
                AddCell(row, column, U16(d, 4), NumberText(value, U16(d, 4)), true);
            } else if (d[6] == 1) {
                AddCell(row, column, U16(d, 4), d[8] ? u"VERO" : u"FALSO", false);
            } else if (d[6] == 2) {
                AddCell(row, column, U16(d, 4), formula::ErrorText(static_cast<formula::ErrorCode>(d[8])), false);
            } else if (d[6] == 0) {
                // The text is in the STRING record after the formula's own records.
                size_t at = i + 1;
                while (at < records.size() && (records[at].type == kShrFmla || records[at].type == kArray ||
                                               records[at].type == kTable)) {
                    ++at;
                }
                if (at < records.size() && records[at].type == kString && records[at].data.size() >= 3) {
                    const Bytes& s = records[at].data;
                    const bool wide = s[2] & 1;
                    std::u16string text;
                    for (size_t k = 0; k < U16(s, 0) && 3 + (k + 1) * (wide ? 2 : 1) <= s.size(); ++k) {
                        text += wide ? static_cast<char16_t>(U16(s, 3 + 2 * k)) : s[3 + k];
                    }
                    AddCell(row, column, U16(d, 4), std::move(text), false);
                }
            }
            break;
        case kDefColWidth:
            if (d.size() >= 2) {
                defaultWidth = U16(d, 0) + 0.43;  // with the cell margins
            }
            break;
        case kColInfo:
            columnWidths.push_back({{U16(d, 0), U16(d, 2)}, U16(d, 4) / 256.0});
            break;
        case kMergedCells:
            for (size_t k = 0, at = 2; k < U16(d, 0) && at + 8 <= d.size(); ++k, at += 8) {
                const PreviewRange range{U16(d, at), U16(d, at + 2), U16(d, at + 4), U16(d, at + 6)};
                if (range.rowFirst <= range.rowLast && range.columnFirst <= range.columnLast &&
                    range.rowFirst < kMaxRows && range.columnFirst < kMaxColumns) {
                    preview_.merged.push_back(range);
                }
            }
            break;
        default:
            break;
        }
    }
    for (PreviewRange& range : preview_.merged) {
        range.rowLast = std::min(range.rowLast, kMaxRows - 1);
        range.columnLast = std::min(range.columnLast, kMaxColumns - 1);
        preview_.rows = std::max(preview_.rows, range.rowLast + 1);
        preview_.columns = std::max(preview_.columns, range.columnLast + 1);
    }
    preview_.columnWidths.assign(preview_.columns, defaultWidth);
    for (const auto& [span, width] : columnWidths) {
        for (int column = span.first; column <= std::min(span.second, preview_.columns - 1); ++column) {
            preview_.columnWidths[column] = width;
        }
    }
    return std::move(preview_);
}

}  // namespace

SheetPreview ReadSheetPreview(const std::string& path)
{
    const std::vector<std::uint8_t> stream = ReadWorkbookStream(ReadReportTemplate(path), path);
    const Workbook book = ReadWorkbook(stream, path);
    return Reader(book, path).Read();
}

}  // namespace quorvel
