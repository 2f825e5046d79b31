#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crs/Crs.h"
#include "rain/Grid.h"
#include "rain/NumberText.h"

namespace quorvel {

// A point typed in a reference system: x is East or the longitude, y North
// or the latitude, each as its box holds it. Metres are read as the dialogs
// read Gauss-Boaga coordinates; degrees as ReadAngle reads them.

// One coordinate: x is East or the longitude. Metres take the locale's
// separator, "," or "."; degrees are read by ReadAngle.
NumberStatus ReadSystemCoordinate(ReferenceSystem system, bool x, std::string_view text,
                                  std::string_view localeSeparator, double& value);

// The box's caption in the dialog: "E" and "N", or "Lat" and "Lon".
const char* BoxCaption(ReferenceSystem system, bool x);

// The point in Gauss-Boaga metres; nothing when a text is no coordinate or
// PROJ cannot convert the point.
std::optional<SystemPoint> TypedPointToGaussBoaga(ReferenceSystem system, std::string_view xText,
                                                  std::string_view yText, std::string_view localeSeparator);

// What is wrong with the typed point, for the coordinate message, naming the
// system: a box that is empty or holds no coordinate; values that seem
// exchanged (a latitude typed as a longitude); a point outside the grid's
// area, with the area's range in the system. Empty when the point converts
// into the area (or, without an area, when it converts). For Gauss-Boaga it
// is TypedPointFaults.
std::string TypedPointFaultsIn(ReferenceSystem system, const std::string& xText, const std::string& yText,
                               std::string_view localeSeparator, const std::optional<GridArea>& area);

}  // namespace quorvel
