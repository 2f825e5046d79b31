#include "rain/OutputName.h"

#include <cctype>
#include <set>
#include <string_view>

namespace quorvel {

namespace {

// The code point at i, moving i past it; a byte that starts no valid
// sequence counts as itself.
char32_t NextCodePoint(const std::string& text, std::size_t& i)
{
    const auto byte = static_cast<unsigned char>(text[i++]);
    const std::size_t extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + extra > text.size())
        return byte;
    char32_t code = byte & (0x3F >> extra);
    for (std::size_t k = 0; k < extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return byte;
        code = (code << 6) | (next & 0x3F);
    }
    i += extra;
    return code;
}

bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Characters that reorder the text around them, so a name would show other
// than it is (an ".exe" that reads as ".xls").
bool IsBidiControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string WithoutReportExtension(const std::string& name)
{
    constexpr std::string_view kExtension = ".xls";
    if (name.size() < kExtension.size())
        return name;
    for (std::size_t i = 0; i < kExtension.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - kExtension.size() + i])) != kExtension[i])
            return name;
    return name.substr(0, name.size() - kExtension.size());
}

std::optional<ErrorDetail> ReportNameFault(const std::string& name)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++characters) {
        const char32_t c = NextCodePoint(name, i);
        if (IsControl(c))
            return ErrorDetail{"the name cannot hold control characters",
                               "Il nome non può contenere caratteri di controllo."};
        if (IsBidiControl(c))
            return ErrorDetail{"the name cannot hold characters that change the direction of the text",
                               "Il nome non può contenere caratteri che cambiano la direzione del testo."};
        if (c < 0x80 && std::string_view("\\/:*?\"<>|").find(char(c)) != std::string_view::npos)
            return ErrorDetail{std::string("the name cannot hold the character ") + char(c) +
                                   " (none of \\ / : * ? \" < > |)",
                               std::string("Il nome non può contenere il carattere «") + char(c) +
                                   "» (non ammessi: \\ / : * ? \" < > |)."};
    }
    if (characters > kMaxReportNameLength)
        return ErrorDetail{"the name is longer than " + std::to_string(kMaxReportNameLength) + " characters",
                           "Il nome non può superare " + std::to_string(kMaxReportNameLength) + " caratteri."};
    if (!name.empty() && (name.back() == '.' || name.back() == ' '))
        return name.back() == '.'
                   ? ErrorDetail{"the name cannot end with a dot", "Il nome non può terminare con un punto."}
                   : ErrorDetail{"the name cannot end with a space", "Il nome non può terminare con uno spazio."};
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> kDevices = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5",
                                                   "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4",
                                                   "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    if (kDevices.count(stem) != 0)
        return ErrorDetail{"the name " + stem + " is reserved by Windows",
                           "Il nome " + stem + " è riservato da Windows."};
    return std::nullopt;
}

}  // namespace quorvel
