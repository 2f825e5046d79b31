#pragma once

#include <string>
#include <utility>
#include <vector>

#include "rain/GridMaps.h"

namespace quorvel {

class FileDigests;

// Metadata items a map's file carries: the SHA-256 of the six grid files it
// comes from and, for the sample region's grids, the mark "dati=esempio" as
// the register of runs writes it.
using GridTiffMetadata = std::vector<std::pair<std::string, std::string>>;

// For the grids under folder ("" or ending with "/") as they are now. Throws Error.
GridTiffMetadata GridTiffMetadataOf(const std::string& folder, FileDigests& digests);

// Map number map of maps as a Cloud Optimized GeoTIFF: one float32 band in
// EPSG:3004 on the grid's own geotransform (west edge, north edge, 500 m
// cells), no-data kGridMapNoData, each value the very single-precision value
// of the map. Throws Error(BadFileFormat) when GDAL fails.
std::string GridTiff(const GridMaps& maps, std::size_t map, const GridTiffMetadata& metadata);

// All ten maps into folder as <name>.tif, each written whole under a
// temporary name and renamed into place. Throws Error.
void WriteGridTiffs(const GridMaps& maps, const GridTiffMetadata& metadata, const std::string& folder);

}  // namespace quorvel
