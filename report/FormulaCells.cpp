// The worksheets' cells read for the formula evaluator, and its results
// written back as the formulas' cached values.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>

#include "report/Biff.h"
#include "report/Formula.h"

namespace quorvel::biff {
namespace {

using formula::Value;
using Kind = Value::Kind;

constexpr size_t kMaxRecordData = 8224;

// A string stored in place (character count, option byte, characters);
// nothing when the record ends before it does.
std::optional<std::u16string> StringAt(const Bytes& bytes, size_t at)
{
    if (bytes.size() < at + 3) {
        return std::nullopt;
    }
    const size_t count = U16(bytes, at);
    const bool wide = bytes[at + 2] & 1;
    if (bytes.size() < at + 3 + count * (wide ? 2 : 1)) {
        return std::nullopt;
    }
    std::u16string text(count, u'\0');
    for (size_t k = 0; k < count; ++k) {
        text[k] = wide ? static_cast<char16_t>(U16(bytes, at + 3 + 2 * k)) : bytes[at + 3 + k];
    }
    return text;
}

// The tokens a shared formula's cells use, by the cell its range starts at;
// ARRAY and TABLE ranges are there without tokens.
struct SharedFormula {
    int rowFirst = 0, rowLast = 0, colFirst = 0, colLast = 0;
    std::optional<std::span<const std::uint8_t>> tokens;
};

std::map<std::pair<int, int>, SharedFormula> SharedFormulas(const Substream& part)
{
    std::map<std::pair<int, int>, SharedFormula> shared;
    for (const Record& record : part.records) {
        const Bytes& d = record.data;
        if (record.nested || (record.type != kShrFmla && record.type != kArray &&
                              record.type != kTable) || d.size() < 6) {
            continue;
        }
        SharedFormula formula{U16(d, 0), U16(d, 2), d[4], d[5], std::nullopt};
        if (record.type == kShrFmla && d.size() >= 10 && 10u + U16(d, 8) <= d.size()) {
            formula.tokens = std::span<const std::uint8_t>(d.data() + 10, U16(d, 8));
        }
        shared[{formula.rowFirst, formula.colFirst}] = formula;
    }
    return shared;
}

formula::Cell FormulaCell(const Record& record,
                          const std::map<std::pair<int, int>, SharedFormula>& shared)
{
    const Bytes& d = record.data;
    formula::Cell cell{U16(d, 0), U16(d, 2), {}, true, {}, false, nullptr};
    if (d.size() < 22 || 22u + U16(d, 20) > d.size()) {
        return cell;  // no tokens: unknown
    }
    const std::span<const std::uint8_t> tokens(d.data() + 22, U16(d, 20));
    if (tokens.size() == 5 && tokens[0] == 0x01) {
        // One of a shared formula's cells: its tokens are with the first.
        const auto found = shared.find({U16(d, 22 + 1), U16(d, 22 + 3)});
        if (found != shared.end() && found->second.tokens &&
            found->second.rowFirst <= cell.row && cell.row <= found->second.rowLast &&
            found->second.colFirst <= cell.column && cell.column <= found->second.colLast) {
            cell.tokens = *found->second.tokens;
            cell.shared = true;
        }
        return cell;
    }
    cell.tokens = tokens;
    return cell;
}

void ReadCells(const Substream& part, const std::vector<std::u16string>& strings,
               formula::Sheet& sheet)
{
    const auto shared = SharedFormulas(part);
    auto number = [](double x) { return std::isfinite(x) ? Value::Num(x) : Value::Unknown(); };
    auto add = [&](int row, int col, Value value) {
        sheet.cells.push_back({static_cast<std::uint16_t>(row), static_cast<std::uint16_t>(col),
                               std::move(value), false, {}, false, nullptr});
    };
    for (const Record& record : part.records) {
        if (record.nested) {
            continue;
        }
        const Bytes& d = record.data;
        switch (record.type) {
        case kNumber: {
            double x;
            std::memcpy(&x, d.data() + 6, 8);
            add(U16(d, 0), U16(d, 2), number(x));
            break;
        }
        case kRk:
            add(U16(d, 0), U16(d, 2), number(DecodeRk(U32(d, 6))));
            break;
        case kMulRk:
            for (size_t at = 4; at + 6 + 2 <= d.size(); at += 6) {
                add(U16(d, 0), U16(d, 2) + (at - 4) / 6, number(DecodeRk(U32(d, at + 2))));
            }
            break;
        case kLabelSst: {
            const std::uint32_t index = U32(d, 6);
            add(U16(d, 0), U16(d, 2), index < strings.size() ? Value::Str({}) : Value::Unknown());
            sheet.cells.back().text = index < strings.size() ? &strings[index] : nullptr;
            break;
        }
        case kLabel:
        case kRString: {
            auto text = StringAt(d, 6);
            add(U16(d, 0), U16(d, 2), text ? Value::Str(std::move(*text)) : Value::Unknown());
            break;
        }
        case kBoolErr:
            if (d[7] == 0) {
                add(U16(d, 0), U16(d, 2), d[6] <= 1 ? Value::Bool(d[6]) : Value::Unknown());
            } else {
                add(U16(d, 0), U16(d, 2),
                    formula::IsErrorCode(d[6]) ? Value::Err(static_cast<formula::ErrorCode>(d[6]))
                                               : Value::Unknown());
            }
            break;
        case kFormula:
            sheet.cells.push_back(FormulaCell(record, shared));
            break;
        default:
            break;
        }
    }
    std::stable_sort(sheet.cells.begin(), sheet.cells.end(), [](const auto& a, const auto& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
}

// The sheets in tab order with their cells, and which part holds each.
formula::Book ReadBook(const std::vector<Substream>& parts,
                       const std::vector<std::u16string>& strings, std::vector<int>& sheetOfPart)
{
    formula::Book book;
    sheetOfPart.assign(parts.size(), -1);
    std::vector<bool> ownSupBook;
    std::map<std::uint32_t, size_t> partAt;  // a template may hold thousands of sheets
    for (size_t i = parts.size() - 1; i >= 1; --i) {
        partAt[parts[i].records.front().origin] = i;
    }
    for (const Record& record : parts.front().records) {
        const Bytes& d = record.data;
        if (record.nested) {
            continue;
        }
        if (record.type == kBoundSheet) {
            const std::uint32_t at = U32(d, 0);
            const int tab = static_cast<int>(book.sheets.size());
            formula::Sheet& sheet = book.sheets.emplace_back();
            sheet.worksheet = false;
            if (const auto part = partAt.find(at); part != partAt.end() && sheetOfPart[part->second] < 0) {
                sheetOfPart[part->second] = tab;
                sheet.worksheet = parts[part->second].kind == kWorksheetKind && (d[5] & 0x0F) == 0;
            }
        } else if (record.type == kSupBook) {
            ownSupBook.push_back(d.size() >= 4 && U16(d, 2) == 0x0401);
        } else if (record.type == kExternSheet && d.size() >= 2) {
            for (size_t k = 0, at = 2; k < U16(d, 0) && at + 6 <= d.size(); ++k, at += 6) {
                const std::uint16_t supBook = U16(d, at), first = U16(d, at + 2), last = U16(d, at + 4);
                const bool own = supBook < ownSupBook.size() && ownSupBook[supBook];
                book.externSheets.push_back(own && first == last ? first : -1);
            }
        }
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        if (sheetOfPart[i] >= 0 && book.sheets[sheetOfPart[i]].worksheet) {
            ReadCells(parts[i], strings, book.sheets[sheetOfPart[i]]);
        }
    }
    return book;
}

// The cached result of the formula record set to value (an empty text when
// it is unknown or too long to store), flagged for recalculation on load;
// the STRING record its text needs.
std::optional<Record> StoreResult(Record& record, const Value& value)
{
    std::uint8_t bytes[8] = {3, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    std::optional<Record> string;
    switch (value.kind) {
    case Kind::Number:
        std::memcpy(bytes, &value.number, 8);
        break;
    case Kind::Boolean:
    case Kind::Error:
        bytes[0] = value.Is(Kind::Boolean) ? 1 : 2;
        bytes[2] = value.Is(Kind::Boolean) ? static_cast<std::uint8_t>(value.number)
                                           : static_cast<std::uint8_t>(value.error);
        break;
    case Kind::Text: {
        const std::u16string& text = value.text;
        const bool wide = std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
        const size_t size = 3 + text.size() * (wide ? 2 : 1);
        if (text.empty() || size > kMaxRecordData) {
            break;
        }
        Record added = MakeRecord(kString, size);
        Put16(added.data, 0, static_cast<std::uint32_t>(text.size()));
        added.data[2] = wide ? 1 : 0;
        for (size_t k = 0; k < text.size(); ++k) {
            if (wide) {
                Put16(added.data, 3 + 2 * k, text[k]);
            } else {
                added.data[3 + k] = static_cast<std::uint8_t>(text[k]);
            }
        }
        string = std::move(added);
        bytes[0] = 0;
        break;
    }
    default:
        break;
    }
    std::memcpy(record.data.data() + 6, bytes, 8);
    Put16(record.data, 14, U16(record.data, 14) | 0x0001);  // always recalculate
    return string;
}

// The sheet's formula records with their results, each old STRING record
// replaced by the one of the new result.
void StoreResults(Substream& part, const formula::Sheet* sheet)
{
    auto resultOf = [&](const Record& record) {
        if (!sheet || !sheet->worksheet) {
            return Value::Unknown();
        }
        const std::pair<int, int> at(U16(record.data, 0), U16(record.data, 2));
        const auto found = std::lower_bound(
            sheet->cells.begin(), sheet->cells.end(), at, [](const formula::Cell& c, const auto& p) {
                return std::pair<int, int>(c.row, c.column) < p;
            });
        return found != sheet->cells.end() && found->row == at.first && found->column == at.second &&
                       found->formula
                   ? found->value
                   : Value::Unknown();
    };
    auto& records = part.records;
    std::vector<Record> kept;
    kept.reserve(records.size());
    std::optional<Record> string;
    auto flush = [&] {
        if (string) {
            kept.push_back(std::move(*string));
            string.reset();
        }
    };
    bool afterFormula = false, droppingString = false;
    for (Record& record : records) {
        if (record.nested) {
            flush();
            afterFormula = droppingString = false;
        } else if (record.type == kFormula) {
            flush();
            kept.push_back(std::move(record));
            string = StoreResult(kept.back(), resultOf(kept.back()));
            afterFormula = true;
            droppingString = false;
            continue;
        } else if (afterFormula && record.type == kString) {
            droppingString = true;
            continue;
        } else if (droppingString && record.type == kContinue) {
            continue;
        } else if (!(afterFormula && !droppingString &&
                     (record.type == kShrFmla || record.type == kArray || record.type == kTable))) {
            // The STRING goes after the records that belong to the formula.
            flush();
            afterFormula = droppingString = false;
        }
        kept.push_back(std::move(record));
    }
    flush();
    records = std::move(kept);
}

}  // namespace

bool PrecisionAsShown(const Substream& globals)
{
    return std::any_of(globals.records.begin(), globals.records.end(), [](const Record& record) {
        return !record.nested && record.type == kPrecision && record.data.size() >= 2 && U16(record.data, 0) == 0;
    });
}

void StoreFormulaResults(std::vector<Substream>& parts, const std::vector<std::u16string>& sharedStrings)
{
    std::vector<int> sheetOfPart;
    formula::Book book;
    // Results computed on full precision would be wrong there.
    if (!PrecisionAsShown(parts.front())) {
        book = ReadBook(parts, sharedStrings, sheetOfPart);
        formula::Evaluate(book);
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].kind == kWorksheetKind || parts[i].kind == kMacroSheetKind) {
            StoreResults(parts[i], i < sheetOfPart.size() && sheetOfPart[i] >= 0 ? &book.sheets[sheetOfPart[i]]
                                                                                   : nullptr);
        }
    }
}

}  // namespace quorvel::biff
