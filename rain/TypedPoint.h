#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "rain/Grid.h"
#include "rain/NumberText.h"

namespace quorvel {

// A coordinate as the point dialogs read it: with the user's decimal
// separator, and with "," or "." whatever the user's locale. Coordinates of
// the region have seven digits before any decimals and are never written with
// digit grouping, so neither separator can be mistaken for a group separator.
NumberStatus ReadCoordinate(std::string_view text, std::string_view localeSeparator, float& value);

// What is wrong with a typed point, said to the user under the coordinate
// message: one line for each box that is empty, holds no number or lies
// outside the grid's area; or, when the point would lie in the area with the
// two values exchanged, one line saying that they seem exchanged. Empty when
// nothing is wrong with the texts themselves (or, without an area, when both
// are numbers of single precision).
std::string TypedPointFaults(const std::string& eastText, const std::string& northText,
                             std::string_view localeSeparator, const std::optional<GridArea>& area);

}  // namespace quorvel
