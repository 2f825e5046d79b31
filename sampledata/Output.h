#pragma once

#include <string>

#include "sampledata/Region.h"

namespace quorvel::sample {

// Each writes its part of the application folder; the sub-folders must exist.
void WriteGrids(const Region& region, const std::string& folder);
void WriteTable(const Region& region, const std::string& folder);
void WriteShapefiles(const Region& region, const std::string& folder);
void WriteReliefRaster(const Region& region, const std::string& folder);
void WriteDistrictRasters(const Region& region, const std::string& folder);

}  // namespace quorvel::sample
