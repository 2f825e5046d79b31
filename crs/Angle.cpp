#include "crs/Angle.h"

#include <cctype>
#include <charconv>
#include <string>

namespace quorvel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void Trim(std::string_view& text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
}

// The marks that may follow the degrees, the minutes and the seconds.
constexpr std::string_view kMarks[3][4] = {
    {"\xC2\xB0", "\xC2\xBA", "", ""},                 // ° º
    {"'", "\xE2\x80\xB2", "\xE2\x80\x99", ""},       // ' ′ ’
    {"\"", "''", "\xE2\x80\xB3", "\xE2\x80\x9D"},  // " '' ″ ”
};

// Removes a hemisphere letter at either end; +1 or -1 for it, 0 for none,
// 2 for a letter of the other axis or of none.
int TakeHemisphere(std::string_view& text, AngleAxis axis)
{
    const auto sign = [axis](char c) {
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        if (axis == AngleAxis::Latitude)
            return upper == 'N' ? 1 : upper == 'S' ? -1 : upper == 'E' || upper == 'W' || upper == 'O' ? 2 : 0;
        return upper == 'E' ? 1 : upper == 'W' || upper == 'O' ? -1 : upper == 'N' || upper == 'S' ? 2 : 0;
    };
    int found = 0;
    if (!text.empty() && (found = sign(text.back())) != 0 &&
        !(text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[text.size() - 2])))) {
        text.remove_suffix(1);
    } else if (!text.empty() && (found = sign(text.front())) != 0) {
        text.remove_prefix(1);
    } else {
        found = 0;
    }
    Trim(text);
    return found;
}

}  // namespace

NumberStatus ReadAngle(std::string_view text, AngleAxis axis, double& degrees)
{
    Trim(text);
    if (text.empty())
        return NumberStatus::Empty;
    const int hemisphere = TakeHemisphere(text, axis);
    if (hemisphere == 2)
        return NumberStatus::NotANumber;
    int sign = hemisphere == 0 ? 1 : hemisphere;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        if (hemisphere != 0)
            return NumberStatus::NotANumber;
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
        Trim(text);
    }

    double parts[3] = {0, 0, 0};
    int count = 0;
    bool decimals = false;
    while (!text.empty()) {
        if (count == 3 || decimals)
            return NumberStatus::NotANumber;  // a fourth number, or one after a fraction
        std::string number;
        while (!text.empty() && (IsDigit(text.front()) || text.front() == '.' || text.front() == ',')) {
            const char c = text.front();
            if (c == '.' || c == ',') {
                if (decimals)
                    return NumberStatus::NotANumber;
                decimals = true;
                number += '.';
            } else {
                number += c;
            }
            text.remove_prefix(1);
        }
        if (number.empty() || number == ".")
            return NumberStatus::NotANumber;
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), parts[count],
                                               std::chars_format::fixed);
        if (ec != std::errc() || end != number.data() + number.size())
            return NumberStatus::NotANumber;
        Trim(text);
        for (const std::string_view mark : kMarks[count])
            if (!mark.empty() && text.starts_with(mark)) {
                text.remove_prefix(mark.size());
                break;
            }
        Trim(text);
        ++count;
    }
    if (count == 0)
        return NumberStatus::NotANumber;
    if ((count > 1 && parts[1] >= 60) || (count > 2 && parts[2] >= 60))
        return NumberStatus::NotANumber;
    const double value = parts[0] + parts[1] / 60 + parts[2] / 3600;
    if (value > (axis == AngleAxis::Latitude ? 90 : 180))
        return NumberStatus::OutOfRange;
    degrees = sign * value;
    return NumberStatus::Ok;
}

}  // namespace quorvel
