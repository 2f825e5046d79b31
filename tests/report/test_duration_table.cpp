#include <array>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "rain/Durations.h"
#include "report/DurationTable.h"
#include "report/Report.h"
#include "report/Workbook.h"

namespace quorvel {
namespace {

// The sample template's table h(d) = h1 · d^a2, d from 1 to 24 hours, evaluated
// into the report, is the sample region's law to the last bit.
TEST(DurationTable, SampleTemplatesTableIsTheLaw)
{
    const std::optional<DurationLaw> law = ReadDurationLaw(QUORVEL_APP_DIR "/");
    ASSERT_TRUE(law);
    const std::vector<std::uint8_t> templateFile = ReadReportTemplate(QUORVEL_SAMPLE_TEMPLATE);
    std::mt19937 random(30);
    std::uniform_real_distribution<float> exponent(0.2f, 0.6f), height(15, 40);
    for (int i = 0; i < 50; ++i) {
        const float a2 = exponent(random);
        std::array<float, 7> q{};
        q[0] = height(random);
        for (std::size_t t = 1; t < 7; ++t)
            q[t] = q[t - 1] * 1.2f;
        const auto cells = ReportCells(2400000, 5100000, 2400250, 5100250, a2, q[0], q[1], q[2], q[3], q[4], q[5], q[6]);
        const auto table = ReportDurationTable(BuildReportFile(templateFile, cells, "template"), "template");
        ASSERT_EQ(table.size(), 24u);
        for (std::size_t r = 0; r < table.size(); ++r) {
            EXPECT_EQ(table[r].hours, double(r + 1));
            EXPECT_EQ(CellName(table[r].row, table[r].column), "A" + std::to_string(17 + r));
            for (std::size_t t = 0; t < 7; ++t) {
                ASSERT_TRUE(table[r].heights[t]) << r << " " << t;
                EXPECT_EQ(*table[r].heights[t], DepthAt(*law, q[t], a2, table[r].hours)) << r << " " << t;
            }
        }
    }
}

TEST(DurationTable, CellNames)
{
    EXPECT_EQ(CellName(0, 0), "A1");
    EXPECT_EQ(CellName(16, 7), "H17");
    EXPECT_EQ(CellName(9, 26), "AA10");
}

}  // namespace
}  // namespace quorvel
