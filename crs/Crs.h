#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The reference systems a point may be given in. Gauss-Boaga East is the
// grids' own; the others are converted to it before anything else happens.
enum class ReferenceSystem {
    GaussBoagaEast,  // EPSG:3004, Monte Mario / Italy zone 2
    Wgs84,           // EPSG:4326, latitude and longitude in degrees
    Utm32,           // EPSG:6707, RDN2008 (ETRF2000) / UTM zone 32N
    Utm33,           // EPSG:6708, RDN2008 (ETRF2000) / UTM zone 33N
};

inline constexpr ReferenceSystem kReferenceSystems[] = {ReferenceSystem::GaussBoagaEast, ReferenceSystem::Wgs84,
                                                       ReferenceSystem::Utm32, ReferenceSystem::Utm33};

int EpsgCode(ReferenceSystem system);
// As the windows name it, in Italian: "Gauss-Boaga Fuso Est", "WGS84", ...
const char* SystemName(ReferenceSystem system);
bool IsGeographic(ReferenceSystem system);

// "EPSG:6707" (or just 6707), or a word: wgs84, utm32, utm33, gb (any case).
// Nothing for a system this program does not convert.
std::optional<ReferenceSystem> ReferenceSystemFromName(std::string_view name);

// A point in one of the systems, in the traditional GIS order whatever the
// EPSG axis order: x is East or longitude, y North or latitude. EPSG defines
// 6707 and 6708 with northing first and 4326 with latitude first; callers never
// see that order.
struct SystemPoint {
    double x = 0;
    double y = 0;
};

// The datum shift between Monte Mario and WGS84 / ETRF2000 is the
// Italy-mainland Helmert transformation EPSG:1660 ("Monte Mario to WGS 84 (4)"),
// accurate to about this many metres. WGS84 and ETRF2000 are taken as one
// datum: in Italy they differ by well under a metre.
inline constexpr double kDatumShiftAccuracy = 4.0;

// Throws quorvel::Error (BadFileFormat for an operation PROJ cannot set up,
// Overflow for a point it cannot convert).
SystemPoint ToGaussBoaga(ReferenceSystem from, SystemPoint point);
SystemPoint FromGaussBoaga(ReferenceSystem to, SystemPoint eastNorth);

// True when the Gauss-Boaga point lies within kDatumShiftAccuracy of an edge
// of its 500 m grid cell: the conversion cannot then tell which cell it is in.
bool NearCellEdge(SystemPoint eastNorth);

// The note the answers carry for such a point, in Italian and in English.
std::string NearCellEdgeNote();
std::string NearCellEdgeNoteEnglish();

}  // namespace quorvel
