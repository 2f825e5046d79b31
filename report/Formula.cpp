#include "report/Formula.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>

namespace quorvel::formula {
namespace {

using Kind = Value::Kind;

// How deep references to other formulas are followed before giving up; far
// beyond real templates, well within the stack.
constexpr int kMaxDepth = 400;

// Tokens read plus cells visited for one workbook: far beyond any real
// template, and a bound on the time a hostile one can take (formulas that
// each sum every cell); what is left when it runs out is unknown.
constexpr long kMaxSteps = 5'000'000;

// Below this share of its operands' size, a sum or difference is left
// unknown: Excel and LibreOffice each snap such near-cancellations in their
// own way, and the IEEE result is neither's.
constexpr double kCancellation = 1e-12;

// A dividend of MOD this much smaller than the divisor, and of the other
// sign, leaves a remainder that differs from the divisor past the digits the
// programs keep: they give the divisor, 0 or #VALUE!.
constexpr double kTinyDividend = 1e-15;

// Within this share of its size from a multiple of the rounding step, the
// argument of ROUNDUP and ROUNDDOWN is rounded up by one program and down by
// another.
constexpr double kNearBoundary = 1e-12;

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

// A rectangle of cells on one sheet; a single cell when both corners meet.
struct Area {
    int sheet = 0;
    int rowFirst = 0, rowLast = 0, colFirst = 0, colLast = 0;
    bool Single() const { return rowFirst == rowLast && colFirst == colLast; }
};

// An operand on the evaluation stack: a value, or a reference still to be read.
struct Item {
    Value value;
    std::optional<Area> area;
};

// The operands' error when they hold one error code, Unknown when any is
// unknown or they hold different errors (the programs pick among several in
// different orders); nothing when all are proper values.
std::optional<Value> Problem(std::initializer_list<const Value*> values)
{
    std::optional<Value> found;
    for (const Value* v : values) {
        if (v->Is(Kind::Unknown)) {
            return Value::Unknown();
        }
        if (v->Is(Kind::Error)) {
            if (found && found->error != v->error) {
                return Value::Unknown();
            }
            found = *v;
        }
    }
    return found;
}

Value Finite(double r)
{
    if (!std::isfinite(r)) {
        return Value::Err(ErrorCode::Num);
    }
    return Value::Num(r == 0 ? 0.0 : r);  // no negative zero
}

bool Cancels(double x, double y, double r)
{
    return r != 0 && std::fabs(r) <= kCancellation * std::max(std::fabs(x), std::fabs(y));
}

// Longer numeric text is read differently by the programs.
constexpr size_t kMaxNumericText = 300;

// Text as arithmetic reads it: a whole number, perhaps with an exponent,
// spaces around it allowed; #VALUE! for text without a digit or a letter;
// Unknown for anything else. A decimal separator, dates, times, fractions,
// currencies and grouping are read by the reader's locale, and a word may be
// TRUE or FALSE in its language ("VERO"+1 is 2 in Italian).
Value TextToNumber(const std::u16string& text)
{
    if (text.size() > kMaxNumericText) {
        return Value::Unknown();
    }
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ') {
        ++begin;
    }
    while (end > begin && text[end - 1] == u' ') {
        --end;
    }
    bool digit = false, letter = false;
    for (char16_t c : text) {
        if (c >= 0x80) {
            return Value::Unknown();
        }
        digit = digit || (c >= u'0' && c <= u'9');
        letter = letter || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    }
    if (!digit) {
        return letter ? Value::Unknown() : Value::Err(ErrorCode::Value);
    }
    std::string ascii(text.begin() + begin, text.begin() + end);
    size_t at = 0;
    auto digits = [&] {
        const size_t from = at;
        while (at < ascii.size() && ascii[at] >= '0' && ascii[at] <= '9') {
            ++at;
        }
        return at > from;
    };
    at += at < ascii.size() && ascii[at] == '-';
    bool plain = digits();
    if (plain && at < ascii.size() && (ascii[at] == 'e' || ascii[at] == 'E')) {
        ++at;
        at += at < ascii.size() && (ascii[at] == '+' || ascii[at] == '-');
        plain = digits();
    }
    if (!plain || at != ascii.size()) {
        return Value::Unknown();
    }
    double number = 0;
    const auto read = std::from_chars(ascii.data(), ascii.data() + ascii.size(), number);
    return read.ec == std::errc() && std::isfinite(number) ? Value::Num(number) : Value::Unknown();
}

Value ToNumber(const Value& v)
{
    switch (v.kind) {
    case Kind::Empty: return Value::Num(0);
    case Kind::Boolean: return Value::Num(v.number);
    case Kind::Text: return TextToNumber(v.text);
    default: return v;
    }
}

// A number's digits and decimal separator as text depend on the reader and
// its locale (90.83941650390625 is "90,8394165039063" in an Italian
// LibreOffice); booleans become "TRUE" in Excel but "1" in LibreOffice.
Value ToText(const Value& v)
{
    switch (v.kind) {
    case Kind::Empty: return Value::Str({});
    case Kind::Number:
    case Kind::Boolean: return Value::Unknown();
    default: return v;
    }
}

// A number's leading significant digits: a spreadsheet rounds on its first
// 15, which is all it shows of it.
struct Decimal {
    bool negative = false;
    std::string digits;  // the first not 0, unless the number is 0
    int exponent = 0;    // of the first digit
};

Decimal ToDecimal(double x, int significant)
{
    char buffer[64];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(x), std::chars_format::scientific,
                              significant - 1).ptr;
    Decimal d;
    d.negative = x < 0;
    d.digits = std::string(1, buffer[0]) + std::string(buffer + 2, significant - 1);
    const char* e = std::find(buffer, end, 'e');
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, d.exponent);
    return d;
}

double FromDecimal(bool negative, const std::string& digits, int exponent)
{
    const std::string text = (negative ? "-0." : "0.") + digits + "e" + std::to_string(exponent + 1);
    double x = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), x).ec == std::errc::result_out_of_range) {
        x = exponent > 0 ? HUGE_VAL : 0.0;  // as strtod reads it, for Finite to judge
        return negative ? -x : x;
    }
    return x;
}

enum class Rounding { Nearest, Up, Down };

// Enough significant digits to tell a double from any half-way point between
// the decimals of its first 17.
constexpr int kExactDigits = 40;

// x rounded at 10^-places, half away from zero, away from zero or toward
// zero, on its first significant digits.
double RoundDecimal(double x, int places, Rounding mode, int significant = 15)
{
    if (x == 0) {
        return 0;
    }
    const Decimal d = ToDecimal(x, significant);
    const int keep = d.exponent + places + 1;  // digits kept
    if (keep >= significant) {
        return FromDecimal(d.negative, d.digits, d.exponent);
    }
    std::string kept = keep > 0 ? d.digits.substr(0, keep) : std::string();
    const std::string dropped = keep > 0 ? d.digits.substr(keep) : d.digits;
    bool up = false;
    if (mode == Rounding::Nearest) {
        up = keep >= 0 && dropped[0] >= '5';
    } else if (mode == Rounding::Up) {
        up = dropped.find_first_not_of('0') != std::string::npos;
    }
    if (kept.empty()) {
        kept = "0";
    }
    if (up) {
        int at = static_cast<int>(kept.size()) - 1;
        while (at >= 0 && kept[at] == '9') {
            kept[at--] = '0';
        }
        if (at < 0) {
            kept.insert(kept.begin(), '1');
        } else {
            ++kept[at];
        }
    }
    // The last kept digit stands for 10^-places.
    return FromDecimal(d.negative, kept, -places + static_cast<int>(kept.size()) - 1);
}

double Snap15(double x)
{
    return x == 0 ? 0 : RoundDecimal(x, 400, Rounding::Nearest);
}

// ROUND: half away from zero, on the first 15 significant digits when it
// rounds within them, as a spreadsheet shows the number; on every digit of
// the double when it rounds past them (ROUND(1E15+0.5,0) is 1000000000000001).
double Round(double x, int places)
{
    if (x == 0) {
        return 0;
    }
    const int kept = ToDecimal(x, 15).exponent + places + 1;
    return RoundDecimal(x, places, Rounding::Nearest, kept < 15 ? 15 : kExactDigits);
}

// -1, 0 or 1; nothing when the programs would not agree (accents, punctuation
// and other scripts sort by locale).
std::optional<int> CompareText(const std::u16string& a, const std::u16string& b, bool equality)
{
    auto fold = [](char16_t c) -> char16_t { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
    auto plain = [&](char16_t c) {
        return equality ? c >= 0x20 && c < 0x7F
                        : (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    };
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if ((i < a.size() && !plain(a[i])) || (i < b.size() && !plain(b[i]))) {
            return std::nullopt;
        }
    }
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        const char16_t x = fold(a[i]), y = fold(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

Value Compare(std::uint8_t op, Value a, Value b)
{
    if (auto p = Problem({&a, &b})) {
        return *p;
    }
    // An empty cell compares as the other side's kind of value.
    if (a.Is(Kind::Empty)) {
        a = b.Is(Kind::Text) ? Value::Str({}) : b.Is(Kind::Boolean) ? Value::Unknown() : Value::Num(0);
    }
    if (b.Is(Kind::Empty)) {
        b = a.Is(Kind::Text) ? Value::Str({}) : a.Is(Kind::Boolean) ? Value::Unknown() : Value::Num(0);
    }
    if (a.Is(Kind::Unknown) || b.Is(Kind::Unknown)) {
        return Value::Unknown();
    }
    const bool equality = op == 0x0B || op == 0x0E;
    int order;
    if (a.kind != b.kind) {
        // Numbers sort before text; booleans are numbers in LibreOffice only.
        if (a.Is(Kind::Boolean) || b.Is(Kind::Boolean)) {
            return Value::Unknown();
        }
        order = a.Is(Kind::Number) ? -1 : 1;
    } else if (a.Is(Kind::Text)) {
        const auto c = CompareText(a.text, b.text, equality);
        if (!c) {
            return Value::Unknown();
        }
        order = *c;
    } else {
        const double x = a.number, y = b.number;
        if (x != y && std::fabs(x - y) <= 1e-13 * std::max(std::fabs(x), std::fabs(y))) {
            return Value::Unknown();  // equal to the programs' tolerance, not to IEEE
        }
        order = x < y ? -1 : x > y ? 1 : 0;
    }
    switch (op) {
    case 0x09: return Value::Bool(order < 0);
    case 0x0A: return Value::Bool(order <= 0);
    case 0x0B: return Value::Bool(order == 0);
    case 0x0C: return Value::Bool(order >= 0);
    case 0x0D: return Value::Bool(order > 0);
    default: return Value::Bool(order != 0);
    }
}

Value Power(double x, double y)
{
    // 0^0, 0^-n and roots of negative numbers differ between the programs.
    if ((x == 0 && y <= 0) || (x < 0 && y != std::floor(y))) {
        return Value::Unknown();
    }
    const double r = std::pow(x, y);
    // An underflow is 0 in one program and #NUM! in another.
    if (x != 0 && std::fabs(r) < std::numeric_limits<double>::min()) {
        return Value::Unknown();
    }
    return Finite(r);
}

Value Arithmetic(std::uint8_t op, const Value& left, const Value& right)
{
    const Value a = ToNumber(left), b = ToNumber(right);
    if (auto p = Problem({&a, &b})) {
        return *p;
    }
    const double x = a.number, y = b.number;
    switch (op) {
    case 0x03: {
        const double r = x + y;
        return Cancels(x, y, r) ? Value::Unknown() : Finite(r);
    }
    case 0x04: {
        const double r = x - y;
        return Cancels(x, y, r) ? Value::Unknown() : Finite(r);
    }
    case 0x05: return Finite(x * y);
    case 0x06: return y == 0 ? Value::Err(ErrorCode::Div0) : Finite(x / y);
    default: return Power(x, y);
    }
}

Value Mod(double a, double b)
{
    if (b == 0) {
        return Value::Err(ErrorCode::Div0);
    }
    const double q = a / b;
    // Large quotients were #NUM! in Excel; near-integer ones are snapped by
    // LibreOffice; see kTinyDividend.
    if (!std::isfinite(q) || std::fabs(q) >= 134217728.0 ||
        (q != std::floor(q) && Snap15(q) == std::floor(Snap15(q))) ||
        ((a < 0) != (b < 0) && std::fabs(a) <= kTinyDividend * std::fabs(b))) {
        return Value::Unknown();
    }
    double r = std::fmod(a, b);
    if (r != 0 && (r < 0) != (b < 0)) {
        r += b;
    }
    const double direct = a - b * std::floor(q);
    if (std::fabs(r - direct) > 1e-13 * std::fabs(r) || Cancels(a, b, r) || std::fabs(r) >= std::fabs(b)) {
        return Value::Unknown();
    }
    return Finite(r);
}

class Evaluator {
public:
    explicit Evaluator(Book& book);
    void Run();

private:
    enum class State : std::uint8_t { Constant, Pending, Busy, Done };
    struct Status {
        State state = State::Constant;
        bool tainted = false;  // met a cycle or the depth limit: unknown whatever uses it
    };

    void EvaluateCell(int sheet, size_t index);
    Value ValueAt(int sheet, size_t index);
    Value Scalar(const Item& item);
    Value Compute(const Cell& cell, int sheet);
    std::optional<Area> ReadArea(std::span<const std::uint8_t> t, size_t at, bool single,
                                 bool relative, bool shared, const Cell& cell, int sheet);
    Item Apply(std::uint16_t function, std::vector<Item>& stack, int count);
    Value Numbers(std::span<const Item> args, bool logical, bool count, std::vector<double>& out);
    Value Aggregate(std::uint16_t function, std::span<const Item> args);

    bool Spent()
    {
        taint_ = taint_ || ++steps_ > kMaxSteps;
        return steps_ > kMaxSteps;
    }

    Book& book_;
    std::vector<std::vector<Status>> status_;
    int depth_ = 0;
    bool taint_ = false;
    long steps_ = 0;
};

Evaluator::Evaluator(Book& book) : book_(book)
{
    for (Sheet& sheet : book_.sheets) {
        auto& status = status_.emplace_back(sheet.cells.size());
        for (size_t i = 0; i < sheet.cells.size(); ++i) {
            Cell& cell = sheet.cells[i];
            const bool twice = (i > 0 && sheet.cells[i - 1].row == cell.row &&
                                sheet.cells[i - 1].column == cell.column) ||
                               (i + 1 < sheet.cells.size() && sheet.cells[i + 1].row == cell.row &&
                                sheet.cells[i + 1].column == cell.column);
            if (twice || (cell.formula && !sheet.worksheet)) {
                cell.value = Value::Unknown();
                cell.text = nullptr;
            } else if (cell.formula) {
                status[i].state = State::Pending;
            }
        }
    }
}

void Evaluator::Run()
{
    for (size_t s = 0; s < book_.sheets.size(); ++s) {
        for (size_t i = 0; i < book_.sheets[s].cells.size(); ++i) {
            if (status_[s][i].state == State::Pending) {
                EvaluateCell(static_cast<int>(s), i);
            }
        }
    }
}

void Evaluator::EvaluateCell(int sheet, size_t index)
{
    Status& status = status_[sheet][index];
    status.state = State::Busy;
    const bool outer = taint_;
    taint_ = false;
    Value value;
    if (depth_ >= kMaxDepth) {
        taint_ = true;
    } else {
        ++depth_;
        value = Compute(book_.sheets[sheet].cells[index], sheet);
        --depth_;
    }
    status.tainted = taint_;
    book_.sheets[sheet].cells[index].value = taint_ ? Value::Unknown() : std::move(value);
    status.state = State::Done;
    taint_ = outer || status.tainted;
}

Value Evaluator::ValueAt(int sheet, size_t index)
{
    Status& status = status_[sheet][index];
    if (status.state == State::Pending) {
        EvaluateCell(sheet, index);
    }
    if (status.state == State::Busy || status.tainted) {
        taint_ = true;
        return Value::Unknown();
    }
    const Cell& cell = book_.sheets[sheet].cells[index];
    return cell.text ? Value::Str(*cell.text) : cell.value;
}

Value Evaluator::Scalar(const Item& item)
{
    if (!item.area) {
        return item.value;
    }
    const Area& a = *item.area;
    if (!a.Single()) {
        return Value::Unknown();  // implicit intersection is not followed
    }
    const Sheet& sheet = book_.sheets[a.sheet];
    if (!sheet.worksheet) {
        return Value::Unknown();
    }
    const auto found = std::lower_bound(
        sheet.cells.begin(), sheet.cells.end(), std::pair(a.rowFirst, a.colFirst),
        [](const Cell& c, const std::pair<int, int>& at) { return std::pair<int, int>(c.row, c.column) < at; });
    if (found == sheet.cells.end() || found->row != a.rowFirst || found->column != a.colFirst) {
        return Value{};
    }
    return ValueAt(a.sheet, found - sheet.cells.begin());
}

// The reference at t[at] (after the token byte and, for 3-D ones, the sheet
// index): a cell (row, column) or an area (rows, then columns). Coordinates
// of relative RefN and AreaN tokens count from the formula's cell.
std::optional<Area> Evaluator::ReadArea(std::span<const std::uint8_t> t, size_t at, bool single,
                                        bool relativeToken, bool shared, const Cell& cell, int sheet)
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

Value Evaluator::Compute(const Cell& cell, int sheet)
{
    const std::span<const std::uint8_t> t = cell.tokens;
    const bool shared = cell.shared;
    std::vector<Item> stack;
    auto push = [&](Value v) { stack.push_back({std::move(v), std::nullopt}); };
    size_t at = 0;
    while (at < t.size()) {
        const std::uint8_t ptg = t[at];
        auto has = [&](size_t n) { return at + n <= t.size(); };
        if (ptg >= 0x80 || Spent()) {
            return Value::Unknown();
        }
        if (ptg >= 0x20) {
            const std::uint8_t base = 0x20 | (ptg & 0x1F);
            std::optional<Area> area;
            size_t size;
            switch (base) {
            case 0x21:
            case 0x22: {  // function, fixed or variable argument count
                size = base == 0x21 ? 3 : 4;
                if (!has(size)) {
                    return Value::Unknown();
                }
                const std::uint16_t function = Get16(t, at + size - 2);
                const auto arity = ArityOf(function & 0x7FFF);
                int count;
                if (base == 0x21) {
                    if (!arity || arity->min != arity->max) {
                        return Value::Unknown();  // its argument count is unknown here
                    }
                    count = arity->min;
                } else {
                    count = t[at + 1] & 0x7F;
                    if (function & 0x8000) {
                        return Value::Unknown();
                    }
                }
                if (static_cast<size_t>(count) > stack.size()) {
                    return Value::Unknown();
                }
                if (!arity || count < arity->min || count > arity->max) {
                    stack.resize(stack.size() - count);
                    push(Value::Unknown());
                } else {
                    Item result = Apply(function, stack, count);
                    stack.push_back(std::move(result));
                }
                at += size;
                continue;
            }
            case 0x24: size = 5; break;   // Ref
            case 0x25: size = 9; break;   // Area
            case 0x2C: size = 5; break;   // RefN
            case 0x2D: size = 9; break;   // AreaN
            case 0x3A: size = 7; break;   // Ref3d
            case 0x3B: size = 11; break;  // Area3d
            case 0x2A: case 0x3C: case 0x2B: case 0x3D: {  // references made invalid
                size = base == 0x2A ? 5 : base == 0x3C ? 7 : base == 0x2B ? 9 : 11;
                if (!has(size)) {
                    return Value::Unknown();
                }
                push(Value::Err(ErrorCode::Ref));
                at += size;
                continue;
            }
            default:
                return Value::Unknown();  // names, arrays, memory areas
            }
            if (!has(size)) {
                return Value::Unknown();
            }
            const bool relative = base == 0x2C || base == 0x2D;
            if (relative && !shared) {
                return Value::Unknown();
            }
            int target = sheet;
            size_t from = at + 1;
            if (base == 0x3A || base == 0x3B) {
                const std::uint16_t ixti = Get16(t, at + 1);
                if (ixti >= book_.externSheets.size() || book_.externSheets[ixti] < 0 ||
                    book_.externSheets[ixti] >= static_cast<int>(book_.sheets.size())) {
                    return Value::Unknown();
                }
                target = book_.externSheets[ixti];
                from += 2;
            }
            area = ReadArea(t, from, base == 0x24 || base == 0x2C || base == 0x3A, relative, shared,
                            cell, target);
            if (!area) {
                return Value::Unknown();
            }
            stack.push_back({Value{}, area});
            at += size;
            continue;
        }
        switch (ptg) {
        case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: {
            if (stack.size() < 2) {
                return Value::Unknown();
            }
            const Value right = Scalar(stack.back());
            stack.pop_back();
            const Value left = Scalar(stack.back());
            stack.pop_back();
            if (ptg <= 0x07) {
                push(Arithmetic(ptg, left, right));
            } else if (ptg == 0x08) {
                const Value a = ToText(left), b = ToText(right);
                if (auto p = Problem({&a, &b})) {
                    push(*p);
                } else {
                    push(Value::Str(a.text + b.text));
                }
            } else {
                push(Compare(ptg, left, right));
            }
            ++at;
            break;
        }
        case 0x12: case 0x13: case 0x14: {  // unary plus, minus, percent
            if (stack.empty()) {
                return Value::Unknown();
            }
            Value v = Scalar(stack.back());
            stack.pop_back();
            if (ptg != 0x12) {
                v = ToNumber(v);
                if (v.Is(Kind::Number)) {
                    v = ptg == 0x13 ? Finite(-v.number) : Finite(v.number / 100);
                }
            }
            push(std::move(v));
            ++at;
            break;
        }
        case 0x15:  // parentheses
            ++at;
            break;
        case 0x17: {  // string
            if (!has(3)) {
                return Value::Unknown();
            }
            const size_t count = t[at + 1];
            const bool wide = t[at + 2] & 1;
            if (!has(3 + count * (wide ? 2 : 1))) {
                return Value::Unknown();
            }
            std::u16string text;
            for (size_t k = 0; k < count; ++k) {
                text += wide ? static_cast<char16_t>(Get16(t, at + 3 + 2 * k)) : t[at + 3 + k];
            }
            push(Value::Str(std::move(text)));
            at += 3 + count * (wide ? 2 : 1);
            break;
        }
        case 0x19: {  // attributes: jumps of IF, spaces, volatility, SUM of one argument
            if (!has(4)) {
                return Value::Unknown();
            }
            const std::uint8_t flags = t[at + 1];
            if (flags & 0x24) {
                return Value::Unknown();  // CHOOSE's jump table, macro assignment
            }
            if (flags & 0x10) {
                if (stack.empty()) {
                    return Value::Unknown();
                }
                Item result = Apply(kSum, stack, 1);
                stack.push_back(std::move(result));
            }
            at += 4;
            break;
        }
        case 0x1C:  // error
            if (!has(2) || !IsErrorCode(t[at + 1])) {
                return Value::Unknown();
            }
            push(Value::Err(static_cast<ErrorCode>(t[at + 1])));
            at += 2;
            break;
        case 0x1D:  // boolean
            if (!has(2)) {
                return Value::Unknown();
            }
            push(Value::Bool(t[at + 1] != 0));
            at += 2;
            break;
        case 0x1E:  // integer
            if (!has(3)) {
                return Value::Unknown();
            }
            push(Value::Num(Get16(t, at + 1)));
            at += 3;
            break;
        case 0x1F: {  // number
            if (!has(9)) {
                return Value::Unknown();
            }
            double number;
            std::memcpy(&number, t.data() + at + 1, 8);
            if (!std::isfinite(number)) {
                return Value::Unknown();
            }
            push(Value::Num(number));
            at += 9;
            break;
        }
        default:
            return Value::Unknown();  // ranges, unions, arrays, missing arguments, ...
        }
    }
    if (stack.size() != 1) {
        return Value::Unknown();
    }
    Value result = Scalar(stack.back());
    // An empty cell's value shows as 0 in the formula that reads it.
    return result.Is(Kind::Empty) ? Value::Num(0) : result;
}

// The numbers (or, for AND and OR, the logical values) among the arguments:
// referenced cells give their numbers (text and empty cells skipped),
// arguments given directly give numbers and booleans. Errors are skipped by
// COUNT and passed on by the others. The result is an error or Unknown, or
// Empty when the numbers are in out.
Value Evaluator::Numbers(std::span<const Item> args, bool logical, bool count,
                         std::vector<double>& out)
{
    std::optional<Value> error;
    auto take = [&](const Value& v, bool referenced) -> bool {
        switch (v.kind) {
        case Kind::Number: out.push_back(v.number); return true;
        case Kind::Text: return referenced;
        case Kind::Empty: return referenced;
        // LibreOffice counts referenced booleans as numbers, Excel skips them.
        case Kind::Boolean:
            if (referenced && !logical) {
                return false;
            }
            out.push_back(v.number);
            return true;
        case Kind::Error:
            if (!count) {
                if (error && error->error != v.error) {
                    return false;
                }
                error = v;
            }
            return true;
        default: return false;
        }
    };
    for (const Item& arg : args) {
        if (!arg.area) {
            if (!take(arg.value, false)) {
                return Value::Unknown();
            }
            continue;
        }
        const Area& a = *arg.area;
        const Sheet& sheet = book_.sheets[a.sheet];
        if (!sheet.worksheet) {
            return Value::Unknown();
        }
        auto it = std::lower_bound(
            sheet.cells.begin(), sheet.cells.end(), std::pair(a.rowFirst, a.colFirst),
            [](const Cell& c, const std::pair<int, int>& p) { return std::pair<int, int>(c.row, c.column) < p; });
        for (; it != sheet.cells.end() && it->row <= a.rowLast; ++it) {
            if (Spent()) {
                return Value::Unknown();
            }
            if (it->column >= a.colFirst && it->column <= a.colLast &&
                !take(ValueAt(a.sheet, it - sheet.cells.begin()), true)) {
                return Value::Unknown();
            }
        }
    }
    return error ? *error : Value{};
}

// Compensated, so that it agrees with LibreOffice's compensated sum; Unknown
// where it and Excel's plain sum could part.
std::optional<double> Sum(const std::vector<double>& numbers)
{
    double sum = 0, compensation = 0, plain = 0, magnitude = 0;
    for (double x : numbers) {
        const double t = sum + x;
        compensation += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
        plain += x;
        magnitude += std::fabs(x);
    }
    const double result = sum + compensation;
    if (!std::isfinite(magnitude) || std::fabs(result - plain) > 1e-13 * std::fabs(result) ||
        (result != 0 && std::fabs(result) <= kCancellation * magnitude)) {
        return std::nullopt;
    }
    return result == 0 ? 0.0 : result;
}

Value Evaluator::Aggregate(std::uint16_t function, std::span<const Item> args)
{
    std::vector<double> numbers;
    const bool logical = function == kAnd || function == kOr;
    const Value problem = Numbers(args, logical, function == kCount, numbers);
    if (!problem.Is(Kind::Empty)) {
        return problem;
    }
    switch (function) {
    case kCount: return Value::Num(static_cast<double>(numbers.size()));
    case kMin:
    case kMax:
        if (numbers.empty()) {
            return Value::Num(0);
        }
        return Value::Num(function == kMin ? *std::min_element(numbers.begin(), numbers.end())
                                           : *std::max_element(numbers.begin(), numbers.end()));
    case kAnd:
    case kOr:
        if (numbers.empty()) {
            return Value::Err(ErrorCode::Value);
        }
        return Value::Bool(function == kAnd
                               ? std::all_of(numbers.begin(), numbers.end(), [](double x) { return x != 0; })
                               : std::any_of(numbers.begin(), numbers.end(), [](double x) { return x != 0; }));
    default: {
        const auto sum = Sum(numbers);
        if (!sum) {
            return Value::Unknown();
        }
        if (function == kSum) {
            return Value::Num(*sum);
        }
        if (numbers.empty()) {
            return Value::Err(ErrorCode::Div0);
        }
        return Finite(*sum / static_cast<double>(numbers.size()));
    }
    }
}

bool Truth(const Value& v, std::optional<Value>& problem)
{
    switch (v.kind) {
    case Kind::Number:
    case Kind::Boolean: return v.number != 0;
    case Kind::Empty: return false;
    case Kind::Error: problem = v; return false;
    default: problem = Value::Unknown(); return false;  // text reads as TRUE/FALSE in one program only
    }
}

Item Evaluator::Apply(std::uint16_t function, std::vector<Item>& stack, int count)
{
    std::vector<Item> args(std::make_move_iterator(stack.end() - count),
                           std::make_move_iterator(stack.end()));
    stack.resize(stack.size() - count);
    auto value = [](Value v) { return Item{std::move(v), std::nullopt}; };

    switch (function) {
    case kCount: case kSum: case kAverage: case kMin: case kMax: case kAnd: case kOr:
        return value(Aggregate(function, args));
    case kIf: {
        std::optional<Value> problem;
        const bool chosen = Truth(Scalar(args[0]), problem);
        if (problem) {
            return value(*problem);
        }
        if (chosen) {
            return std::move(args[1]);
        }
        return count == 3 ? std::move(args[2]) : value(Value::Bool(false));
    }
    case kNot: {
        std::optional<Value> problem;
        const bool truth = Truth(Scalar(args[0]), problem);
        return value(problem ? *problem : Value::Bool(!truth));
    }
    case kConcatenate: {
        std::u16string text;
        std::optional<Value> error;
        for (const Item& arg : args) {
            const Value v = ToText(Scalar(arg));
            if (v.Is(Kind::Unknown) || (v.Is(Kind::Error) && error && error->error != v.error)) {
                return value(Value::Unknown());
            }
            if (v.Is(Kind::Error)) {
                error = v;
            } else {
                text += v.text;
            }
        }
        return value(error ? *error : Value::Str(std::move(text)));
    }
    case kPi:
        return value(Value::Num(std::numbers::pi));
    default:
        break;
    }

    // The numeric functions of one or two arguments.
    const Value a = ToNumber(Scalar(args[0]));
    const Value b = count > 1 ? ToNumber(Scalar(args[1])) : Value::Num(10);
    if (auto p = Problem({&a, &b})) {
        return value(*p);
    }
    const double x = a.number, y = b.number;
    switch (function) {
    case kAbs: return value(Value::Num(std::fabs(x)));
    case kSqrt: return value(x < 0 ? Value::Unknown() : Finite(std::sqrt(x)));
    case kExp: return value(Finite(std::exp(x)));
    case kLn: return value(x <= 0 ? Value::Unknown() : Finite(std::log(x)));
    case kLog10: return value(x <= 0 ? Value::Unknown() : Finite(std::log10(x)));
    case kLog:
        // Non-positive arguments and base 1 give different errors in the programs.
        if (x <= 0 || y <= 0 || y == 1) {
            return value(Value::Unknown());
        }
        return value(Finite(count == 1 ? std::log10(x) : std::log(x) / std::log(y)));
    case kPower: return value(Power(x, y));
    case kMod: return value(Mod(x, y));
    case kInt: {
        const double snapped = Snap15(x);
        // LibreOffice floors the 15-digit value, Excel the exact one.
        if (std::floor(snapped) != std::floor(x)) {
            return value(Value::Unknown());
        }
        return value(Finite(std::floor(x)));
    }
    default: {  // ROUND, ROUNDUP, ROUNDDOWN
        // Past any double's digits, or digits that are not whole, which the
        // programs cut differently.
        if (std::fabs(y) > 100 || y != std::trunc(y)) {
            return value(Value::Unknown());
        }
        const int places = static_cast<int>(y);
        if (function == kRound) {
            return value(Finite(Round(x, places)));
        }
        // LibreOffice first rounds the argument to 12 significant digits,
        // Excel to 15: near a boundary their answers part.
        const double boundary = RoundDecimal(x, places, Rounding::Nearest, 17);
        if (boundary == x) {
            return value(Finite(x));
        }
        if (std::fabs(x - boundary) <= kNearBoundary * std::fabs(x)) {
            return value(Value::Unknown());
        }
        return value(Finite(RoundDecimal(x, places, function == kRoundUp ? Rounding::Up : Rounding::Down, 17)));
    }
    }
}

}  // namespace

bool IsErrorCode(std::uint8_t code)
{
    switch (static_cast<ErrorCode>(code)) {
    case ErrorCode::Null: case ErrorCode::Div0: case ErrorCode::Value: case ErrorCode::Ref:
    case ErrorCode::Name: case ErrorCode::Num: case ErrorCode::NA:
        return true;
    }
    return false;
}

std::u16string ErrorText(ErrorCode code)
{
    switch (code) {
    case ErrorCode::Null: return u"#NULL!";
    case ErrorCode::Div0: return u"#DIV/0!";
    case ErrorCode::Value: return u"#VALUE!";
    case ErrorCode::Ref: return u"#REF!";
    case ErrorCode::Name: return u"#NAME?";
    case ErrorCode::Num: return u"#NUM!";
    case ErrorCode::NA: return u"#N/A";
    }
    return u"#VALUE!";
}

void Evaluate(Book& book)
{
    Evaluator(book).Run();
}

}  // namespace quorvel::formula
