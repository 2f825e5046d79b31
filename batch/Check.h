#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quorvel::batch {

// One finding of the check of an application folder: a line of its report.
struct Finding {
    enum class Level { Ok, Note, Error };
    Level level = Level::Ok;
    std::string subject;  // the file or folder, relative to the folder checked
    std::string text;     // Italian, UTF-8
};

// Examines an application folder as the program would use it: the files that
// the map's load, the point run and the report need, present and readable;
// the three parameter grids (headers, raster sizes, cells without data, one
// size for all three); the shapefiles and rasters, opened in GDAL, in
// Gauss-Boaga East (EPSG:3004) or without a reference system; the municipality
// table, 219 lines of one width whose OBJECTIDs are polygons of the
// municipality shapefile; the report template, filled in memory as a report
// would be. Nothing in the folder is written.
std::vector<Finding> CheckAppFolder(const std::string& folder);

// The findings one a line, then a summary; true when nothing is an error.
// The summary of a folder holding the sample region's synthetic grids is the
// warning that they are not for design, never that all is in order.
bool PrintCheck(const std::string& folder, const std::vector<Finding>& findings, std::FILE* out);

}  // namespace quorvel::batch
