#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QImage>

#include "map/MapView.h"

namespace quorvel {

// The reference systems the map service answers in. The map is drawn in
// Gauss-Boaga East and reprojected; between Monte Mario and WGS84 always
// with the Helmert transformation EPSG:1660, never PROJ's ballpark.
enum class WmsCrs { GaussBoaga, Wgs84, WebMercator };

// "EPSG:3004", "EPSG:4326", "EPSG:3857", any case; nothing for another.
std::optional<WmsCrs> WmsCrsFromName(const std::string& name);
const char* WmsCrsName(WmsCrs crs);

// A BBOX as WMS 1.3.0 reads it for the system, as x (east, longitude) and
// y (north, latitude): EPSG:4326 gives latitude first.
MapExtents AxisOrdered(WmsCrs crs, const MapExtents& given);

// Converts points in place between the system and Gauss-Boaga (x east or
// longitude, y north or latitude). A point that cannot be converted becomes
// not-a-number. Throws Error when PROJ cannot set the conversion up.
void ToGaussBoaga(WmsCrs crs, std::vector<double>& x, std::vector<double>& y);
void FromGaussBoaga(WmsCrs crs, std::vector<double>& x, std::vector<double>& y);

// The picture of box (in crs, axis-ordered) at width x height: the part of
// Gauss-Boaga it covers drawn by draw(box, width, height) at about the same
// resolution, then each pixel taken from where its centre falls. Pixels
// beyond the drawing are transparent.
using GaussBoagaDrawing = std::function<QImage(const MapExtents& box, int width, int height)>;
QImage Reprojected(WmsCrs crs, const MapExtents& box, int width, int height, const GaussBoagaDrawing& draw,
                   int maxSide);

}  // namespace quorvel
