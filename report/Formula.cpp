// The evaluation of a book's formulas: their tokens run on a stack, the
// operators and functions computed, references followed from cell to cell.
#include "report/Formula.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "report/FormulaConversions.h"
#include "report/FormulaTokens.h"

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

Value Evaluator::Compute(const Cell& cell, int sheet)
{
    const std::span<const std::uint8_t> t = cell.tokens;
    const TokenPlace place{cell, sheet, book_};
    std::vector<Item> stack;
    auto push = [&](Value v) { stack.push_back({std::move(v), std::nullopt}); };
    for (size_t at = 0; at < t.size();) {
        if (Spent()) {
            return Value::Unknown();
        }
        Token token = ReadToken(t, at, place);
        at += token.size;
        switch (token.kind) {
        case Token::Kind::Unreadable:
            return Value::Unknown();
        case Token::Kind::Function:
            if (static_cast<size_t>(token.count) > stack.size()) {
                return Value::Unknown();
            }
            if (!token.computed) {
                stack.resize(stack.size() - token.count);
                push(Value::Unknown());
            } else {
                Item result = Apply(token.function, stack, token.count);
                stack.push_back(std::move(result));
            }
            break;
        case Token::Kind::Reference:
            stack.push_back({Value{}, token.area});
            break;
        case Token::Kind::Constant:
            push(std::move(token.value));
            break;
        case Token::Kind::Binary: {
            if (stack.size() < 2) {
                return Value::Unknown();
            }
            const Value right = Scalar(stack.back());
            stack.pop_back();
            const Value left = Scalar(stack.back());
            stack.pop_back();
            if (token.op <= 0x07) {
                push(Arithmetic(token.op, left, right));
            } else if (token.op == 0x08) {
                const Value a = ToText(left), b = ToText(right);
                if (auto p = Problem({&a, &b})) {
                    push(*p);
                } else {
                    push(Value::Str(a.text + b.text));
                }
            } else {
                push(Compare(token.op, left, right));
            }
            break;
        }
        case Token::Kind::Unary: {
            if (stack.empty()) {
                return Value::Unknown();
            }
            Value v = Scalar(stack.back());
            stack.pop_back();
            if (token.op != 0x12) {
                v = ToNumber(v);
                if (v.Is(Kind::Number)) {
                    v = token.op == 0x13 ? Finite(-v.number) : Finite(v.number / 100);
                }
            }
            push(std::move(v));
            break;
        }
        case Token::Kind::SumOfOne: {
            if (stack.empty()) {
                return Value::Unknown();
            }
            Item result = Apply(kSum, stack, 1);
            stack.push_back(std::move(result));
            break;
        }
        case Token::Kind::Ignored:
            break;
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
