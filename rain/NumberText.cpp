#include "rain/NumberText.h"

#include <charconv>
#include <string>

namespace quorvel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

NumberStatus ReadSingle(std::string_view text, std::initializer_list<std::string_view> decimalSeparators,
                        float& value)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return NumberStatus::Empty;

    // Rewritten with "." so that the conversion needs no locale; never longer
    // than the text, and on the stack for every plausible coordinate, since a
    // batch run reads millions of them.
    char local[64];
    std::string heap;
    char* out = local;
    if (text.size() > sizeof local) {
        heap.resize(text.size());
        out = heap.data();
    }
    std::size_t n = 0;
    std::size_t i = 0;
    if (text[0] == '+' || text[0] == '-') {
        if (text[0] == '-')
            out[n++] = '-';
        i = 1;
    }
    bool digits = false;
    bool separator = false;
    while (i < text.size()) {
        if (IsDigit(text[i])) {
            out[n++] = text[i++];
            digits = true;
            continue;
        }
        std::size_t matched = 0;
        if (!separator)
            for (const std::string_view candidate : decimalSeparators)
                if (!candidate.empty() && text.substr(i).starts_with(candidate)) {
                    matched = candidate.size();
                    break;
                }
        if (matched == 0)
            return NumberStatus::NotANumber;
        out[n++] = '.';
        separator = true;
        i += matched;
    }
    if (!digits)
        return NumberStatus::NotANumber;

    float result = 0;
    const auto [end, ec] = std::from_chars(out, out + n, result, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range)
        return NumberStatus::OutOfRange;
    if (ec != std::errc() || end != out + n)
        return NumberStatus::NotANumber;
    value = result;
    return NumberStatus::Ok;
}

}  // namespace quorvel
