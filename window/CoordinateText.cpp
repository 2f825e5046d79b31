#include "window/CoordinateText.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvel {

std::optional<QString> CoordinateText(double metres)
{
    // The default floating-point environment rounds to nearest, ties to even.
    const double rounded = std::nearbyint(metres);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return QString::number(static_cast<std::int32_t>(rounded));
}

}  // namespace quorvel
