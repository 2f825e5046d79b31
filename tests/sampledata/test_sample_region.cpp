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
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The table's lines, each ended by CR LF.
std::vector<std::string> TableLines()
{
    const std::string bytes = ReadBytes(Path("dat/comuniPolyRid.dat"));
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    return lines;
}

// A layer's geometries and its fields as text.
struct Shapes {
    std::vector<std::unique_ptr<OGRGeometry>> geometries;
    std::vector<std::vector<std::string>> fields;
};

Shapes ReadShapes(const std::string& name)
{
    GDALAllRegister();
    Shapes shapes;
    GDALDatasetUniquePtr ds(GDALDataset::Open(Path("Shp/" + name).c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) {
        ADD_FAILURE() << name << ": " << CPLGetLastErrorMsg();
        return shapes;
    }
    for (auto& feature : *ds->GetLayer(0)) {
        shapes.fields.emplace_back();
        for (int i = 0; i < feature->GetFieldCount(); ++i)
            shapes.fields.back().emplace_back(feature->GetFieldAsString(i));
        shapes.geometries.emplace_back(feature->StealGeometry());
    }
    return shapes;
}

double Area(const OGRGeometry& g) { return OGR_G_Area(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&g))); }

// Which of the areas holds the shape: the shape must lie wholly in exactly one.
std::vector<int> Holders(const OGRGeometry& shape, const Shapes& areas)
{
    std::vector<int> holders;
    for (std::size_t a = 0; a < areas.geometries.size(); ++a) {
        std::unique_ptr<OGRGeometry> overlap(shape.Intersection(areas.geometries[a].get()));
        const double share = overlap ? Area(*overlap) / Area(shape) : 0;
        if (share > 0.001)
            holders.push_back(share > 0.999 ? static_cast<int>(a) : -1);
    }
    return holders;
}

constexpr float kNoData = -9999;

// Each grid reads as the program reads it; land cells hold plausible, smooth
// values, sea cells the no-data value, the same cells in all three grids; a1
// rises toward the mountains in the north.
TEST(SampleGrids, ReadLikeTheProgramAndPlausible)
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
        const std::string raster = Path("grd/param_" + e.name + ".ras"), header = Path("grd/param_" + e.name + ".hdr");
        const auto grid = quorvel::ParameterGrid::Load(raster, header);
        ASSERT_EQ(grid.rowCount(), 260);
        ASSERT_EQ(grid.columnCount(), 361);
        const quorvel::GridCell cell = quorvel::CellForPoint(2400000.0f, 5100000.0f);
        EXPECT_EQ(quorvel::ReadGridCell(raster, header, cell.row, cell.column), grid.At(cell));
        float worstStep = 0;
        for (int r = 1; r <= 260; ++r)
            for (int c = 1; c <= 361; ++c) {
                const float v = grid.At({r, c});
                if (sea(r, c)) {
                    ASSERT_EQ(v, kNoData) << r << "," << c;
                    ++seaCells;
                    continue;
                }
                ASSERT_TRUE(v >= e.lo && v <= e.hi) << r << "," << c << ": " << v;
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
    for (int c = 1; c <= 361; ++c)
        for (int r = 10; r < 40; ++r) {
            if (!sea(r, c)) {
                north += a1.At({r, c});
                ++northCells;
            }
            if (!sea(r + 210, c)) {
                south += a1.At({r + 210, c});
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
        EXPECT_GT(a1.At(quorvel::CellForPoint(float(seat->getX()), float(seat->getY()))), 0) << seat->getX();
    }
}

TEST(SampleTable, FixedWidthWindows1252WithOneRowPerPolygon)
{
    const std::string bytes = ReadBytes(Path("dat/comuniPolyRid.dat"));
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 219);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    const std::vector<std::string> lines = TableLines();
    ASSERT_EQ(lines.size(), 219u);
    std::set<std::string> names;
    for (const std::string& line : lines) {
        ASSERT_GE(line.size(), 80u);
        names.insert(Trim(line.substr(10, 40)));
        const int code = std::stoi(line.substr(50, 10));
        EXPECT_TRUE(code > 0 && code <= 32767) << line;
        EXPECT_FALSE(Trim(line.substr(line.size() - 10)).empty()) << line;
    }
    EXPECT_EQ(names.size(), 219u) << "municipality names must be unique";
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
    })) << "no accented name";
}

// Polygon i and name point i are row i of the table (OBJECTID - 1 is the
// shape's index); each municipality lies wholly in one province, its own, and
// in one district.
TEST(SampleShapefiles, MunicipalitiesAgreeWithTheTableAndTheirAreas)
{
    const std::vector<std::string> lines = TableLines();
    const Shapes polygons = ReadShapes("comuniPoly.shp");
    const Shapes points = ReadShapes("toponomasticaComuni.shp");
    const Shapes provinces = ReadShapes("V_PROVINCEpoly.shp");
    const Shapes districts = ReadShapes("V_ISPETTORATI.shp");
    ASSERT_EQ(lines.size(), 219u);
    ASSERT_EQ(polygons.geometries.size(), 219u);
    ASSERT_EQ(points.geometries.size(), 219u);
    ASSERT_EQ(provinces.geometries.size(), 4u);
    ASSERT_EQ(districts.fields.size(), 4u);
    for (std::size_t d = 0; d < 4; ++d)
        EXPECT_EQ(districts.fields[d][0], (std::vector<std::string>{"UD", "TG", "PN", "TO"}[d]));
    std::vector<int> perDistrict(4, 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char* name = CPLRecode(Trim(lines[i].substr(10, 40)).c_str(), CPL_ENC_ISO8859_1, CPL_ENC_UTF8);
        const std::vector<std::string> row = {Trim(lines[i].substr(0, 10)), Trim(lines[i].substr(50, 10)), name,
                                              Trim(lines[i].substr(60, 10))};
        CPLFree(name);
        SCOPED_TRACE(row[2]);
        EXPECT_EQ(row[0], std::to_string(i + 1));
        EXPECT_EQ(std::vector<std::string>(polygons.fields[i].begin(), polygons.fields[i].begin() + 4), row);
        EXPECT_EQ(points.fields[i][1], row[2]);
        EXPECT_TRUE(polygons.geometries[i]->IsValid());
        EXPECT_GT(Area(*polygons.geometries[i]), 1e6);
        EXPECT_TRUE(polygons.geometries[i]->Contains(points.geometries[i].get())) << "the seat lies outside";
        const std::vector<int> province = Holders(*polygons.geometries[i], provinces);
        ASSERT_TRUE(province.size() == 1 && province[0] >= 0);
        EXPECT_EQ(provinces.fields[province[0]][0], row[3]);
        const std::vector<int> district = Holders(*polygons.geometries[i], districts);
        ASSERT_TRUE(district.size() == 1 && district[0] >= 0);
        ++perDistrict[district[0]];
    }
    for (int n : perDistrict)
        EXPECT_GE(n, 20);
}

// The relief covers the grid; each district's raster is finer, tiled,
// compressed, with overviews, and covers its district.
TEST(SampleRasters, ReliefAndDistrictRasters)
{
    const Shapes districts = ReadShapes("V_ISPETTORATI.shp");
    ASSERT_EQ(districts.geometries.size(), 4u);
    for (int d = -1; d < 4; ++d) {
        const std::string file = d < 0 ? "Raster/demTRNSh.ecw" : "Raster/" + districts.fields[d][0] + ".tif";
        SCOPED_TRACE(file);
        GDALDatasetUniquePtr ds(GDALDataset::Open(Path(file).c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
        ASSERT_TRUE(ds);
        double t[6];
        ds->GetGeoTransform(t);
        ASSERT_EQ(ds->GetRasterCount(), 3);
        for (int b = 1; b <= 3; ++b)
            EXPECT_EQ(ds->GetRasterBand(b)->GetRasterDataType(), GDT_Byte);
        const double east = t[0] + ds->GetRasterXSize() * t[1], south = t[3] - ds->GetRasterYSize() * t[1];
        if (d < 0) {
            EXPECT_EQ((std::vector<double>{t[0], t[3], east, south, t[1]}),
                      (std::vector<double>{2310000, 5170000, 2490500, 5040000, 100}));
            continue;
        }
        int blockX = 0, blockY = 0;
        ds->GetRasterBand(1)->GetBlockSize(&blockX, &blockY);
        EXPECT_LE(t[1], 25);
        EXPECT_EQ(blockX, 256);
        EXPECT_NE(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), nullptr);
        EXPECT_GE(ds->GetRasterBand(1)->GetOverviewCount(), 4);
        OGREnvelope env;
        districts.geometries[d]->getEnvelope(&env);
        EXPECT_TRUE(t[0] <= env.MinX && t[3] >= env.MaxY && east >= env.MaxX && south <= env.MinY);
    }
}

}  // namespace
