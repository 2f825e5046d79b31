#include "crs/Crs.h"

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <utility>

#include <ogr_spatialref.h>

#include "rain/Error.h"
#include "rain/Grid.h"

namespace quorvel {

namespace {

constexpr int kMonteMarioGeographic = 4265;
constexpr int kRdn2008Geographic = 6706;
constexpr int kWgs84Geographic = 4326;
// Chosen by code, never left to PROJ: without the national grid files PROJ
// falls back to a "ballpark" step between Monte Mario and ETRF2000 that
// applies no datum shift at all and misplaces points by about 80 m.
constexpr const char* kMonteMarioToWgs84 = "urn:ogc:def:coordinateOperation:EPSG::1660";

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* t) const { OGRCoordinateTransformation::DestroyCT(t); }
};
using Transform = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

Error SetUpError(int from, int to)
{
    const std::string pair = "EPSG:" + std::to_string(from) + " -> EPSG:" + std::to_string(to);
    return Error(ErrorKind::BadFileFormat, {},
                 {"PROJ cannot set up the conversion " + pair, "PROJ non riesce a preparare la conversione " + pair});
}

// A conversion within one datum, or (with operation) the datum shift given.
Transform MakeTransform(int from, int to, const char* operation = nullptr, bool reverse = false)
{
    OGRSpatialReference source;
    OGRSpatialReference target;
    if (source.importFromEPSG(from) != OGRERR_NONE || target.importFromEPSG(to) != OGRERR_NONE)
        throw SetUpError(from, to);
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRCoordinateTransformationOptions options;
    options.SetBallparkAllowed(false);
    if (operation != nullptr && !options.SetCoordinateOperation(operation, reverse))
        throw SetUpError(from, to);
    Transform transform(OGRCreateCoordinateTransformation(&source, &target, options));
    if (!transform)
        throw SetUpError(from, to);
    return transform;
}

// The steps of a conversion to or from Gauss-Boaga, each set up once per
// thread: a GDAL transformation is not to be shared between threads.
class Steps {
public:
    static Steps& ForThisThread()
    {
        thread_local Steps steps;
        return steps;
    }

    OGRCoordinateTransformation& Get(int from, int to, const char* operation = nullptr, bool reverse = false)
    {
        Transform& slot = steps_[{from, to}];
        if (!slot)
            slot = MakeTransform(from, to, operation, reverse);
        return *slot;
    }

private:
    std::map<std::pair<int, int>, Transform> steps_;
};

void Apply(OGRCoordinateTransformation& step, SystemPoint& point, ReferenceSystem system)
{
    double x = point.x;
    double y = point.y;
    if (!step.Transform(1, &x, &y) || !std::isfinite(x) || !std::isfinite(y)) {
        auto number = [](double value) {
            char buffer[32];
            return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
        };
        const std::string text = number(point.x) + ", " + number(point.y);
        const std::string where = "EPSG:" + std::to_string(EpsgCode(system));
        throw Error(ErrorKind::Overflow, {},
                    {"the point " + text + " cannot be converted (" + where + ")",
                     "il punto " + text + " non si può convertire (" + where + ")"});
    }
    point = {x, y};
}

}  // namespace

int EpsgCode(ReferenceSystem system)
{
    switch (system) {
    case ReferenceSystem::GaussBoagaEast: return 3004;
    case ReferenceSystem::Wgs84: return 4326;
    case ReferenceSystem::Utm32: return 6707;
    case ReferenceSystem::Utm33: return 6708;
    }
    return 0;
}

const char* SystemName(ReferenceSystem system)
{
    switch (system) {
    case ReferenceSystem::GaussBoagaEast: return "Gauss-Boaga Fuso Est";
    case ReferenceSystem::Wgs84: return "WGS84 lat/lon";
    case ReferenceSystem::Utm32: return "ETRF2000 / UTM 32N";
    case ReferenceSystem::Utm33: return "ETRF2000 / UTM 33N";
    }
    return "";
}

bool IsGeographic(ReferenceSystem system)
{
    return system == ReferenceSystem::Wgs84;
}

std::optional<ReferenceSystem> ReferenceSystemFromName(std::string_view name)
{
    std::string lower;
    for (const char c : name)
        lower += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    if (lower.starts_with("epsg:"))
        lower.erase(0, 5);
    if (lower == "wgs84")
        return ReferenceSystem::Wgs84;
    if (lower == "utm32")
        return ReferenceSystem::Utm32;
    if (lower == "utm33")
        return ReferenceSystem::Utm33;
    if (lower == "gb" || lower == "gauss-boaga")
        return ReferenceSystem::GaussBoagaEast;
    for (const ReferenceSystem system : kReferenceSystems)
        if (lower == std::to_string(EpsgCode(system)))
            return system;
    return std::nullopt;
}

SystemPoint ToGaussBoaga(ReferenceSystem from, SystemPoint point)
{
    if (from == ReferenceSystem::GaussBoagaEast)
        return point;
    Steps& steps = Steps::ForThisThread();
    const int code = EpsgCode(from);
    SystemPoint p = point;
    // ETRF2000 coordinates are projected back to their own geographic system,
    // whose latitude and longitude then stand for WGS84's.
    if (from != ReferenceSystem::Wgs84)
        Apply(steps.Get(code, kRdn2008Geographic), p, from);
    Apply(steps.Get(kWgs84Geographic, kMonteMarioGeographic, kMonteMarioToWgs84, true), p, from);
    Apply(steps.Get(kMonteMarioGeographic, 3004), p, from);
    return p;
}

SystemPoint FromGaussBoaga(ReferenceSystem to, SystemPoint eastNorth)
{
    if (to == ReferenceSystem::GaussBoagaEast)
        return eastNorth;
    Steps& steps = Steps::ForThisThread();
    const int code = EpsgCode(to);
    SystemPoint p = eastNorth;
    Apply(steps.Get(3004, kMonteMarioGeographic), p, ReferenceSystem::GaussBoagaEast);
    Apply(steps.Get(kMonteMarioGeographic, kWgs84Geographic, kMonteMarioToWgs84, false), p,
          ReferenceSystem::GaussBoagaEast);
    if (to != ReferenceSystem::Wgs84)
        Apply(steps.Get(kRdn2008Geographic, code), p, ReferenceSystem::GaussBoagaEast);
    return p;
}

bool NearCellEdge(SystemPoint eastNorth)
{
    const auto near = [](double metres, double edge) {
        const double inCell = std::fmod(metres - edge, double(kGridCellSize));
        const double offset = inCell < 0 ? inCell + kGridCellSize : inCell;
        return offset < kDatumShiftAccuracy || kGridCellSize - offset < kDatumShiftAccuracy;
    };
    return near(eastNorth.x, kGridWestEdge) || near(eastNorth.y, kGridSouthEdge);
}

std::string NearCellEdgeNote()
{
    return "Il punto convertito dista meno di 4 m dal bordo della sua cella di 500 m: con la precisione "
           "della conversione (circa 4 m) potrebbe trovarsi nella cella accanto.";
}

std::string NearCellEdgeNoteEnglish()
{
    return "the converted point lies within 4 m of its 500 m cell's edge: at the conversion's accuracy "
           "(about 4 m) it may lie in the neighbouring cell";
}

}  // namespace quorvel
