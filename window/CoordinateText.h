#pragma once

#include <optional>

#include <QString>

namespace quorvel {

// A map coordinate in metres as whole-metre text: rounded to the nearest
// 32-bit integer, halves to the even neighbour. Nothing for a value that does
// not fit in 32 bits (or is not a number).
std::optional<QString> CoordinateText(double metres);

}  // namespace quorvel
