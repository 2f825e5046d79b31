// Reads the sample region back from the assembled application folder, with
// GDAL and with the program's own grid reader, and checks that its parts agree.
#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include "rain/Grid.h"

namespace {

std::string Path(const std::string& relative) { return QUORVEL_APP_DIR "/" + relative; }

quorvel::ParameterGrid LoadGrid(const std::string& name)
{
    return quorvel::ParameterGrid::Load(Path("grd/param_" + name + ".ras"), Path("grd/param_" + name + ".hdr"));
}

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The table's lines, up to the first not ended by CR LF.
std::vector<std::string> TableLines()
{
    std::ifstream in(Path("dat/comuniPolyRid.dat"), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line) && line.ends_with('\r');)
        lines.push_back(line.substr(0, line.size() - 1));
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

// The first field of the one area that holds the shape, but for slivers of its border.
std::string HolderCode(const OGRGeometry& shape, const Shapes& areas)
{
    for (std::size_t a = 0; a < areas.geometries.size(); ++a) {
        std::unique_ptr<OGRGeometry> overlap(shape.Intersection(areas.geometries[a].get()));
        if (overlap && Area(*overlap) > 0.999 * Area(shape))
            return areas.fields[a][0];
    }
    return {};
}

constexpr float kNoData = -9999;

// Each grid reads as the program reads it; land cells hold plausible values,
// sea cells the no-data value, the same cells in all three grids.
TEST(SampleGrids, ReadLikeTheProgramAndPlausible)
{
    const auto a1 = LoadGrid("a1");
    int seaCells = 0;
    for (const auto& [name, lo, hi] : {std::tuple{"a1", 20.0f, 45.0f}, {"a2", 0.25f, 0.50f}, {"cv", 0.20f, 0.45f}}) {
        SCOPED_TRACE(name);
        const auto grid = LoadGrid(name);
        ASSERT_EQ((std::pair{grid.rowCount(), grid.columnCount()}), (std::pair{260, 361}));
        const quorvel::GridCell cell = quorvel::CellForPoint(2400000.0f, 5100000.0f);
        const std::string file = Path("grd/param_") + name;
        EXPECT_EQ(quorvel::ReadGridCell(file + ".ras", file + ".hdr", cell.row, cell.column), grid.At(cell));
        for (int r = 1; r <= 260; ++r)
            for (int c = 1; c <= 361; ++c) {
                const float v = grid.At({r, c});
                if (a1.At({r, c}) == kNoData) {
                    ASSERT_EQ(v, kNoData) << r << "," << c;
                    ++seaCells;
                } else {
                    ASSERT_TRUE(v >= lo && v <= hi) << r << "," << c << ": " << v;
                }
            }
    }
    EXPECT_GT(seaCells, 3 * 1000) << "the sea holds no data";
    EXPECT_LT(seaCells, 3 * 260 * 361 / 4);
}

// Polygon i and name point i are row i of the table, a fixed-width Windows-1252
// line with a unique name, a code the table's reader takes and an area. Each
// municipality lies wholly in its own province; its seat lies in a cell with
// data, so a point picked in a town has rainfall.
TEST(SampleShapefiles, MunicipalitiesAgreeWithTheTableTheirAreasAndTheGrids)
{
    const std::vector<std::string> lines = TableLines();
    const Shapes polygons = ReadShapes("comuniPoly.shp");
    const Shapes seats = ReadShapes("toponomasticaComuni.shp");
    const Shapes provinces = ReadShapes("V_PROVINCEpoly.shp");
    const auto a1 = LoadGrid("a1");
    ASSERT_EQ((std::vector{lines.size(), polygons.geometries.size(), seats.geometries.size(),
                           provinces.geometries.size()}),
              (std::vector<std::size_t>{219, 219, 219, 4}));
    std::set<std::string> names;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_GE(lines[i].size(), 80u);
        EXPECT_FALSE(Trim(lines[i].substr(lines[i].size() - 10)).empty()) << "no area";
        const std::vector<std::string> row = {Trim(lines[i].substr(0, 10)), Trim(lines[i].substr(50, 10)),
                                              CPLString(Trim(lines[i].substr(10, 40))).Recode(CPL_ENC_ISO8859_1, CPL_ENC_UTF8),
                                              Trim(lines[i].substr(60, 10))};
        names.insert(row[2]);
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
        EXPECT_EQ(HolderCode(*polygons.geometries[i], provinces), row[3]) << "not wholly in its own province";
    }
    EXPECT_EQ(names.size(), 219u) << "municipality names must be unique";
    // Each letter from U+00C0 to U+00FF begins with 0xC3 in UTF-8.
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](auto& name) { return name.find('\xC3') != name.npos; }))
        << "no accented name";
}

// The relief covers the grid; each district's raster is finer, with
// overviews, and covers its district.
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
        EXPECT_LE(t[1], 25);
        EXPECT_GE(ds->GetRasterBand(1)->GetOverviewCount(), 4);
        OGREnvelope env;
        districts.geometries[d]->getEnvelope(&env);
        EXPECT_TRUE(t[0] <= env.MinX && t[3] >= env.MaxY && east >= env.MaxX && south <= env.MinY);
    }
}

}  // namespace
