// Reads the sample region back from the assembled application folder, with
// GDAL and with the program's own grid reader, and checks that its parts agree.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "rain/Grid.h"

namespace {

const std::string kApp = QUORVEL_APP_DIR;

std::string Path(const std::string& relative) { return kApp + "/" + relative; }

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string Utf8FromCp1252(const std::string& s)
{
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct TableRow {
    std::string objectId, name, code, province;
};

std::vector<std::string> TableLines()
{
    const std::string bytes = ReadBytes(Path("dat/comuniPolyRid.dat"));
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<TableRow> Table()
{
    std::vector<TableRow> rows;
    for (const std::string& line : TableLines())
        rows.push_back({Trim(line.substr(0, 10)), Utf8FromCp1252(Trim(line.substr(10, 40))),
                        Trim(line.substr(50, 10)), Trim(line.substr(60, 10))});
    return rows;
}

GDALDatasetUniquePtr OpenVector(const std::string& name)
{
    GDALAllRegister();
    GDALDatasetUniquePtr ds(GDALDataset::Open(Path("Shp/" + name).c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds)
        ADD_FAILURE() << name << ": " << CPLGetLastErrorMsg();
    return ds;
}

struct Shapes {
    std::vector<std::unique_ptr<OGRGeometry>> geometries;
    std::vector<std::vector<std::string>> fields;
};

Shapes ReadShapes(const std::string& name)
{
    Shapes shapes;
    GDALDatasetUniquePtr ds = OpenVector(name);
    if (!ds)
        return shapes;
    OGRLayer* layer = ds->GetLayer(0);
    for (auto& feature : *layer) {
        std::vector<std::string> values;
        for (int i = 0; i < feature->GetFieldCount(); ++i)
            values.emplace_back(feature->GetFieldAsString(i));
        shapes.fields.push_back(values);
        shapes.geometries.emplace_back(feature->StealGeometry());
    }
    return shapes;
}

double Area(const OGRGeometry& g) { return OGR_G_Area(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&g))); }

double OverlapArea(const OGRGeometry& a, const OGRGeometry& b)
{
    if (!a.Intersects(&b))
        return 0;
    std::unique_ptr<OGRGeometry> overlap(a.Intersection(&b));
    return overlap ? Area(*overlap) : 0;
}

// Which of the areas holds the shape: the shape must lie wholly in exactly one.
std::vector<int> Holders(const OGRGeometry& shape, const Shapes& areas)
{
    std::vector<int> holders;
    const double area = Area(shape);
    for (std::size_t a = 0; a < areas.geometries.size(); ++a) {
        const double share = OverlapArea(shape, *areas.geometries[a]) / area;
        if (share > 0.999)
            holders.push_back(static_cast<int>(a));
        else if (share > 0.001)
            holders.push_back(-1);
    }
    return holders;
}

TEST(SampleGrids, HeadersAndSizesAsTheReaderSeesThem)
{
    for (const std::string name : {"a1", "a2", "cv"}) {
        SCOPED_TRACE(name);
        const std::string raster = Path("grd/param_" + name + ".ras");
        const std::string header = Path("grd/param_" + name + ".hdr");
        const auto grid = quorvel::ParameterGrid::Load(raster, header);
        EXPECT_EQ(grid.rowCount(), 260);
        EXPECT_EQ(grid.columnCount(), 361);
        EXPECT_EQ(ReadBytes(raster).size(), 361u * 260u * 4u);
        const std::string text = ReadBytes(header);
        EXPECT_EQ(text.substr(0, 5), "ncols");
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'));
        EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 3);
        // The worked example of the grid geometry: a cell well inside the region.
        const quorvel::GridCell cell = quorvel::CellForPoint(2400000.0f, 5100000.0f);
        EXPECT_EQ(quorvel::ReadGridCell(raster, header, cell.row, cell.column), grid.At(cell));
    }
}

constexpr float kNoData = -9999;

// Land cells hold plausible, smooth values; sea cells the no-data value, the
// same cells in all three grids.
TEST(SampleGrids, FieldsArePlausibleSmoothAndRiseTowardTheMountains)
{
    struct Expect {
        std::string name;
        float lo, hi, step;
    };
    const auto a1 = quorvel::ParameterGrid::Load(Path("grd/param_a1.ras"), Path("grd/param_a1.hdr"));
    const auto sea = [&a1](int r, int c) { return a1.At({r, c}) == kNoData; };
    int seaCells = 0;
    for (const Expect& e : {Expect{"a1", 20, 45, 1.0f}, Expect{"a2", 0.25f, 0.50f, 0.01f},
                            Expect{"cv", 0.20f, 0.45f, 0.01f}}) {
        SCOPED_TRACE(e.name);
        const auto grid = quorvel::ParameterGrid::Load(Path("grd/param_" + e.name + ".ras"),
                                                       Path("grd/param_" + e.name + ".hdr"));
        float worstStep = 0;
        for (int r = 1; r <= 260; ++r)
            for (int c = 1; c <= 361; ++c) {
                const float v = grid.At({r, c});
                if (sea(r, c)) {
                    ASSERT_EQ(v, kNoData) << r << "," << c;
                    ++seaCells;
                    continue;
                }
                ASSERT_TRUE(std::isfinite(v));
                ASSERT_GE(v, e.lo) << r << "," << c;
                ASSERT_LE(v, e.hi) << r << "," << c;
                if (c > 1 && !sea(r, c - 1))
                    worstStep = std::max(worstStep, std::fabs(v - grid.At({r, c - 1})));
                if (r > 1 && !sea(r - 1, c))
                    worstStep = std::max(worstStep, std::fabs(v - grid.At({r - 1, c})));
            }
        EXPECT_LE(worstStep, e.step);
    }
    EXPECT_GT(seaCells, 3 * 1000) << "the sea holds no data";
    EXPECT_LT(seaCells, 3 * 260 * 361 / 4);
    double north = 0, south = 0;
    int northCells = 0, southCells = 0;
    for (int c = 1; c <= 361; ++c) {
        for (int r = 10; r < 40; ++r)
            if (!sea(r, c)) {
                north += a1.At({r, c});
                ++northCells;
            }
        for (int r = 220; r < 250; ++r)
            if (!sea(r, c)) {
                south += a1.At({r, c});
                ++southCells;
            }
    }
    EXPECT_GT(north / northCells, south / southCells * 1.2);
}

// Every municipality's seat lies in a cell with data, so a point picked in a town has rainfall.
TEST(SampleGrids, EverySeatLiesInACellWithData)
{
    const Shapes seats = ReadShapes("toponomasticaComuni.shp");
    ASSERT_EQ(seats.geometries.size(), 219u);
    const auto a1 = quorvel::ParameterGrid::Load(Path("grd/param_a1.ras"), Path("grd/param_a1.hdr"));
    for (const auto& geometry : seats.geometries) {
        const auto* seat = geometry->toPoint();
        const quorvel::GridCell cell = quorvel::CellForPoint(float(seat->getX()), float(seat->getY()));
        EXPECT_GT(a1.At(cell), 0) << seat->getX() << ", " << seat->getY();
    }
}

TEST(SampleTable, FixedWidthWindows1252WithOneRowPerPolygon)
{
    const std::string bytes = ReadBytes(Path("dat/comuniPolyRid.dat"));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 219);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\r'), 219);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

    const std::vector<std::string> lines = TableLines();
    ASSERT_EQ(lines.size(), 219u);
    std::set<std::string> names;
    bool accent = false, apostrophe = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i + 1);
        ASSERT_GE(lines[i].size(), 80u);
        EXPECT_EQ(std::stoi(lines[i].substr(0, 10)), static_cast<int>(i + 1));
        const std::string name = Trim(lines[i].substr(10, 40));
        EXPECT_FALSE(name.empty());
        names.insert(name);
        accent = accent || std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
        apostrophe = apostrophe || name.find('\'') != std::string::npos;
        const int code = std::stoi(lines[i].substr(50, 10));
        EXPECT_GT(code, 0);
        EXPECT_LE(code, 32767);
        EXPECT_FALSE(Trim(lines[i].substr(60, 10)).empty());
        EXPECT_FALSE(Trim(lines[i].substr(lines[i].size() - 10)).empty());
    }
    EXPECT_EQ(names.size(), 219u) << "municipality names must be unique";
    EXPECT_TRUE(accent);
    EXPECT_TRUE(apostrophe);
}

TEST(SampleShapefiles, EveryLayerIsInGaussBoagaEastWithItsCodePage)
{
    OGRSpatialReference gaussBoaga;
    gaussBoaga.importFromEPSG(3004);
    for (const std::string name : {"comuniPoly", "V_PROVINCEpoly", "V_ISPETTORATI", "toponomasticaComuni",
                                   "toponomastica25kdep"}) {
        SCOPED_TRACE(name);
        for (const std::string ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
            EXPECT_FALSE(ReadBytes(Path("Shp/" + name + ext)).empty()) << ext;
        EXPECT_EQ(Trim(ReadBytes(Path("Shp/" + name + ".cpg"))), "UTF-8");
        GDALDatasetUniquePtr ds = OpenVector(name + ".shp");
        ASSERT_TRUE(ds);
        const OGRSpatialReference* srs = ds->GetLayer(0)->GetSpatialRef();
        ASSERT_NE(srs, nullptr);
        const char* options[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", "CRITERION=EQUIVALENT", nullptr};
        EXPECT_TRUE(srs->IsSame(&gaussBoaga, options));
    }
}

TEST(SampleShapefiles, TablePolygonsAndNamePointsAgreeInOrder)
{
    const std::vector<TableRow> table = Table();
    const Shapes polygons = ReadShapes("comuniPoly.shp");
    const Shapes points = ReadShapes("toponomasticaComuni.shp");
    ASSERT_EQ(table.size(), 219u);
    ASSERT_EQ(polygons.geometries.size(), 219u);
    ASSERT_EQ(points.geometries.size(), 219u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(table[i].name);
        // OBJECTID - 1 is the shape's index in the layer.
        EXPECT_EQ(polygons.fields[i][0], table[i].objectId);
        EXPECT_EQ(std::stoi(table[i].objectId), static_cast<int>(i + 1));
        EXPECT_EQ(polygons.fields[i][1], table[i].code);
        EXPECT_EQ(polygons.fields[i][2], table[i].name);
        EXPECT_EQ(polygons.fields[i][3], table[i].province);
        EXPECT_EQ(points.fields[i][1], table[i].name);
        EXPECT_NE(points.fields[i][0], table[i].name);
        EXPECT_TRUE(polygons.geometries[i]->IsValid());
        EXPECT_GT(Area(*polygons.geometries[i]), 1e6);
        EXPECT_TRUE(polygons.geometries[i]->Contains(points.geometries[i].get()))
            << "the seat lies outside its municipality";
    }
}

TEST(SampleShapefiles, MunicipalitiesTileTheLandWithoutOverlap)
{
    const Shapes polygons = ReadShapes("comuniPoly.shp");
    ASSERT_EQ(polygons.geometries.size(), 219u);
    double sum = 0;
    OGRMultiPolygon all;
    for (const auto& g : polygons.geometries) {
        sum += Area(*g);
        if (wkbFlatten(g->getGeometryType()) == wkbPolygon)
            all.addGeometry(g.get());
        else
            for (const OGRPolygon* p : *g->toMultiPolygon())
                all.addGeometry(p);
    }
    std::unique_ptr<OGRGeometry> land(all.UnionCascaded());
    ASSERT_TRUE(land);
    EXPECT_NEAR(Area(*land), sum, sum * 1e-6) << "municipalities overlap";
    // A region of the grid's size, mostly land.
    EXPECT_GT(sum, 15000e6);
    EXPECT_LT(sum, 361 * 500.0 * 260 * 500);
}

TEST(SampleShapefiles, DistrictsInTheirOrderCoverTheLandWithoutOverlap)
{
    const Shapes districts = ReadShapes("V_ISPETTORATI.shp");
    const Shapes municipalities = ReadShapes("comuniPoly.shp");
    ASSERT_EQ(districts.geometries.size(), 4u);
    const std::vector<std::string> codes{"UD", "TG", "PN", "TO"};
    double land = 0;
    for (const auto& g : municipalities.geometries)
        land += Area(*g);
    double sum = 0;
    for (std::size_t d = 0; d < 4; ++d) {
        EXPECT_EQ(districts.fields[d][0], codes[d]);
        EXPECT_TRUE(districts.geometries[d]->IsValid());
        sum += Area(*districts.geometries[d]);
        for (std::size_t e = d + 1; e < 4; ++e)
            EXPECT_LT(OverlapArea(*districts.geometries[d], *districts.geometries[e]), 1e4) << codes[d] << codes[e];
    }
    EXPECT_NEAR(sum, land, land * 1e-5);
}

TEST(SampleShapefiles, EachMunicipalityLiesInOneProvinceAndOneDistrict)
{
    const std::vector<TableRow> table = Table();
    const Shapes municipalities = ReadShapes("comuniPoly.shp");
    const Shapes provinces = ReadShapes("V_PROVINCEpoly.shp");
    const Shapes districts = ReadShapes("V_ISPETTORATI.shp");
    ASSERT_EQ(provinces.geometries.size(), 4u);
    ASSERT_EQ(municipalities.geometries.size(), 219u);
    std::vector<int> perDistrict(4, 0);
    for (std::size_t i = 0; i < municipalities.geometries.size(); ++i) {
        SCOPED_TRACE(municipalities.fields[i][2]);
        const std::vector<int> province = Holders(*municipalities.geometries[i], provinces);
        ASSERT_EQ(province.size(), 1u);
        ASSERT_GE(province[0], 0);
        EXPECT_EQ(provinces.fields[static_cast<std::size_t>(province[0])][0], table[i].province);
        const std::vector<int> district = Holders(*municipalities.geometries[i], districts);
        ASSERT_EQ(district.size(), 1u);
        ASSERT_GE(district[0], 0);
        ++perDistrict[static_cast<std::size_t>(district[0])];
    }
    for (int n : perDistrict)
        EXPECT_GE(n, 20);
}

TEST(SampleShapefiles, DetailedPlaceNames)
{
    const Shapes places = ReadShapes("toponomastica25kdep.shp");
    EXPECT_GE(places.geometries.size(), 3000u);
    const Shapes districts = ReadShapes("V_ISPETTORATI.shp");
    ASSERT_EQ(districts.geometries.size(), 4u);
    std::size_t inside = 0;
    for (std::size_t i = 0; i < places.geometries.size(); ++i) {
        EXPECT_FALSE(places.fields[i][0].empty());
        for (const auto& d : districts.geometries)
            if (d->Contains(places.geometries[i].get())) {
                ++inside;
                break;
            }
    }
    EXPECT_GE(inside, places.geometries.size() * 99 / 100);
}

struct RasterInfo {
    int width = 0, height = 0, bands = 0, overviews = 0, blockX = 0;
    double pixel = 0, west = 0, north = 0;
    std::string compression;
};

RasterInfo OpenRaster(const std::string& relative)
{
    GDALAllRegister();
    RasterInfo info;
    GDALDatasetUniquePtr ds(GDALDataset::Open(Path(relative).c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!ds) {
        ADD_FAILURE() << relative << ": " << CPLGetLastErrorMsg();
        return info;
    }
    double t[6];
    ds->GetGeoTransform(t);
    info.width = ds->GetRasterXSize();
    info.height = ds->GetRasterYSize();
    info.bands = ds->GetRasterCount();
    info.pixel = t[1];
    info.west = t[0];
    info.north = t[3];
    GDALRasterBand* band = ds->GetRasterBand(1);
    info.overviews = band->GetOverviewCount();
    int by = 0;
    band->GetBlockSize(&info.blockX, &by);
    const char* c = ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE");
    info.compression = c ? c : "";
    for (int b = 1; b <= info.bands; ++b)
        EXPECT_EQ(ds->GetRasterBand(b)->GetRasterDataType(), GDT_Byte);
    return info;
}

TEST(SampleRasters, ReliefCoversTheGrid)
{
    const RasterInfo dem = OpenRaster("Raster/demTRNSh.ecw");
    EXPECT_EQ(dem.bands, 3);
    EXPECT_DOUBLE_EQ(dem.pixel, 100);
    EXPECT_DOUBLE_EQ(dem.west, 2310000);
    EXPECT_DOUBLE_EQ(dem.north, 5170000);
    EXPECT_EQ(dem.width, 1805);
    EXPECT_EQ(dem.height, 1300);
}

TEST(SampleRasters, DistrictRastersAreDetailedTiledCompressedAndCoverTheirDistrict)
{
    const Shapes districts = ReadShapes("V_ISPETTORATI.shp");
    ASSERT_EQ(districts.geometries.size(), 4u);
    for (std::size_t d = 0; d < 4; ++d) {
        const std::string code = districts.fields[d][0];
        SCOPED_TRACE(code);
        const RasterInfo r = OpenRaster("Raster/" + code + ".tif");
        EXPECT_EQ(r.bands, 3);
        EXPECT_LE(r.pixel, 25);
        EXPECT_EQ(r.blockX, 256);
        EXPECT_FALSE(r.compression.empty());
        EXPECT_GE(r.overviews, 4);
        OGREnvelope env;
        districts.geometries[d]->getEnvelope(&env);
        EXPECT_LE(r.west, env.MinX);
        EXPECT_GE(r.north, env.MaxY);
        EXPECT_GE(r.west + r.width * r.pixel, env.MaxX);
        EXPECT_LE(r.north - r.height * r.pixel, env.MinY);
    }
}

}  // namespace
