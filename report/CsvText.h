#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Comma-separated text as every file the program writes for other programs
// holds it: quorvel-batch's results, the register of runs, the exported list.

// The shortest decimal text, without exponent, that reads back to exactly
// this single-precision value.
void AppendSingle(std::string& out, float value);
void AppendInteger(std::string& out, std::int64_t value);
// The text as one CSV field: as it is, or in double quotes with its quotes
// doubled when it holds a comma, a quote, a line break or blanks at its ends.
void AppendField(std::string& out, std::string_view text);

}  // namespace quorvel
