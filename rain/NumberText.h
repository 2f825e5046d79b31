#pragma once

#include <initializer_list>
#include <string_view>

namespace quorvel {

enum class NumberStatus { Ok, Empty, NotANumber, OutOfRange };

// A coordinate typed or read as text, to the nearest single-precision value.
// Accepted: blanks (spaces, tabs) around, an optional "+" or "-", decimal
// digits with at most one decimal separator (any one of those given) and
// digits on at least one side of it. No group separators, so "2.400" cannot
// mean 2400 to one user and 2.4 to another, and no exponent. value is set
// only when the answer is Ok.
NumberStatus ReadSingle(std::string_view text, std::initializer_list<std::string_view> decimalSeparators,
                        float& value);

}  // namespace quorvel
