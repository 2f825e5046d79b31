#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ogr_geometry.h>

// The synthetic region of Tervania: its shapes, names and terrain, built in
// memory from one seed before anything is written.
namespace quorvel::sample {

inline constexpr double kWest = 2310000;
inline constexpr double kSouth = 5040000;
inline constexpr double kEast = 2490500;   // 361 columns of 500 m
inline constexpr double kNorth = 5170000;  // 260 rows of 500 m
inline constexpr int kMunicipalityCount = 219;
inline constexpr std::uint64_t kSeed = 0x7E5A4A1A2026ull;

struct Pt {
    double x = 0;
    double y = 0;
};
using Polyline = std::vector<Pt>;

struct River {
    Polyline line;
    double width = 0;       // metres, as drawn on the detail rasters
    double sourceHeight = 0;
    std::string name;
};

// An elevation model in metres on a north-up grid; sea is below 0.
struct Dem {
    double west = 0;
    double north = 0;
    double cell = 0;
    int columns = 0;
    int rows = 0;
    std::vector<float> height;
    std::vector<std::uint8_t> inRegion;  // 1 inside Tervania's land

    float At(int column, int row) const { return height[static_cast<std::size_t>(row) * columns + column]; }
    double Bilinear(double x, double y) const;
    double Bicubic(double x, double y) const;
};

struct Municipality {
    std::string name;  // UTF-8
    int code = 0;
    int province = 0;  // index into Region::provinces
    int district = 0;  // index into Region::districts
    Pt seat;
    std::unique_ptr<OGRGeometry> shape;  // clipped to the land
    double areaKm2 = 0;
};

struct Area {
    std::string code;
    std::string name;
    std::unique_ptr<OGRGeometry> shape;
};

struct PlaceName {
    Pt at;
    std::string name;
    std::string kind;
};

struct Region {
    std::unique_ptr<OGRPolygon> land;  // the region's own land, sea excluded
    std::unique_ptr<OGRPolygon> sea;
    std::vector<River> rivers;
    std::vector<Polyline> roads;
    std::vector<Municipality> municipalities;
    std::vector<Area> provinces;
    std::vector<Area> districts;  // UD, TG, PN, TO
    std::vector<PlaceName> places;
    Dem dem;  // 100 m, over the grid's extent
};

Polyline FractalLine(Pt a, Pt b, std::uint64_t seed, double roughness, double minSegment);

void BuildOutline(Region& region);
void BuildRivers(Region& region);
void BuildTerrain(Region& region);
void BuildMunicipalities(Region& region);
void BuildRoads(Region& region);
// hamlets: how many hamlets among the place names; the nearer they must lie
// to each other the more there are.
inline constexpr int kSampleHamlets = 2700;
void BuildPlaceNames(Region& region, int hamlets = kSampleHamlets);

std::string MunicipalityName(std::uint64_t seed);
std::string PlaceStem(std::uint64_t seed);

// Runs body(first, last) over [0, count) split among the machine's cores.
void ParallelRows(int count, const std::function<void(int, int)>& body);

// The polygon whose boundary runs through ring and back to its start.
std::unique_ptr<OGRPolygon> MakePolygon(const Polyline& ring);

// A byte mask, 1 where the geometries lie, on a north-up grid of width x height
// cells placed by a GDAL geotransform.
std::vector<std::uint8_t> Burn(int width, int height, const double transform[6],
                               const std::vector<const OGRGeometry*>& geometries, bool allTouched = false);

}  // namespace quorvel::sample
