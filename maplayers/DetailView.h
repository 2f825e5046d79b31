#pragma once

#include <QString>

#include "map/MapView.h"

namespace quorvel {

// The district codes by shape index in the district polygon layer.
inline constexpr const char* kDistrictCodes[4] = {"UD", "TG", "PN", "TO"};

// The district raster of a district code, relative to the data folder.
QString DistrictRasterFile(const QString& code);

// The code of the first of the four district polygons that contains the
// centre of the view, or empty when none does (or there is no such layer).
QString DistrictAt(const ShapefileLayer* districts, const MapExtents& view);

// The code of the first of the four district polygons that contains the centre
// of the visible view, or empty when none does.
QString FindDistretto(MapView& map);

// What the detail rules make of a view: the district whose raster belongs in
// layer 6 (the one loaded before when the centre lies in none), and which of
// layers 3, 4 and 6 show at the view's width.
struct DetailChoice {
    QString district;
    bool municipalityNames = false;
    bool placeNames = false;
    bool districtRaster = false;
};
DetailChoice ChooseDetail(const ShapefileLayer* districts, const MapExtents& view, const QString& loaded);

// Follows a change of view: swaps the district raster (layer 6) when the view
// centre has entered another district, then shows the place names or the
// district raster that suit the view's width. distretto names the raster loaded.
void UpdateDetailView(MapView& map, QString& distretto);

}  // namespace quorvel
