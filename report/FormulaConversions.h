#pragma once

// Numbers and text converted as a formula converts them, and numbers
// rounded on their decimal digits, for the evaluator of Formula.cpp. Where
// the spreadsheet programs convert differently, or by the reader's locale,
// the answer is Unknown.

#include <string>

#include "report/Formula.h"

namespace quorvel::formula {

// The number a value is in arithmetic: empty cells are 0, booleans 1 and 0,
// text a whole number with an optional exponent.
Value ToNumber(const Value& v);

// The text a value is when joined to text: only empty cells and text.
Value ToText(const Value& v);

enum class Rounding { Nearest, Up, Down };

// x rounded at 10^-places, half away from zero, away from zero or toward
// zero, on its first significant digits.
double RoundDecimal(double x, int places, Rounding mode, int significant = 15);

// x to 15 significant digits, as a spreadsheet shows it.
double Snap15(double x);

// ROUND: half away from zero, on the first 15 significant digits when it
// rounds within them, as a spreadsheet shows the number; on every digit of
// the double when it rounds past them (ROUND(1E15+0.5,0) is 1000000000000001).
double Round(double x, int places);

}  // namespace quorvel::formula
