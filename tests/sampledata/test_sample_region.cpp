// Reads the sample region back from the assembled application folder, with
// GDAL and with the program's own grid reader, and checks that its parts agree.
#include <algorithm>
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

quorvel::ParameterGrid LoadGrid(const std::string& name)
{
    return quorvel::ParameterGrid::Load(Path("grd/param_" + name + ".ras"), Path("grd/param_" + name + ".hdr"));
}

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The table's lines, each ended by CR LF: a line without it is not one.
std::vector<std::string> TableLines()
{
    std::ifstream in(Path("dat/comuniPolyRid.dat"), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
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

// Each grid reads as the program reads it; land cells hold plausible values,
// sea cells the no-data value, the same cells in all three grids.
TEST(SampleGrids, ReadLikeTheProgramAndPlausible)
{
    struct Expect {
        std::string name;
        float lo, hi;
    };
    const auto a1 = LoadGrid("a1");
    const auto sea = [&a1](int r, int c) { return a1.At({r, c}) == kNoData; };
    int seaCells = 0;
    for (const Expect& e : {Expect{"a1", 20, 45}, Expect{"a2", 0.25f, 0.50f}, Expect{"cv", 0.20f, 0.45f}}) {
        SCOPED_TRACE(e.name);
        const auto grid = LoadGrid(e.name);
        ASSERT_EQ(grid.rowCount(), 260);
        ASSERT_EQ(grid.columnCount(), 361);
        const quorvel::GridCell cell = quorvel::CellForPoint(2400000.0f, 5100000.0f);
        EXPECT_EQ(quorvel::ReadGridCell(Path("grd/param_" + e.name + ".ras"), Path("grd/param_" + e.name + ".hdr"),
                                        cell.row, cell.column),
                  grid.At(cell));
        for (int r = 1; r <= 260; ++r)
            for (int c = 1; c <= 361; ++c) {
                const float v = grid.At({r, c});
                if (sea(r, c)) {
                    ASSERT_EQ(v, kNoData) << r << "," << c;
                    ++seaCells;
                } else {
                    ASSERT_TRUE(v >= e.lo && v <= e.hi) << r << "," << c << ": " << v;
                }
            }
    }
    EXPECT_GT(seaCells, 3 * 1000) << "the sea holds no data";
    EXPECT_LT(seaCells, 3 * 260 * 361 / 4);
}

// Polygon i and name point i are row i of the table (OBJECTID - 1 is the
// shape's index), a fixed-width Windows-1252 line with a unique name, a code
// the table's reader takes and an area. Each municipality lies wholly in one
// province, its own; its seat lies in a cell with data,
// so a point picked in a town has rainfall.
TEST(SampleShapefiles, MunicipalitiesAgreeWithTheTableTheirAreasAndTheGrids)
{
    const std::vector<std::string> lines = TableLines();
    const Shapes polygons = ReadShapes("comuniPoly.shp");
    const Shapes seats = ReadShapes("toponomasticaComuni.shp");
    const Shapes provinces = ReadShapes("V_PROVINCEpoly.shp");
    const auto a1 = LoadGrid("a1");
    ASSERT_EQ(lines.size(), 219u);
    ASSERT_EQ(polygons.geometries.size(), 219u);
    ASSERT_EQ(seats.geometries.size(), 219u);
    ASSERT_EQ(provinces.geometries.size(), 4u);
    std::set<std::string> names;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_GE(lines[i].size(), 80u);
        names.insert(Trim(lines[i].substr(10, 40)));
        EXPECT_FALSE(Trim(lines[i].substr(lines[i].size() - 10)).empty()) << "no area";
        char* name = CPLRecode(Trim(lines[i].substr(10, 40)).c_str(), CPL_ENC_ISO8859_1, CPL_ENC_UTF8);
        const std::vector<std::string> row = {Trim(lines[i].substr(0, 10)), Trim(lines[i].substr(50, 10)), name,
                                              Trim(lines[i].substr(60, 10))};
        CPLFree(name);
        SCOPED_TRACE(row[2]);
        EXPECT_EQ(row[0], std::to_string(i + 1));
        EXPECT_TRUE(std::stoi(row[1]) > 0 && std::stoi(row[1]) <= 32767);
        EXPECT_EQ(std::vector<std::string>(polygons.fields[i].begin(), polygons.fields[i].begin() + 4), row);
        EXPECT_EQ(seats.fields[i][1], row[2]);
        EXPECT_TRUE(polygons.geometries[i]->IsValid());
        EXPECT_GT(Area(*polygons.geometries[i]), 1e6);
        EXPECT_TRUE(polygons.geometries[i]->Contains(seats.geometries[i].get())) << "the seat lies outside";
        const auto* seat = seats.geometries[i]->toPoint();
        EXPECT_GT(a1.At(quorvel::CellForPoint(float(seat->getX()), float(seat->getY()))), 0) << "the seat has no data";
        const std::vector<int> province = Holders(*polygons.geometries[i], provinces);
        ASSERT_TRUE(province.size() == 1 && province[0] >= 0);
        EXPECT_EQ(provinces.fields[province[0]][0], row[3]);
    }
    EXPECT_EQ(names.size(), 219u) << "municipality names must be unique";
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
    })) << "no accented name";
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
