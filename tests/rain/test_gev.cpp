#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/Gev.h"
#include "rain/PointRain.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

// Each quantile within one unit in the last place of single precision of the worked tables.
TEST(GevQuantile, ReproducesTheWorkedTables)
{
    const struct {
        float cv, a1;
        double results[7];
    } tables[] = {
        {0.3f, 30.0f, {26.448189, 41.085186, 51.601357, 62.354797, 77.312469, 89.343277, 102.079468}},
        {0.25f, 25.5f, {22.984133, 33.352005, 40.800961, 48.417980, 59.013000, 67.534821, 76.556290}},
    };
    for (const auto& table : tables) {
        const auto q = ComputeQuantiles(table.cv, table.a1).InOrder();
        for (std::size_t i = 0; i < kReturnPeriods.size(); ++i) {
            const float expected = float(table.results[i]);
            EXPECT_EQ(GevQuantile(table.cv, table.a1, kReturnPeriods[i]), q[i]);
            EXPECT_NEAR(q[i], expected, std::nextafter(expected, INFINITY) - expected) << "T=" << kReturnPeriods[i];
        }
    }
}

TEST(GevQuantile, ArithmeticFailures)
{
    const struct {
        float cv, a1;
        std::int16_t T;
        ErrorKind kind;
    } cases[] = {{0.3f, 30, 1, ErrorKind::FloatingPoint},       {NAN, 30, 2, ErrorKind::FloatingPoint},
                 {0.3f, INFINITY, 2, ErrorKind::FloatingPoint}, {0.3f, 3.0e38f, 200, ErrorKind::Overflow},
                 {0.3f, 30, 0, ErrorKind::FloatingPoint},       {0.3f, 30, -5, ErrorKind::FloatingPoint}};
    for (const auto& c : cases)
        EXPECT_EQ(test::FailureOf([&] { GevQuantile(c.cv, c.a1, c.T); }).kind(), c.kind)
            << "cv=" << c.cv << " a1=" << c.a1 << " T=" << c.T;
    EXPECT_EQ(test::FailureOf([] { GevQuantile(0.3f, NAN, 2); }).detail(), "cv or a1 is not a finite number");
}

}  // namespace
}  // namespace quorvel
