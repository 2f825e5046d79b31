#pragma once

#include <QString>

namespace quorvel {

class MapView;
struct MainWindowState;

// The district codes by shape index in the district polygon layer.
inline constexpr const char* kDistrictCodes[4] = {"UD", "TG", "PN", "TO"};

// The code of the first of the four district polygons that contains the centre
// of the visible view, or empty when none does.
QString FindDistretto(MapView& map);

// Follows a change of view: swaps the district raster (layer 6) when the view
// centre has entered another district, then shows the place names or the
// district raster that suit the view's width.
void UpdateDetailView(MapView& map, MainWindowState& state);

}  // namespace quorvel
