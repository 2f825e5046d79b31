#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crs/Angle.h"
#include "crs/Crs.h"
#include "crs/TypedPointIn.h"
#include "tests/crs/Cs2cs.h"

namespace quorvel {
namespace {

using test::Cs2cs;
using test::Swapped;

const GridArea kArea{2310000, 2490500, 5040000, 5170000};

std::vector<SystemPoint> PointsOverRegion(int count)
{
    std::mt19937 random(22);
    std::uniform_real_distribution<double> east(kArea.west, kArea.east), north(kArea.south, kArea.north);
    std::vector<SystemPoint> points;
    for (int i = 0; i < count; ++i)
        points.push_back({east(random), north(random)});
    return points;
}

// Apart in metres; degrees are x longitude, y latitude.
double Apart(ReferenceSystem system, SystemPoint a, SystemPoint b)
{
    double dx = a.x - b.x, dy = a.y - b.y;
    if (IsGeographic(system)) {
        dy *= 111320;
        dx *= 111320 * std::cos(a.y * M_PI / 180);
    }
    return std::hypot(dx, dy);
}

// PROJ's own choice for the region is EPSG:1660 once the ballpark is ruled
// out; ETRF2000 / UTM is then a projection of the same latitude and longitude.
TEST(Conversion, AgreesWithProjAndComesBackFor200PointsInEachSystem)
{
    const std::vector<SystemPoint> gb = PointsOverRegion(200);
    struct Row {
        ReferenceSystem system;
        std::vector<SystemPoint> expected;
    };
    std::vector<Row> rows = {{ReferenceSystem::GaussBoagaEast, gb}};
    for (const ReferenceSystem system : {ReferenceSystem::Wgs84, ReferenceSystem::Utm32, ReferenceSystem::Utm33})
        rows.push_back({system, test::ProjFromGaussBoaga(system, gb)});
    for (const Row& row : rows) {
        ASSERT_EQ(row.expected.size(), gb.size());
        double worstTo = 0, worstFrom = 0, worstBack = 0;
        for (std::size_t i = 0; i < gb.size(); ++i) {
            const SystemPoint there = FromGaussBoaga(row.system, gb[i]);
            worstTo = std::max(worstTo, Apart(row.system, there, row.expected[i]));
            worstFrom = std::max(worstFrom, Apart(ReferenceSystem::GaussBoagaEast,
                                                  ToGaussBoaga(row.system, row.expected[i]), gb[i]));
            worstBack = std::max(worstBack, Apart(ReferenceSystem::GaussBoagaEast, ToGaussBoaga(row.system, there), gb[i]));
        }
        EXPECT_LT(worstTo, 0.001) << EpsgCode(row.system);
        EXPECT_LT(worstFrom, 0.001) << EpsgCode(row.system);
        EXPECT_LT(worstBack, 0.001) << EpsgCode(row.system);
    }
}

// Without a datum shift (what PROJ's ballpark step does, and what it picks
// for Gauss-Boaga to ETRF2000 / UTM without the national grids) the point
// moves by about 80 m; EPSG:1660 is applied instead.
TEST(Conversion, UsesTheMainlandHelmertNotTheBallpark)
{
    const std::vector<SystemPoint> at = {{2400000, 5100000}};
    const SystemPoint monteMario = Swapped(Cs2cs("EPSG:3004 EPSG:4265", at)).at(0);
    // PROJ's ballpark candidate from Gauss-Boaga to ETRF2000 / UTM 33N.
    const SystemPoint ballparkUtm =
        Cs2cs("+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=2520000 +y_0=0 +ellps=intl +to +proj=utm +zone=33 "
              "+ellps=GRS80",
              at)
            .at(0);
    const double shift = Apart(ReferenceSystem::Wgs84, FromGaussBoaga(ReferenceSystem::Wgs84, at[0]), monteMario);
    EXPECT_GT(shift, 60);
    EXPECT_LT(shift, 100);
    EXPECT_GT(Apart(ReferenceSystem::Utm33, FromGaussBoaga(ReferenceSystem::Utm33, at[0]), ballparkUtm), 60);
}

TEST(Conversion, NamesAndCellEdges)
{
    EXPECT_EQ(ReferenceSystemFromName("EPSG:6707"), ReferenceSystem::Utm32);
    EXPECT_EQ(ReferenceSystemFromName("epsg:4326"), ReferenceSystem::Wgs84);
    EXPECT_EQ(ReferenceSystemFromName("WGS84"), ReferenceSystem::Wgs84);
    EXPECT_EQ(ReferenceSystemFromName("utm33"), ReferenceSystem::Utm33);
    EXPECT_EQ(ReferenceSystemFromName("3004"), ReferenceSystem::GaussBoagaEast);
    EXPECT_EQ(ReferenceSystemFromName("EPSG:32632"), std::nullopt);
    EXPECT_TRUE(NearCellEdge({2400003.9, 5100250}));
    EXPECT_TRUE(NearCellEdge({2400250, 5100496.5}));
    EXPECT_FALSE(NearCellEdge({2400004.1, 5100495.9}));
}

TEST(Angle, FormsPeopleTypeAndTheOnesRefused)
{
    struct Row {
        const char* text;
        AngleAxis axis;
        NumberStatus status;
        double degrees;
    };
    const double dms = 45 + 30 / 60.0 + 15.5 / 3600;
    const auto lat = AngleAxis::Latitude, lon = AngleAxis::Longitude;
    const std::vector<Row> rows = {
        {"45°30'15.5\"N", lat, NumberStatus::Ok, dms},
        {"45 30 15.5", lat, NumberStatus::Ok, dms},
        {"45 30 15,5", lat, NumberStatus::Ok, dms},
        {"N 45° 30′ 15.5″", lat, NumberStatus::Ok, dms},
        {"45°30'15.5''", lat, NumberStatus::Ok, dms},
        {"45,5042", lat, NumberStatus::Ok, 45.5042},
        {" 45.5042 ", lat, NumberStatus::Ok, 45.5042},
        {"45 30,25", lat, NumberStatus::Ok, 45 + 30.25 / 60},
        {"45°30'15.5\"S", lat, NumberStatus::Ok, -dms},
        {"13°12'W", lon, NumberStatus::Ok, -13.2},
        {"13 12 O", lon, NumberStatus::Ok, -13.2},
        {"-13.2", lon, NumberStatus::Ok, -13.2},
        {"", lat, NumberStatus::Empty, 0},
        {"45 60", lat, NumberStatus::NotANumber, 0},
        {"45 30 60", lat, NumberStatus::NotANumber, 0},
        {"45.5 30", lat, NumberStatus::NotANumber, 0},
        {"45 30 15 10", lat, NumberStatus::NotANumber, 0},
        {"-45 30 N", lat, NumberStatus::NotANumber, 0},
        {"45°30'E", lat, NumberStatus::NotANumber, 0},
        {"13°N", lon, NumberStatus::NotANumber, 0},
        {"45,5,3", lat, NumberStatus::NotANumber, 0},
        {"quarantacinque", lat, NumberStatus::NotANumber, 0},
        {"2400000", lat, NumberStatus::OutOfRange, 0},
        {"181", lon, NumberStatus::OutOfRange, 0},
    };
    for (const Row& row : rows) {
        double degrees = 0;
        EXPECT_EQ(ReadAngle(row.text, row.axis, degrees), row.status) << row.text;
        EXPECT_NEAR(degrees, row.degrees, 1e-12) << row.text;
    }
}

// What the coordinate dialog says under its message, in each system.
TEST(TypedPoint, FaultsNameTheSystemAndTellExchangedValues)
{
    struct Row {
        ReferenceSystem system;
        std::string x, y;
        std::string faultStart;  // empty: the point converts into the area
    };
    const SystemPoint gb{2400250, 5100250};
    const SystemPoint wgs = FromGaussBoaga(ReferenceSystem::Wgs84, gb);
    const SystemPoint utm = FromGaussBoaga(ReferenceSystem::Utm33, gb);
    const auto text = [](double v) {
        std::ostringstream s;
        s.precision(12);
        s << v;
        return s.str();
    };
    const std::vector<Row> rows = {
        {ReferenceSystem::Wgs84, text(wgs.x), text(wgs.y), ""},
        {ReferenceSystem::Wgs84, text(wgs.y), text(wgs.x), "I valori di Lat e Lon sembrano scambiati (WGS84"},
        {ReferenceSystem::Wgs84, "9,5", "40", "Il punto Lat 40,0000, Lon 9,5000 (WGS84"},
        {ReferenceSystem::Wgs84, "", "45 30", "Casella Lon vuota (WGS84"},
        {ReferenceSystem::Wgs84, "13", "45 61", "Casella Lat (WGS84 lat/lon): \"45 61\" non è un angolo"},
        {ReferenceSystem::Utm33, text(utm.x), text(utm.y), ""},
        {ReferenceSystem::Utm33, text(utm.y), text(utm.x), "I valori di N e E sembrano scambiati (ETRF2000 / UTM 33N)"},
        {ReferenceSystem::Utm32, "100000", "5100000", "Il punto N 5100000, E 100000 (ETRF2000 / UTM 32N) è fuori"},
        {ReferenceSystem::GaussBoagaEast, "5100250", "2400250", "I valori di E e N sembrano scambiati"},
    };
    for (const Row& row : rows) {
        const std::string faults = TypedPointFaultsIn(row.system, row.x, row.y, ",", kArea);
        EXPECT_EQ(faults.substr(0, row.faultStart.size()), row.faultStart) << faults;
        EXPECT_EQ(faults.empty(), row.faultStart.empty()) << faults;
    }
    const std::optional<SystemPoint> back = TypedPointToGaussBoaga(ReferenceSystem::Wgs84, text(wgs.x), text(wgs.y), ",");
    ASSERT_TRUE(back);
    EXPECT_LT(std::hypot(back->x - gb.x, back->y - gb.y), 0.001);
}

}  // namespace
}  // namespace quorvel
