#pragma once

#include <string_view>

#include "rain/NumberText.h"

namespace quorvel {

enum class AngleAxis { Latitude, Longitude };

// An angle as people type it, in decimal degrees ("45.5042", "45,5042",
// "-12.3") or in degrees, minutes and seconds ("45°30'15.5\"N", "45 30 15.5",
// "N 45° 30,25'"): up to three numbers, only the last with decimals, minutes
// and seconds below 60, each mark (° ' ") after its own number, and a sign
// or a hemisphere letter (N/S for a latitude, E/W/O for a longitude; Italian
// "O" for ovest) but not both. OutOfRange beyond 90 or 180 degrees.
// degrees is set only when the answer is Ok.
NumberStatus ReadAngle(std::string_view text, AngleAxis axis, double& degrees);

}  // namespace quorvel
