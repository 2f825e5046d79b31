#include "report/CellText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quorvel::celltext {
namespace {

std::u16string Widen(std::string_view text)
{
    return {text.begin(), text.end()};
}

bool IsGeneral(std::u16string_view format)
{
    if (format.size() != 7) {
        return false;
    }
    const std::u16string_view general = u"general";
    for (size_t i = 0; i < 7; ++i) {
        char16_t c = format[i];
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (c != general[i]) {
            return false;
        }
    }
    return true;
}

// General shows at most eleven characters, dropping precision first.
std::u16string FormatGeneral(double value)
{
    char buffer[64];
    if (value == std::trunc(value) && std::fabs(value) < 1e11) {
        // The integer as "%.0f" would print it, without the cost of printf in every cell.
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0).ptr;
        return Widen({buffer, static_cast<size_t>(end - buffer)});
    }
    char* end = buffer;
    for (int precision = 10; precision > 1; --precision) {
        end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision).ptr;
        if (end - buffer <= 11) {
            break;
        }
    }
    std::replace(buffer, end, 'e', 'E');
    return Widen({buffer, static_cast<size_t>(end - buffer)});
}

bool IsDateCode(char16_t c)
{
    switch (c) {
    case u'y': case u'Y': case u'd': case u'D': case u'h': case u'H':
    case u'm': case u'M': case u's': case u'S':
        return true;
    default:
        return false;
    }
}

// The first section of a format with colours, conditions, quotes, escapes,
// padding and fill resolved to the characters they show; dateCodes tells
// whether it formats a date or time (codes outside quotes).
std::u16string ShownPattern(std::u16string_view format, bool& dateCodes)
{
    dateCodes = false;
    std::u16string out;
    bool quoted = false;
    for (size_t i = 0; i < format.size(); ++i) {
        char16_t c = format[i];
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else {
                out += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u';') {
            break;
        } else if (c == u'[') {
            while (i < format.size() && format[i] != u']') {
                ++i;
            }
        } else if (c == u'\\' || c == u'_') {
            if (i + 1 < format.size()) {
                out += c == u'_' ? u' ' : format[i + 1];
                ++i;
            }
        } else if (c == u'*') {
            ++i;
        } else {
            dateCodes = dateCodes || IsDateCode(c);
            out += c;
        }
    }
    return out;
}

}  // namespace

std::u16string BuiltinFormat(std::uint16_t id)
{
    switch (id) {
    case 1: return u"0";
    case 2: return u"0.00";
    case 3: return u"#,##0";
    case 4: return u"#,##0.00";
    case 5: case 37: return u"#,##0 ;(#,##0)";
    case 6: case 38: return u"#,##0 ;[Red](#,##0)";
    case 7: case 39: return u"#,##0.00;(#,##0.00)";
    case 8: case 40: return u"#,##0.00;[Red](#,##0.00)";
    case 9: return u"0%";
    case 10: return u"0.00%";
    case 11: return u"0.00E+00";
    case 12: return u"# ?/?";
    case 13: return u"# ?" "?/?" "?";
    case 14: return u"dd/mm/yyyy";
    case 15: return u"d-mmm-yy";
    case 16: return u"d-mmm";
    case 17: return u"mmm-yy";
    case 18: return u"h:mm AM/PM";
    case 19: return u"h:mm:ss AM/PM";
    case 20: return u"h:mm";
    case 21: return u"h:mm:ss";
    case 22: return u"dd/mm/yyyy h:mm";
    case 41: case 42: return u"_-* #,##0_-";
    case 43: case 44: return u"_-* #,##0.00_-";
    case 45: return u"mm:ss";
    case 46: return u"[h]:mm:ss";
    case 47: return u"mm:ss.0";
    case 48: return u"##0.0E+0";
    case 49: return u"@";
    default: return u"General";
    }
}

namespace {

// What a format's first section asks of a number.
struct NumberPattern {
    bool date = false;
    std::u16string shown;  // a date's pattern, shown as it is
    int decimals = 0;
    bool grouping = false, percent = false, exponent = false;
    std::u16string literals;
};

// More decimals than Excel allows in a format add nothing a reader would show.
constexpr int kMaxDecimals = 30;

NumberPattern ParsePattern(std::u16string_view format)
{
    NumberPattern parsed;
    const std::u16string pattern = ShownPattern(format, parsed.date);
    if (parsed.date) {
        parsed.shown = pattern;
        return parsed;
    }
    bool afterPoint = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char16_t c = pattern[i];
        if (c == u'0' || c == u'#' || c == u'?') {
            parsed.decimals += afterPoint && parsed.decimals < kMaxDecimals ? 1 : 0;
        } else if (c == u'.') {
            afterPoint = true;
        } else if (c == u',') {
            parsed.grouping = true;
        } else if (c == u'%') {
            parsed.percent = true;
            parsed.literals += c;
        } else if ((c == u'E' || c == u'e') && i + 1 < pattern.size() &&
                   (pattern[i + 1] == u'+' || pattern[i + 1] == u'-')) {
            parsed.exponent = true;
            break;
        } else {
            parsed.literals += c;
        }
    }
    return parsed;
}

}  // namespace

std::u16string FormatNumber(double value, std::u16string_view format)
{
    if (!std::isfinite(value)) {
        return u"#NUM!";
    }
    if (IsGeneral(format) || format == u"@" || format.empty()) {
        return FormatGeneral(value);
    }
    // A sheet's cells share a few formats: each is read once, not once per
    // cell, however long a template makes it.
    thread_local std::u16string lastFormat;
    thread_local NumberPattern lastPattern;
    if (format != lastFormat) {
        lastPattern = ParsePattern(format);
        lastFormat = format;
    }
    const NumberPattern& pattern = lastPattern;
    if (pattern.date) {
        return pattern.shown;
    }
    const int decimals = pattern.decimals;
    const bool grouping = pattern.grouping, percent = pattern.percent, exponent = pattern.exponent;
    const std::u16string& literals = pattern.literals;
    if (percent) {
        value *= 100;
    }
    // Room for the largest double with kMaxDecimals decimals.
    char buffer[400];
    if (exponent) {
        char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, decimals).ptr;
        std::replace(buffer, end, 'e', 'E');
        return Widen({buffer, static_cast<size_t>(end - buffer)}) + literals;
    }
    std::string digits(buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                                             decimals).ptr);
    if (grouping) {
        size_t end = digits.find('.');
        if (end == std::string::npos) {
            end = digits.size();
        }
        size_t begin = digits[0] == '-' ? 1 : 0;
        for (size_t at = end; at > begin + 3; at -= 3) {
            digits.insert(at - 3, 1, ',');
        }
    }
    return Widen(digits) + literals;
}

double TextWidth(std::u16string_view text)
{
    double width = 0;
    for (char16_t c : text) {
        if (c >= u'0' && c <= u'9') {
            width += 1.0;
        } else if (c == u'i' || c == u'j' || c == u'l' || c == u'I' || c == u'!' || c == u'|' ||
                   c == u'.' || c == u',' || c == u':' || c == u';' || c == u'\'') {
            width += 0.45;
        } else if (c == u'f' || c == u't' || c == u'r' || c == u' ' || c == u'(' ||
                   c == u')' || c == u'[' || c == u']' || c == u'-' || c == u'/') {
            width += 0.6;
        } else if (c == u'm' || c == u'w' || c == u'M' || c == u'W' || c == u'@' ||
                   c == u'%') {
            width += 1.6;
        } else if (c >= u'A' && c <= u'Z') {
            width += 1.25;
        } else if (c >= 0x2E80) {
            width += 2.0;
        } else {
            width += 1.0;
        }
    }
    return width;
}

}  // namespace quorvel::celltext
