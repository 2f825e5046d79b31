#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/Gev.h"
#include "rain/PointRain.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

constexpr int kColumns = 361;

// Works inside a scratch folder holding the three grids, as the program
// works inside its own folder.
class PointRainInFolder : public ::testing::Test {
protected:
    test::ScratchWorkingDir folder;

    void SetUp() override
    {
        std::vector<float> a2, a1, cv;
        for (int r = 1; r <= kGridRows; ++r)
            for (int c = 1; c <= kColumns; ++c) {
                a2.push_back(0.25f + float(r) / 1000.0f);
                a1.push_back(20.0f + float(c) / 20.0f);
                cv.push_back(c == 1 ? 0.0f : 0.2f + float(r + c) / 3000.0f);
            }
        WriteGrid("a2", a2);
        WriteGrid("a1", a1);
        WriteGrid("cv", cv);
    }

    static void WriteGrid(const std::string& name, const std::vector<float>& values)
    {
        test::WriteParameterGrid(name, kColumns, kGridRows, values);
    }

    static Error FailureAt(GaussBoagaPoint point)
    {
        return test::FailureOf([point] { ComputePointRain(point); });
    }
};

// Column 1 has cv = 0: it rains its index value.
TEST_F(PointRainInFolder, WorkedPointAndACellWithoutVariation)
{
    const PointRain rain = ComputePointRain({2400000, 5100000});
    EXPECT_EQ(rain.cell, (GridCell{140, 181}));
    EXPECT_EQ(rain.centre, (GaussBoagaPoint{2400250, 5100250}));
    EXPECT_EQ(rain.a2, 0.25f + 140.0f / 1000.0f);
    EXPECT_EQ(rain.a1, 20.0f + 181.0f / 20.0f);
    EXPECT_EQ(rain.cv, 0.2f + 321.0f / 3000.0f);
    EXPECT_EQ(rain.quantiles.InOrder(), ComputeQuantiles(rain.cv, rain.a1).InOrder());
    const PointRain flat = ComputePointRain({2310100, 5100000});
    ASSERT_EQ(flat.cv, 0.0f);
    for (const float q : flat.quantiles.InOrder())
        EXPECT_EQ(q, flat.a1);
}

// Points outside fail while a2 is read; the grids are read a2, a1, cv.
TEST_F(PointRainInFolder, Failures)
{
    for (const GaussBoagaPoint point : {GaussBoagaPoint{2309999, 5100000}, {2400000, 5039999},
                                        {2400000, 5170000}, {2310000 + kColumns * 500, 5100000}}) {
        const Error e = FailureAt(point);
        EXPECT_EQ(e.kind(), ErrorKind::SubscriptOutOfRange);
        EXPECT_EQ(e.file(), kA2Raster);
    }
    std::filesystem::remove("grd/param_cv.hdr");
    std::filesystem::remove("grd/param_a1.ras");
    const Error e = FailureAt({2400000, 5100000});
    EXPECT_EQ(e.kind(), ErrorKind::FileNotFound);
    EXPECT_EQ(e.file(), kA1Raster);
}

// A no-data marker, zero where zero means nothing, or not a number: the cell
// has no valid data, whichever way the grids are read.
TEST_F(PointRainInFolder, CellWithoutValidDataGivesNoRainfall)
{
    const std::size_t cell = 139 * kColumns + 180;  // row 140, column 181
    const std::pair<std::string, float> cases[] = {
        {"a1", -9999.0f}, {"a1", 0.0f}, {"a1", NAN}, {"a1", INFINITY},
        {"a2", -9999.0f}, {"a2", 0.0f}, {"cv", -9999.0f}, {"cv", -0.01f}, {"cv", NAN},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name + " = " + std::to_string(value));
        std::vector<float> values(std::size_t(kColumns) * kGridRows, name == "cv" ? 0.3f : 30.0f);
        values[cell] = value;
        WriteGrid(name, values);
        const Error e = FailureAt({2400000, 5100000});
        EXPECT_EQ(e.kind(), ErrorKind::NoValidData);
        EXPECT_NE(e.italianDetail().find("riga 140, colonna 181: " + name), std::string::npos) << e.italianDetail();
        EXPECT_THROW(ComputePointRain({2400000, 5100000}, ParameterGrids::Load()), Error);
        values[cell] = name == "cv" ? 0.3f : 30.0f;
        WriteGrid(name, values);
    }
}

}  // namespace
}  // namespace quorvel
