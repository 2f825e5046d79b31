#include "report/FormulaTokens.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string>

namespace quorvel::formula {
namespace {

struct Arity {
    int min, max;
};

std::optional<Arity> ArityOf(std::uint16_t function)
{
    switch (function) {
    case kCount: case kSum: case kAverage: case kMin: case kMax: case kAnd: case kOr:
    case kConcatenate:
        return Arity{1, 255};
    case kIf: return Arity{2, 3};
    case kPi: return Arity{0, 0};
    case kSqrt: case kExp: case kLn: case kLog10: case kAbs: case kInt: case kNot:
        return Arity{1, 1};
    case kRound: case kRoundUp: case kRoundDown: case kMod: case kPower:
        return Arity{2, 2};
    case kLog: return Arity{1, 2};
    default: return std::nullopt;
    }
}

std::uint16_t Get16(std::span<const std::uint8_t> data, size_t at)
{
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

// The reference at t[at] (after the token byte and, for 3-D ones, the sheet
// index): a cell (row, column) or an area (rows, then columns). Coordinates
// of relative RefN and AreaN tokens count from the formula's cell.
std::optional<Area> ReadArea(std::span<const std::uint8_t> t, size_t at, bool single, bool relativeToken,
                             bool shared, const Cell& cell, int sheet)
{
    int rows[2], cols[2];
    for (int k = 0; k < 2; ++k) {
        const size_t rowAt = single ? at : at + 2 * k;
        const size_t colAt = single ? at + 2 : at + 4 + 2 * k;
        const std::uint16_t row = Get16(t, rowAt);
        const std::uint16_t col = Get16(t, colAt);
        const bool rowRelative = col & 0x8000, colRelative = col & 0x4000;
        if ((rowRelative || colRelative) && shared && !relativeToken) {
            return std::nullopt;  // a relative 3-D reference in a shared formula
        }
        if (relativeToken && rowRelative) {
            rows[k] = (cell.row + row) & 0xFFFF;
        } else {
            rows[k] = row;
        }
        if (relativeToken && colRelative) {
            cols[k] = (cell.column + (col & 0xFF)) & 0xFF;
        } else if ((col & 0x3F00) != 0) {
            return std::nullopt;
        } else {
            cols[k] = col & 0xFF;
        }
    }
    if (rows[0] > rows[1] || cols[0] > cols[1]) {
        return std::nullopt;
    }
    return Area{sheet, rows[0], rows[1], cols[0], cols[1]};
}

Token Sized(Token::Kind kind, size_t size)
{
    Token token;
    token.kind = kind;
    token.size = size;
    return token;
}

Token Constant(Value value, size_t size)
{
    Token token = Sized(Token::Kind::Constant, size);
    token.value = std::move(value);
    return token;
}

// A token of a class (reference, value or array) at t[at]: functions and references.
Token ReadClassed(std::span<const std::uint8_t> t, size_t at, const TokenPlace& place)
{
    const std::uint8_t base = 0x20 | (t[at] & 0x1F);
    auto has = [&](size_t n) { return at + n <= t.size(); };
    size_t size;
    switch (base) {
    case 0x21:
    case 0x22: {  // function, fixed or variable argument count
        size = base == 0x21 ? 3 : 4;
        if (!has(size)) {
            return {};
        }
        Token token = Sized(Token::Kind::Function, size);
        token.function = Get16(t, at + size - 2);
        if (token.function & 0x8000) {
            return {};  // a macro command's equivalent, or no function of the table
        }
        const auto arity = ArityOf(token.function);
        if (base == 0x21) {
            if (!arity || arity->min != arity->max) {
                return {};  // its argument count is unknown here
            }
            token.count = arity->min;
        } else {
            token.count = t[at + 1] & 0x7F;
        }
        token.computed = arity && token.count >= arity->min && token.count <= arity->max;
        return token;
    }
    case 0x24: size = 5; break;   // Ref
    case 0x25: size = 9; break;   // Area
    case 0x2C: size = 5; break;   // RefN
    case 0x2D: size = 9; break;   // AreaN
    case 0x3A: size = 7; break;   // Ref3d
    case 0x3B: size = 11; break;  // Area3d
    case 0x2A: case 0x3C: case 0x2B: case 0x3D:  // references made invalid
        size = base == 0x2A ? 5 : base == 0x3C ? 7 : base == 0x2B ? 9 : 11;
        return has(size) ? Constant(Value::Err(ErrorCode::Ref), size) : Token{};
    default:
        return {};  // names, arrays, memory areas
    }
    if (!has(size)) {
        return {};
    }
    const bool relative = base == 0x2C || base == 0x2D;
    const bool shared = place.cell.shared;
    if (relative && !shared) {
        return {};
    }
    int target = place.sheet;
    size_t from = at + 1;
    if (base == 0x3A || base == 0x3B) {
        const std::vector<int>& externSheets = place.book.externSheets;
        const std::uint16_t ixti = Get16(t, at + 1);
        if (ixti >= externSheets.size() || externSheets[ixti] < 0 ||
            externSheets[ixti] >= static_cast<int>(place.book.sheets.size())) {
            return {};
        }
        target = externSheets[ixti];
        from += 2;
    }
    const auto area = ReadArea(t, from, base == 0x24 || base == 0x2C || base == 0x3A, relative, shared,
                               place.cell, target);
    if (!area) {
        return {};
    }
    Token token = Sized(Token::Kind::Reference, size);
    token.area = *area;
    return token;
}

}  // namespace

Token ReadToken(std::span<const std::uint8_t> t, size_t at, const TokenPlace& place)
{
    const std::uint8_t ptg = t[at];
    auto has = [&](size_t n) { return at + n <= t.size(); };
    if (ptg >= 0x80) {
        return {};
    }
    if (ptg >= 0x20) {
        return ReadClassed(t, at, place);
    }
    switch (ptg) {
    case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: {
        Token token = Sized(Token::Kind::Binary, 1);
        token.op = ptg;
        return token;
    }
    case 0x12: case 0x13: case 0x14: {  // unary plus, minus, percent
        Token token = Sized(Token::Kind::Unary, 1);
        token.op = ptg;
        return token;
    }
    case 0x15:  // parentheses
        return Sized(Token::Kind::Ignored, 1);
    case 0x17: {  // string
        if (!has(3)) {
            return {};
        }
        const size_t count = t[at + 1];
        const bool wide = t[at + 2] & 1;
        if (!has(3 + count * (wide ? 2 : 1))) {
            return {};
        }
        std::u16string text;
        for (size_t k = 0; k < count; ++k) {
            text += wide ? static_cast<char16_t>(Get16(t, at + 3 + 2 * k)) : t[at + 3 + k];
        }
        return Constant(Value::Str(std::move(text)), 3 + count * (wide ? 2 : 1));
    }
    case 0x19: {  // attributes: jumps of IF, spaces, volatility, SUM of one argument
        if (!has(4)) {
            return {};
        }
        const std::uint8_t flags = t[at + 1];
        if (flags & 0x24) {
            return {};  // CHOOSE's jump table, macro assignment
        }
        return Sized(flags & 0x10 ? Token::Kind::SumOfOne : Token::Kind::Ignored, 4);
    }
    case 0x1C:  // error
        if (!has(2) || !IsErrorCode(t[at + 1])) {
            return {};
        }
        return Constant(Value::Err(static_cast<ErrorCode>(t[at + 1])), 2);
    case 0x1D:  // boolean
        return has(2) ? Constant(Value::Bool(t[at + 1] != 0), 2) : Token{};
    case 0x1E:  // integer
        return has(3) ? Constant(Value::Num(Get16(t, at + 1)), 3) : Token{};
    case 0x1F: {  // number
        if (!has(9)) {
            return {};
        }
        double number;
        std::memcpy(&number, t.data() + at + 1, 8);
        if (!std::isfinite(number)) {
            return {};
        }
        return Constant(Value::Num(number), 9);
    }
    default:
        return {};  // ranges, unions, arrays, missing arguments, ...
    }
}

}  // namespace quorvel::formula
