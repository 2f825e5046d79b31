#pragma once

#include <string>
#include <vector>

#include "server/Json.h"

namespace quorvel::server {

inline constexpr const char* kMunicipalityTable = "dat/comuniPolyRid.dat";
inline constexpr const char* kMunicipalityShapes = "Shp/comuniPoly.shp";

// The rows of the fixed-width municipality table (Windows-1252, lines ending
// at CR LF, CR or LF, fields cut by byte position and stripped of spaces):
// OBJECTID, name and province. At most 219 rows, else
// Error(SubscriptOutOfRange) as the window's reading of the table.
struct MunicipalityRow {
    std::string objectId;
    std::string name;      // UTF-8
    std::string province;  // UTF-8
};
std::vector<MunicipalityRow> ParseMunicipalityTable(const std::string& bytes, const std::string& path);

// The municipalities of the table under folder ("" or ending with "/") in
// file order, each with the extent of its polygon (OBJECTID - 1 in the
// shapefile's order), as the window zooms to it. Rows without a name are left
// out. Throws Error: the files missing or unreadable, an OBJECTID that is not
// a polygon of the shapefile (BadFileFormat).
std::vector<Municipality> LoadMunicipalities(const std::string& folder);

}  // namespace quorvel::server
