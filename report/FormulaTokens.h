#pragma once

// The parsed tokens (rgce) of a BIFF8 formula read one at a time, for the
// evaluator of Formula.cpp.

#include <cstdint>
#include <span>

#include "report/Formula.h"

namespace quorvel::formula {

// Numbers of BIFF8's built-in function table.
enum Function : std::uint16_t {
    kCount = 0,
    kIf = 1,
    kSum = 4,
    kAverage = 5,
    kMin = 6,
    kMax = 7,
    kPi = 19,
    kSqrt = 20,
    kExp = 21,
    kLn = 22,
    kLog10 = 23,
    kAbs = 24,
    kInt = 25,
    kRound = 27,
    kAnd = 36,
    kOr = 37,
    kNot = 38,
    kMod = 39,
    kLog = 109,
    kRoundUp = 212,
    kRoundDown = 213,
    kConcatenate = 336,
    kPower = 337,
};

// A rectangle of cells on one sheet; a single cell when both corners meet.
struct Area {
    int sheet = 0;
    int rowFirst = 0, rowLast = 0, colFirst = 0, colLast = 0;
    bool Single() const { return rowFirst == rowLast && colFirst == colLast; }
};

struct Token {
    enum class Kind : std::uint8_t {
        Unreadable,  // cut short, or not computed here: the formula is unknown
        Binary,      // op: 0x03 to 0x0E, + - * / ^ & and the comparisons
        Unary,       // op: 0x12 to 0x14, plus, minus and percent
        Ignored,     // parentheses, spaces and the other attributes
        SumOfOne,    // SUM of the operand on top of the stack
        Constant,    // value: a string, error, boolean or number, #REF! for a reference made invalid
        Function,    // function with count arguments
        Reference,   // area
    };
    Kind kind = Kind::Unreadable;
    size_t size = 0;  // bytes, the token's own included
    std::uint8_t op = 0;
    Value value;
    std::uint16_t function = 0;
    int count = 0;
    bool computed = false;  // a Function this evaluator knows, with a count it takes
    Area area;
};

// Where the formula stands: the cell that relative references of a shared
// formula count from, the sheet it is on, and the sheets of the book.
struct TokenPlace {
    const Cell& cell;
    int sheet = 0;
    const Book& book;
};

// The token at tokens[at].
Token ReadToken(std::span<const std::uint8_t> tokens, size_t at, const TokenPlace& place);

}  // namespace quorvel::formula
