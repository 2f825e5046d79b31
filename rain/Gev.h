#pragma once

#include <cstdint>

namespace quorvel {

// Rainfall quantile for return period T from the cell's cv and a1, on the
// region's GEV growth curve of fixed shape. Throws Error(FloatingPoint) when
// the arithmetic fails (T of 1 or less, non-finite inputs, overflow).
float GevQuantile(float cv, float a1, std::int16_t T);

}  // namespace quorvel
