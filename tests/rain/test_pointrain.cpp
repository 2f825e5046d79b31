#include <array>
#include <cmath>
#include <filesystem>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/Gev.h"
#include "rain/PointRain.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

using PointRainInFolder = test::GridsFolder;

// Column 1 has cv = 0: it rains its index value.
TEST_F(PointRainInFolder, WorkedPointAndACellWithoutVariation)
{
    const PointRain rain = ComputePointRain({2400000, 5100000});
    EXPECT_EQ(rain.cell, (GridCell{140, 181}));
    EXPECT_EQ(rain.centre, (GaussBoagaPoint{2400250, 5100250}));
    EXPECT_EQ((std::array{rain.a2, rain.a1, rain.cv}),
              (std::array{0.25f + 140.0f / 1000.0f, 20.0f + 181.0f / 20.0f, 0.2f + 321.0f / 3000.0f}));
    EXPECT_EQ(rain.quantiles.InOrder(), ComputeQuantiles(rain.cv, rain.a1).InOrder());
    const PointRain flat = ComputePointRain({2310100, 5100000});
    EXPECT_THAT(flat.quantiles.InOrder(), ::testing::Each(flat.a1));
}

// Points outside fail while a2 is read; the grids are read a2, a1, cv.
TEST_F(PointRainInFolder, Failures)
{
    for (const GaussBoagaPoint point : {GaussBoagaPoint{2309999, 5100000}, {2310000 + kColumns * 500, 5100000}}) {
        const Error e = test::FailureOf([point] { ComputePointRain(point); });
        EXPECT_EQ(std::pair(e.kind(), e.file()), std::pair(ErrorKind::SubscriptOutOfRange, std::string(kA2Raster)));
    }
    std::filesystem::remove("grd/param_cv.hdr");
    std::filesystem::remove("grd/param_a1.ras");
    const Error e = test::FailureOf([] { ComputePointRain({2400000, 5100000}); });
    EXPECT_EQ(std::pair(e.kind(), e.file()), std::pair(ErrorKind::FileNotFound, std::string(kA1Raster)));
}

// A no-data marker, zero where zero means nothing, or not a number: the cell
// has no valid data, whichever way the grids are read.
TEST_F(PointRainInFolder, CellWithoutValidDataGivesNoRainfall)
{
    const std::pair<std::string, float> cases[] = {
        {"a1", -9999.0f}, {"a1", 0.0f}, {"a1", NAN}, {"a1", INFINITY},
        {"a2", -9999.0f}, {"a2", 0.0f}, {"cv", -9999.0f}, {"cv", -0.01f}, {"cv", NAN},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name + " = " + std::to_string(value));
        std::vector<float>& grid = name == "a1" ? a1 : name == "a2" ? a2 : cv;
        const float kept = std::exchange(Cell(grid, 140, 181), value);
        WriteGrids();
        const Error e = test::FailureOf([] { ComputePointRain({2400000, 5100000}); });
        EXPECT_EQ(e.kind(), ErrorKind::NoValidData);
        EXPECT_NE(e.italianDetail().find("riga 140, colonna 181: " + name), std::string::npos) << e.italianDetail();
        EXPECT_THROW(ComputePointRain({2400000, 5100000}, ParameterGrids::Load()), Error);
        Cell(grid, 140, 181) = kept;
        WriteGrids();
    }
}

// Parameters of the right sign whose rain no storm could give: a1 and cv
// swapped, a corrupt cv, an a1 of a flood, one beyond single precision. The
// cell is refused with its values, whichever way the grids are read.
TEST_F(PointRainInFolder, ImplausibleRainfallIsRefusedNamingTheValues)
{
    const struct {
        const char* name;
        float a1, cv;
        const char* detail;
    } cases[] = {
        {"swapped", 0.30733332f, 29.05f, "riga 140, colonna 181: a2 = 0.39, a1 = 0.30733332, cv = 29.05 danno q2 = -"},
        {"cv = 1e30", 29.05f, 1e30f, "a1 = 29.05, cv = 1e+30 danno q2 = -"},
        {"a flood", 1500.0f, 0.3f, "danno q5 = 2054.2"},
        {"beyond single precision", 3e38f, 0.3f, "danno una pioggia non finita (quantile oltre la precisione singola)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Cell(a1, 140, 181) = c.a1;
        Cell(cv, 140, 181) = c.cv;
        WriteGrids();
        for (const Error& e : {test::FailureOf([] { ComputePointRain({2400000, 5100000}); }),
                               test::FailureOf([] { ComputePointRain({2400000, 5100000}, ParameterGrids::Load()); })}) {
            EXPECT_EQ(e.kind(), ErrorKind::NoValidRainfall);
            EXPECT_NE(e.italianDetail().find(c.detail), std::string::npos) << e.italianDetail();
        }
    }
}

TEST(PlausibleRainfall, FiniteAboveZeroBelow2000MmAndNeverFalling)
{
    const struct {
        RainQuantiles q;
        bool plausible;
    } cases[] = {
        {{26.4f, 41.1f, 51.6f, 62.4f, 77.3f, 89.3f, 102.1f}, true},
        {{30, 30, 30, 30, 30, 30, 30}, true},  // cv = 0: no growth, no fall
        {{26.4f, 41.1f, 51.6f, 50.0f, 77.3f, 89.3f, 102.1f}, false},
        {{102.1f, 89.3f, 77.3f, 62.4f, 51.6f, 41.1f, 26.4f}, false},
        {{-2.69f, 1, 2, 3, 4, 5, 6}, false},
        {{0, 1, 2, 3, 4, 5, 6}, false},
        {{1, 2, 3, 4, 5, 6, 1999.9f}, true},
        {{1, 2, 3, 4, 5, 6, 2000}, false},
        {{1, 2, 3, 4, 5, 6, NAN}, false},
        {{1, 2, 3, 4, 5, 6, INFINITY}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPlausibleRainfall(c.q), c.plausible) << c.q.q2 << " ... " << c.q.q200;
}

}  // namespace
}  // namespace quorvel
