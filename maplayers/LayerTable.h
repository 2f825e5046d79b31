#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/MapView.h"

namespace quorvel {

// The fixed handles of the main window's seven layers, in the order they are
// added: each layer's handle is also its drawing position.
enum LayerHandleId : int {
    kElevationLayer = 0,     // Raster/demTRNSh.ecw
    kMunicipalityLayer = 1,  // Shp/comuniPoly.shp
    kProvinceLayer = 2,      // Shp/V_PROVINCEpoly.shp
    kMunicipalityNames = 3,  // Shp/toponomasticaComuni.shp
    kPlaceNames = 4,         // Shp/toponomastica25kdep.shp
    kDistrictLayer = 5,      // Shp/V_ISPETTORATI.shp
    kDistrictRaster = 6,     // Raster/<district>.tif, replaced as the view moves
};

// Image layers are opened with this file type, not loaded into memory.
inline constexpr int kImageFileType = 2;

// The relief as delivered, and the GeoTIFF that stands in for it where this
// GDAL cannot read the ECW.
inline constexpr const char* kReliefFile = "Raster/demTRNSh.ecw";
inline constexpr const char* kReliefStandIn = "Raster/demTRNSh.tif";

// Adds an image layer opened as kImageFileType and returns its handle.
int AddImage(MapView& map, const std::string& file, bool visible);

// Adds the seven layers, styles the two outline layers and labels the two
// place-name layers. Opening failures are not examined: each object becomes its
// layer all the same, so the handles stay bound to their files. The one
// exception is the relief: when kReliefFile cannot be opened and
// kReliefStandIn exists, the latter becomes layer 0. Returns the relief's file.
// The files are read in folder, or in the working folder when it is empty.
std::string AddLayerTable(MapView& map, const std::string& folder = {});

// file in folder, or file itself when folder is empty.
std::string InFolder(const std::string& folder, const std::string& file);

// Puts a black label with the text of attribute fieldIndex at the centre of
// each shape's bounding box, on the layer at that drawing position.
void LabelLayerShapes(MapView& map, std::int16_t position, std::int16_t fieldIndex);

// The province polygons' name field, and the view width beyond which no other
// names show: the province names are laid over the map only then.
inline constexpr int kProvinceNameField = 1;
inline constexpr double kProvinceNamesMinWidth = 50000;

// The text of attribute fieldIndex of each shape of the layer, at the centre
// of the shape's bounding box; none when the layer is not a shapefile.
std::vector<OverlayLabel> LayerShapeNames(MapView& map, int handle, int fieldIndex);

}  // namespace quorvel
