#pragma once

#include <string>

#include "sampledata/Region.h"

namespace quorvel::sample {

// How finely and how the two kinds of raster are written. The defaults make
// the sample region; finer cells make a region of the size real data has.
struct RasterDetail {
    double reliefCell = 100;  // metres a pixel of the relief
    bool reliefJpeg = false;  // JPEG tiles instead of DEFLATE
    double districtCell = 25;
    std::string onlyDistrict;  // one district's raster only; empty: all four
    bool districtOverviews = true;
};

// Each writes its part of the application folder; the sub-folders must exist.
void WriteGrids(const Region& region, const std::string& folder);
void WriteTable(const Region& region, const std::string& folder);
// The depth-duration law, dat/durate.txt.
void WriteDurationLaw(const std::string& folder);
void WriteShapefiles(const Region& region, const std::string& folder);
void WriteReliefRaster(const Region& region, const std::string& folder, const RasterDetail& detail = {});
void WriteDistrictRasters(const Region& region, const std::string& folder, const RasterDetail& detail = {});

}  // namespace quorvel::sample
