#include "window/LayerTable.h"

#include "map/MapView.h"

namespace quorvel {

namespace {

int AddShapefile(MapView& map, const char* file, bool visible)
{
    auto shapes = map.NewShapefile();
    shapes->OpenShapefile(file);
    return map.AddLayer(std::move(shapes), visible);
}

}  // namespace

int AddImage(MapView& map, const std::string& file, bool visible)
{
    auto image = map.NewImage();
    image->OpenImage(file, kImageFileType, false);
    return map.AddLayer(std::move(image), visible);
}

void AddLayerTable(MapView& map)
{
    AddImage(map, "Raster/demTRNSh.ecw", true);

    const int municipalities = AddShapefile(map, "Shp/comuniPoly.shp", true);
    map.SetLayerLineColor(municipalities, Rgb(0, 0, 255));
    map.SetLayerLineWidth(municipalities, 1.0f);

    const int provinces = AddShapefile(map, "Shp/V_PROVINCEpoly.shp", true);
    map.SetLayerLineColor(provinces, Rgb(255, 0, 0));
    map.SetLayerLineWidth(provinces, 1.0f);

    const int municipalityNames = AddShapefile(map, "Shp/toponomasticaComuni.shp", false);
    LabelLayerShapes(map, static_cast<std::int16_t>(municipalityNames), 1);

    const int placeNames = AddShapefile(map, "Shp/toponomastica25kdep.shp", false);
    LabelLayerShapes(map, static_cast<std::int16_t>(placeNames), 0);

    AddShapefile(map, "Shp/V_ISPETTORATI.shp", false);
    AddImage(map, "Raster/UD.tif", false);
}

void LabelLayerShapes(MapView& map, std::int16_t position, std::int16_t fieldIndex)
{
    const int handle = map.LayerHandle(position);
    // A missing layer, or one that is not a shapefile, has nothing to label.
    for (const OverlayLabel& name : LayerShapeNames(map, handle, fieldIndex))
        map.AddLabel(handle, name.text, Rgb(0, 0, 0), name.x, name.y, 1, 0.0);
}

std::vector<OverlayLabel> LayerShapeNames(MapView& map, int handle, int fieldIndex)
{
    std::vector<OverlayLabel> names;
    ShapefileLayer* shapes = map.GetLayerObject(handle);
    if (shapes == nullptr)
        return names;
    // Counted in int rather than 16 bits, so a layer of any size is named in full.
    const int count = shapes->ShapeCount();
    for (int i = 0; i < count; ++i) {
        const MapExtents box = shapes->ShapeExtents(i);
        names.push_back({shapes->CellValue(fieldIndex, i), (box.xMin + box.xMax) / 2, (box.yMin + box.yMax) / 2});
    }
    return names;
}

}  // namespace quorvel
