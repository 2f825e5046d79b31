#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What a spreadsheet shows in a cell, estimated closely enough to size a
// column without a font engine.
namespace quorvel::celltext {

// The format string of a built-in number format id, "General" when unknown.
std::u16string BuiltinFormat(std::uint16_t id);

// The text a number shows under a number format: decimals, grouping,
// percent, exponent and literal text are honoured; dates and times come out
// as long as their pattern.
std::u16string FormatNumber(double value, std::u16string_view format);

// The width of a text in the default font, in widths of its digit "0".
double TextWidth(std::u16string_view text);

}  // namespace quorvel::celltext
