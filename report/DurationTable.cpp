#include "report/DurationTable.h"

#include <cstring>
#include <map>

#include "report/Biff.h"
#include "report/Workbook.h"

namespace quorvel {

namespace {

using namespace biff;

struct SheetCells {
    std::map<std::pair<int, int>, double> numbers;
    std::map<std::pair<int, int>, std::u16string> texts;
};

const Substream* FirstSheet(const Workbook& book)
{
    for (const Record& record : book.parts.front().records) {
        if (record.type != kBoundSheet || record.nested || record.data.size() < 4)
            continue;
        for (std::size_t i = 1; i < book.parts.size(); ++i)
            if (book.parts[i].records.front().origin == U32(record.data, 0) &&
                book.parts[i].kind == kWorksheetKind)
                return &book.parts[i];
        return nullptr;
    }
    return nullptr;
}

SheetCells ReadCells(const Workbook& book, const std::string& file)
{
    SheetCells cells;
    const Substream* sheet = FirstSheet(book);
    if (!sheet)
        return cells;
    CheckSizes(book.parts.front(), Scope::Globals, file);
    CheckSizes(*sheet, Scope::EditedSheet, file);
    std::vector<std::u16string> strings;
    const auto& globals = book.parts.front().records;
    for (std::size_t i = 0; i < globals.size(); ++i)
        if (globals[i].type == kSst && !globals[i].nested)
            strings = ReadSharedStrings(globals, i, file);
    for (const Record& record : sheet->records) {
        const Bytes& d = record.data;
        if (record.nested || d.size() < 6)
            continue;
        const std::pair<int, int> at{U16(d, 0), U16(d, 2)};
        double value = 0;
        switch (record.type) {
        case kNumber:
            std::memcpy(&value, d.data() + 6, 8);
            cells.numbers[at] = value;
            break;
        case kRk:
            cells.numbers[at] = DecodeRk(U32(d, 6));
            break;
        case kMulRk:
            for (std::size_t k = 4; k + 8 <= d.size(); k += 6)
                cells.numbers[{at.first, at.second + int((k - 4) / 6)}] = DecodeRk(U32(d, k + 2));
            break;
        case kFormula:
            // A number is stored as itself; text, booleans and errors mark 0xFFFF.
            if (U16(d, 12) != 0xFFFF) {
                std::memcpy(&value, d.data() + 6, 8);
                cells.numbers[at] = value;
            }
            break;
        case kLabelSst:
            if (U32(d, 6) < strings.size())
                cells.texts[at] = strings[U32(d, 6)];
            break;
        default:
            break;
        }
    }
    return cells;
}

bool StartsWithDurata(const std::u16string& text)
{
    static constexpr char16_t kWord[] = u"durata";
    if (text.size() < 6)
        return false;
    for (std::size_t i = 0; i < 6; ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
        if (c != kWord[i])
            return false;
    }
    return true;
}

}  // namespace

std::vector<ReportDurationRow> ReportDurationTable(std::span<const std::uint8_t> reportFile,
                                                   const std::string& file)
{
    const std::vector<std::uint8_t> stream = ReadWorkbookStream(reportFile, file);
    const SheetCells cells = ReadCells(ReadWorkbook(stream, file), file);
    std::vector<ReportDurationRow> table;
    for (const auto& [at, text] : cells.texts) {
        if (!StartsWithDurata(text))
            continue;
        for (int row = at.first + 1;; ++row) {
            const auto duration = cells.numbers.find({row, at.second});
            if (duration == cells.numbers.end())
                break;
            ReportDurationRow line{row, at.second, duration->second, {}};
            for (int k = 0; k < 7; ++k)
                if (const auto height = cells.numbers.find({row, at.second + 1 + k}); height != cells.numbers.end())
                    line.heights[std::size_t(k)] = height->second;
            table.push_back(line);
        }
        break;
    }
    return table;
}

std::string CellName(int row, int column)
{
    std::string name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.insert(name.begin(), char('A' + (c - 1) % 26));
    return name + std::to_string(row + 1);
}

}  // namespace quorvel
