#include "maplayers/LayerTable.h"

#include "map/MapView.h"

#include <filesystem>

namespace quorvel {

namespace {

int AddShapefile(MapView& map, const std::string& file, bool visible)
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

std::string InFolder(const std::string& folder, const std::string& file)
{
    // One spelling per file: the server's overviews are found by this name.
    return folder.empty() ? file : folder.ends_with('/') ? folder + file : folder + "/" + file;
}

std::string AddLayerTable(MapView& map, const std::string& folder)
{
    std::string relief = kReliefFile;
    auto image = map.NewImage();
    if (!image->OpenImage(InFolder(folder, relief), kImageFileType, false) &&
        std::filesystem::exists(InFolder(folder, kReliefStandIn))) {
        relief = kReliefStandIn;
        image = map.NewImage();
        image->OpenImage(InFolder(folder, relief), kImageFileType, false);
    }
    map.AddLayer(std::move(image), true);

    const auto in = [&](const char* file) { return InFolder(folder, file); };
    const int municipalities = AddShapefile(map, in("Shp/comuniPoly.shp"), true);
    map.SetLayerLineColor(municipalities, Rgb(0, 0, 255));
    map.SetLayerLineWidth(municipalities, 1.0f);

    const int provinces = AddShapefile(map, in("Shp/V_PROVINCEpoly.shp"), true);
    map.SetLayerLineColor(provinces, Rgb(255, 0, 0));
    map.SetLayerLineWidth(provinces, 1.0f);

    const int municipalityNames = AddShapefile(map, in("Shp/toponomasticaComuni.shp"), false);
    LabelLayerShapes(map, static_cast<std::int16_t>(municipalityNames), 1);

    const int placeNames = AddShapefile(map, in("Shp/toponomastica25kdep.shp"), false);
    LabelLayerShapes(map, static_cast<std::int16_t>(placeNames), 0);

    AddShapefile(map, in("Shp/V_ISPETTORATI.shp"), false);
    AddImage(map, in("Raster/UD.tif"), false);
    return relief;
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
