#include "wms/WmsRenderer.h"

#include "map/GdalLayers.h"
#include "maplayers/DetailView.h"
#include "maplayers/LayerTable.h"

#include <algorithm>

#include <sys/stat.h>
#include <cmath>

namespace quorvel {

namespace {

void Include(MapExtents& total, const MapExtents& box, bool& any)
{
    total = any ? MapExtents{std::min(total.xMin, box.xMin), std::max(total.xMax, box.xMax),
                             std::min(total.yMin, box.yMin), std::max(total.yMax, box.yMax)}
                : box;
    any = true;
}

}  // namespace

WmsRenderer::WmsRenderer(const std::string& folder)
    : folder_(folder), stamps_(StampLayerFiles(folder)), map_(1, 1)
{
    AddLayerTable(map_, folder_);
    map_.SetOverlayLabels(LayerShapeNames(map_, kProvinceLayer, kProvinceNameField), kProvinceNamesMinWidth);
}

const std::vector<WmsRenderer::Layer>& WmsRenderer::Layers()
{
    static const std::vector<Layer> layers = {
        {"quorvel", "Quorvel: la mappa come la mostra il programma", kDesktopView},
        {"rilievo", "Rilievo", kElevationLayer},
        {"comuni", "Confini comunali", kMunicipalityLayer},
        {"province", "Confini provinciali", kProvinceLayer},
        {"nomi_comuni", "Nomi dei comuni", kMunicipalityNames},
        {"toponimi", "Toponimi", kPlaceNames},
        {"ispettorati", "Ispettorati", kDistrictLayer},
        {"raster_distretto", "Raster del distretto al centro della vista", kDistrictRaster},
    };
    return layers;
}

void WmsRenderer::LoadDistrict(const QString& code)
{
    if (code == loaded_)
        return;
    loaded_ = code;
    map_.RemoveLayer(kDistrictRaster);
    AddImage(map_, InFolder(folder_, DistrictRasterFile(code).toStdString()), false);
    AdoptOverviews(overviews_);
}

QImage WmsRenderer::Draw(const MapExtents& box, int width, int height, const std::vector<int>& layers,
                         const QColor& background)
{
    // One scale for both directions, the coarser, so the drawn picture is never
    // larger than the one asked for.
    const double boxW = box.xMax - box.xMin, boxH = box.yMax - box.yMin;
    const double scale = std::max(boxW / width, boxH / height);
    const int drawnW = std::clamp(int(std::lround(boxW / scale)), 1, width);
    const int drawnH = std::clamp(int(std::lround(boxH / scale)), 1, height);
    const ViewTransform view((box.xMin + box.xMax) / 2, (box.yMin + box.yMax) / 2, scale, drawnW, drawnH);
    map_.SetView(view);

    // The district raster is always the one of the view's centre; a centre in
    // no district takes the one the desktop loads first, so the picture
    // depends on the request alone.
    const DetailChoice detail = ChooseDetail(map_.GetLayerObject(kDistrictLayer), view.Extents(),
                                             QString::fromLatin1(kDistrictCodes[0]));
    LoadDistrict(detail.district);
    std::vector<int> handles;
    bool desktop = false;
    for (const int layer : layers) {
        if (layer != kDesktopView) {
            handles.push_back(layer);
            continue;
        }
        desktop = true;
        handles.insert(handles.end(), {kElevationLayer, kMunicipalityLayer, kProvinceLayer});
        if (detail.municipalityNames)
            handles.push_back(kMunicipalityNames);
        if (detail.placeNames)
            handles.push_back(kPlaceNames);
        if (detail.districtRaster)
            handles.push_back(kDistrictRaster);
    }
    // A district raster still without overviews is left out of wide views;
    // the relief stands in for it, so the picture is never empty.
    const auto district = std::find(handles.begin(), handles.end(), int(kDistrictRaster));
    if (district != handles.end() &&
        std::find(handles.begin(), handles.end(), int(kElevationLayer)) == handles.end() && DistrictWaits())
        handles.insert(district, kElevationLayer);
    QImage picture = map_.Scene().Render(view, 1.0, background, handles);
    if (desktop)
        map_.DrawOverlayNames(picture);
    if (drawnW != width || drawnH != height)
        picture = picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return picture;
}

std::string WmsRenderer::Unopened() const
{
    for (const MapView::LayerProblem& problem : map_.LayerProblems()) {
        struct stat info {};
        if (::stat(problem.file.c_str(), &info) != 0)
            continue;
        std::string file = problem.file;
        if (!folder_.empty() && file.starts_with(folder_))
            file.erase(0, folder_.size());
        while (file.starts_with('/'))
            file.erase(0, 1);
        return file;
    }
    return {};
}

bool WmsRenderer::Extents(int layer, MapExtents& extents)
{
    bool any = false;
    if (layer == kDistrictRaster) {
        for (const char* code : kDistrictCodes) {
            GdalImageLayer image;
            if (image.OpenImage(InFolder(folder_, DistrictRasterFile(code).toStdString()), kImageFileType, false))
                Include(extents, image.Extents(), any);
        }
        return any;
    }
    for (int handle = kElevationLayer; handle <= kDistrictRaster; ++handle) {
        MapExtents box;
        if ((layer == kDesktopView || layer == handle) && map_.Scene().LayerExtents(handle, box))
            Include(extents, box, any);
    }
    return any;
}

bool WmsRenderer::DistrictWaits()
{
    const std::string file = InFolder(folder_, DistrictRasterFile(loaded_).toStdString());
    for (GdalImageLayer* image : map_.Scene().Images())
        if (image->Name() == file)
            return image->NeedsOverviews();
    return false;
}

int WmsRenderer::MunicipalityAt(double x, double y)
{
    ShapefileLayer* polygons = map_.GetLayerObject(kMunicipalityLayer);
    const int count = polygons ? polygons->ShapeCount() : 0;
    for (int shape = 0; shape < count; ++shape)
        if (polygons->ShapeContainsPoint(shape, x, y))
            return shape;
    return -1;
}

void WmsRenderer::AdoptOverviews(const std::function<std::string(const std::string& file)>& overviews)
{
    overviews_ = overviews;
    if (!overviews_)
        return;
    for (GdalImageLayer* image : map_.Scene().Images()) {
        if (!image->NeedsOverviews())
            continue;
        if (const std::string cached = overviews_(image->Name()); !cached.empty())
            image->AdoptOverviews(cached);
    }
}

}  // namespace quorvel
