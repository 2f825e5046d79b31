#include "server/Places.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "map/GdalLayers.h"
#include "rain/Error.h"
#include "server/Json.h"
#include "server/Municipalities.h"

namespace quorvel::server {

namespace {

std::unique_ptr<GdalShapefileLayer> OpenLayer(const std::string& path)
{
    auto layer = std::make_unique<GdalShapefileLayer>();
    if (!layer->OpenShapefile(path))
        throw Error(ErrorKind::BadFileFormat, path, {layer->OpenError(), layer->OpenError()});
    return layer;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw Error(ErrorKind::FileNotFound, path, {"cannot be opened", "non si può aprire"});
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void AppendMetres(std::string& out, double value)
{
    AppendDouble(out, std::round(value));
}

}  // namespace

RegionNames::RegionNames(std::string folder) : folder_(std::move(folder)) {}

RegionNames::~RegionNames() = default;

void RegionNames::Load()
{
    if (loaded_)
        return;
    const std::string tablePath = folder_ + kMunicipalityTable;
    polygons_ = OpenLayer(folder_ + kMunicipalityShapes);
    // The table names the polygons: OBJECTID - 1 is the polygon's place in the file.
    std::vector<std::string> nameOfShape(std::size_t(polygons_->ShapeCount()));
    for (const MunicipalityRow& row : ParseMunicipalityTable(ReadWhole(tablePath), tablePath)) {
        long objectId = 0;
        const char* last = row.objectId.data() + row.objectId.size();
        const auto [end, ec] = std::from_chars(row.objectId.data(), last, objectId);
        if (ec != std::errc() || end != last || row.name.empty() || objectId < 1 || std::size_t(objectId) > nameOfShape.size())
            continue;
        shapeOf_.emplace_back(row.name, int(objectId - 1));
        if (nameOfShape[std::size_t(objectId - 1)].empty())
            nameOfShape[std::size_t(objectId - 1)] = row.name;
    }

    std::string json = "[";
    for (const auto& [path, field] : {std::pair{kMunicipalityNamesLayer, 1}, std::pair{kPlaceNamesLayer, 0}}) {
        const auto layer = OpenLayer(folder_ + path);
        for (int shape = 0; shape < layer->ShapeCount(); ++shape) {
            const std::string name = layer->CellValue(field, shape);
            if (name.find_first_not_of(' ') == std::string::npos)
                continue;
            const MapExtents box = layer->ShapeExtents(shape);
            const double x = (box.xMin + box.xMax) / 2, y = (box.yMin + box.yMax) / 2;
            std::string municipality;
            for (int polygon = 0; polygon < polygons_->ShapeCount(); ++polygon)
                if (polygons_->ShapeContainsPoint(polygon, x, y)) {
                    municipality = nameOfShape[std::size_t(polygon)];
                    break;
                }
            if (json.size() > 1)
                json += ',';
            json += "{\"name\":";
            AppendJsonString(json, name);
            json += ",\"comune\":";
            AppendJsonString(json, municipality);
            json += ",\"x\":";
            AppendMetres(json, x);
            json += ",\"y\":";
            AppendMetres(json, y);
            json += '}';
        }
    }
    places_ = std::make_shared<const std::string>(json + "]");
    loaded_ = true;
}

std::shared_ptr<const std::string> RegionNames::PlacesJson()
{
    const std::lock_guard lock(mutex_);
    Load();
    return places_;
}

std::string RegionNames::OutlineJson(const std::string& municipality)
{
    const std::lock_guard lock(mutex_);
    Load();
    const auto found = std::find_if(shapeOf_.begin(), shapeOf_.end(),
                                    [&](const auto& entry) { return entry.first == municipality; });
    if (found == shapeOf_.end())
        return {};
    std::string json = "{\"name\":";
    AppendJsonString(json, municipality);
    json += ",\"rings\":[";
    for (const QPolygonF& ring : polygons_->Shapes()[std::size_t(found->second)].parts) {
        if (json.back() != '[')
            json += ',';
        json += '[';
        for (const QPointF& point : ring) {
            if (json.back() != '[')
                json += ',';
            json += '[';
            AppendMetres(json, point.x());
            json += ',';
            AppendMetres(json, point.y());
            json += ']';
        }
        json += ']';
    }
    return json + "]}";
}

}  // namespace quorvel::server
