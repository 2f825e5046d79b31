#pragma once

#include <string>

#include <QStringList>

namespace quorvel {

class MapView;

// The lines of the main window's status area, in Italian: one for each layer
// the map could not show, with its file and GDAL's reason (and, for an ECW
// that exists, how to turn it into a GeoTIFF this program reads); one when
// the relief came from its stand-in; one for each raster whose overviews are
// being built, with how far along. Files are named as the window opened them,
// relative to the working folder.
QStringList StatusLines(const MapView& map, const std::string& reliefFile);

}  // namespace quorvel
