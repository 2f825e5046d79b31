#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/Gev.h"
#include "rain/PointRain.h"

namespace quorvel {
namespace {

// Within one unit in the last place of single precision of the tabled value.
void ExpectWithinOneUlp(float actual, double tabled, int T)
{
    const float expected = float(tabled);
    const float lower = std::nextafter(expected, -INFINITY);
    const float upper = std::nextafter(expected, INFINITY);
    EXPECT_TRUE(actual >= lower && actual <= upper) << "T=" << T << " got " << actual << " expected " << tabled;
}

struct WorkedTable {
    float cv;
    float a1;
    double results[7];
};

TEST(GevQuantile, ReproducesTheWorkedTables)
{
    const WorkedTable tables[] = {
        {0.3f, 30.0f, {26.448189, 41.085186, 51.601357, 62.354797, 77.312469, 89.343277, 102.079468}},
        {0.25f, 25.5f, {22.984133, 33.352005, 40.800961, 48.417980, 59.013000, 67.534821, 76.556290}},
    };
    for (const auto& table : tables)
        for (std::size_t i = 0; i < kReturnPeriods.size(); ++i)
            ExpectWithinOneUlp(GevQuantile(table.cv, table.a1, kReturnPeriods[i]), table.results[i],
                               kReturnPeriods[i]);
}

TEST(GevQuantile, DegenerateParameters)
{
    for (const std::int16_t T : kReturnPeriods) {
        EXPECT_EQ(GevQuantile(0.0f, 30.0f, T), 30.0f) << "cv = 0 leaves the index value";
        EXPECT_EQ(GevQuantile(0.3f, 0.0f, T), 0.0f) << "a1 = 0 gives no rain";
    }
}

TEST(GevQuantile, IncreasesStrictlyWithReturnPeriod)
{
    for (const float cv : {0.05f, 0.2f, 0.3f, 0.45f, 0.9f})
        for (const float a1 : {1.0f, 20.0f, 45.0f}) {
            const auto q = ComputeQuantiles(cv, a1).InOrder();
            for (std::size_t i = 1; i < q.size(); ++i)
                EXPECT_LT(q[i - 1], q[i]) << "cv=" << cv << " a1=" << a1 << " i=" << i;
        }
}

ErrorKind FailureOf(float cv, float a1, std::int16_t T)
{
    try {
        GevQuantile(cv, a1, T);
    } catch (const Error& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no failure for cv=" << cv << " a1=" << a1 << " T=" << T;
    return ErrorKind::FileNotFound;
}

TEST(GevQuantile, ArithmeticFailures)
{
    EXPECT_EQ(FailureOf(0.3f, 30.0f, 1), ErrorKind::FloatingPoint);
    EXPECT_EQ(FailureOf(0.3f, 30.0f, 0), ErrorKind::FloatingPoint);
    EXPECT_EQ(FailureOf(0.3f, 30.0f, -5), ErrorKind::FloatingPoint);
    EXPECT_EQ(FailureOf(NAN, 30.0f, 2), ErrorKind::FloatingPoint);
    EXPECT_EQ(FailureOf(0.3f, INFINITY, 2), ErrorKind::FloatingPoint);
    EXPECT_EQ(FailureOf(-INFINITY, 30.0f, 2), ErrorKind::FloatingPoint);
    EXPECT_EQ(FailureOf(0.3f, 3.0e38f, 200), ErrorKind::Overflow);
}

}  // namespace
}  // namespace quorvel
