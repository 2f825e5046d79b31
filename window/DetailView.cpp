#include "window/DetailView.h"

#include "window/LayerTable.h"
#include "window/MainWindowState.h"
#include "map/MapView.h"

namespace quorvel {

QString FindDistretto(MapView& map)
{
    ShapefileLayer* districts = map.GetLayerObject(kDistrictLayer);
    const MapExtents view = map.GetExtents();
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

void UpdateDetailView(MapView& map, MainWindowState& state)
{
    const MapExtents view = map.GetExtents();
    // The bands are judged on the single-precision width: 50000.001 m counts as 50000.
    const float width = static_cast<float>(view.xMax - view.xMin);
    const QString code = FindDistretto(map);

    if (!code.isEmpty() && code != state.distretto) {
        state.distretto = code;
        map.RemoveLayer(kDistrictRaster);
        AddImage(map, ("Raster/" + code + ".tif").toStdString(), false);
    }

    map.SetLayerVisible(kMunicipalityNames, width > 10000.0f && width <= 50000.0f);
    map.SetLayerVisible(kPlaceNames, width > 5000.0f && width <= 10000.0f);
    map.SetLayerVisible(kDistrictRaster, width <= 5000.0f);
}

}  // namespace quorvel
