#include "report/FormulaConversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quorvel::formula {
namespace {

using Kind = Value::Kind;

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

// Enough significant digits to tell a double from any half-way point between
// the decimals of its first 17.
constexpr int kExactDigits = 40;

}  // namespace

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

double RoundDecimal(double x, int places, Rounding mode, int significant)
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

double Round(double x, int places)
{
    if (x == 0) {
        return 0;
    }
    const int kept = ToDecimal(x, 15).exponent + places + 1;
    return RoundDecimal(x, places, Rounding::Nearest, kept < 15 ? 15 : kExactDigits);
}

}  // namespace quorvel::formula
