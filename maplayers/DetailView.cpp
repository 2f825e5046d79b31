#include "maplayers/DetailView.h"

#include "maplayers/LayerTable.h"

namespace quorvel {

QString DistrictRasterFile(const QString& code)
{
    return QStringLiteral("Raster/") + code + QStringLiteral(".tif");
}

QString DistrictAt(const ShapefileLayer* districts, const MapExtents& view)
{
    const double x = (view.xMin + view.xMax) / 2;
    const double y = (view.yMin + view.yMax) / 2;
    if (districts == nullptr)
        return {};
    for (int shape = 0; shape < 4; ++shape) {
        if (districts->ShapeContainsPoint(shape, x, y))
            return QString::fromLatin1(kDistrictCodes[shape]);
    }
    return {};
}

QString FindDistretto(MapView& map)
{
    return DistrictAt(map.GetLayerObject(kDistrictLayer), map.GetExtents());
}

DetailChoice ChooseDetail(const ShapefileLayer* districts, const MapExtents& view, const QString& loaded)
{
    // The bands are judged on the single-precision width: 50000.001 m counts as 50000.
    const float width = static_cast<float>(view.xMax - view.xMin);
    const QString code = DistrictAt(districts, view);
    return {code.isEmpty() ? loaded : code, width > 10000.0f && width <= 50000.0f,
            width > 5000.0f && width <= 10000.0f, width <= 5000.0f};
}

void UpdateDetailView(MapView& map, QString& distretto)
{
    const DetailChoice choice = ChooseDetail(map.GetLayerObject(kDistrictLayer), map.GetExtents(), distretto);
    if (choice.district != distretto) {
        distretto = choice.district;
        map.RemoveLayer(kDistrictRaster);
        AddImage(map, DistrictRasterFile(distretto).toStdString(), false);
    }
    map.SetLayerVisible(kMunicipalityNames, choice.municipalityNames);
    map.SetLayerVisible(kPlaceNames, choice.placeNames);
    map.SetLayerVisible(kDistrictRaster, choice.districtRaster);
}

}  // namespace quorvel
