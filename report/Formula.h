#pragma once

// The formulas of a BIFF8 workbook computed from their parsed tokens as a
// spreadsheet computes them, for the common arithmetic, comparison, text and
// aggregate operations. Where the major spreadsheet programs could disagree,
// or a formula uses anything else, the result is Unknown rather than a guess.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel::formula {

// The error values as BIFF8 codes them.
enum class ErrorCode : std::uint8_t {
    Null = 0x00,
    Div0 = 0x07,
    Value = 0x0F,
    Ref = 0x17,
    Name = 0x1D,
    Num = 0x24,
    NA = 0x2A,
};

bool IsErrorCode(std::uint8_t code);

struct Value {
    enum class Kind : std::uint8_t { Empty, Number, Text, Boolean, Error, Unknown };
    Kind kind = Kind::Empty;
    double number = 0;  // a Number, or 1 and 0 for TRUE and FALSE
    std::u16string text;
    ErrorCode error = ErrorCode::Null;

    static Value Num(double n) { return {Kind::Number, n, {}, ErrorCode::Null}; }
    static Value Str(std::u16string s) { return {Kind::Text, 0, std::move(s), ErrorCode::Null}; }
    static Value Bool(bool b) { return {Kind::Boolean, b ? 1.0 : 0.0, {}, ErrorCode::Null}; }
    static Value Err(ErrorCode e) { return {Kind::Error, 0, {}, e}; }
    static Value Unknown() { return {Kind::Unknown, 0, {}, ErrorCode::Null}; }
    bool Is(Kind k) const { return kind == k; }
    bool operator==(const Value&) const = default;
};

// A cell: a constant, or a formula whose value Evaluate fills in.
struct Cell {
    std::uint16_t row = 0;
    std::uint16_t column = 0;
    Value value;
    bool formula = false;
    // A formula's parsed tokens (rgce); those of a shared formula may hold
    // RefN and AreaN tokens relative to this cell.
    std::span<const std::uint8_t> tokens;
    bool shared = false;
    // A constant text kept elsewhere (a shared string), copied only when read.
    const std::u16string* text = nullptr;
};

struct Sheet {
    bool worksheet = true;    // references into any other kind of sheet are Unknown
    std::vector<Cell> cells;  // sorted by row, then column; one per cell
};

struct Book {
    std::vector<Sheet> sheets;  // in tab order
    // The sheet each EXTERNSHEET entry names, -1 for one outside this book
    // or a range of sheets.
    std::vector<int> externSheets;
};

// Computes every formula cell of the book in place. A cell that appears more
// than once in its sheet's list is Unknown.
void Evaluate(Book& book);

// "#DIV/0!" and the like.
std::u16string ErrorText(ErrorCode code);

}  // namespace quorvel::formula
