#include <array>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "BiffReader.h"
#include "HostileTemplates.h"
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

// Excel stores a row of whole numbers typed into a table as one MULRK record:
// a table whose durations and heights are typed, not computed, reads the same.
TEST(DurationTable, TypedTableExcelStoresAsRunsOfNumbers)
{
    using namespace test;
    BiffWriter globals;
    globals.Add(0x00FC, Le16({1, 0, 1, 0, 6}) + Bytes{0, 'D', 'u', 'r', 'a', 't', 'a'});
    BiffWriter sheet;
    sheet.Add(0x00FD, Le16({9, 1, 15, 0, 0}));  // "Durata" at B10
    for (std::uint16_t row = 10; row < 12; ++row) {
        Bytes run = Le16({row, 1});
        for (std::uint32_t k = 0; k < 8; ++k) {
            const std::uint32_t value = k == 0 ? row - 9u : 10 * row + k;
            const std::uint32_t rk = value << 2 | 2;  // a whole number
            run = run + Le16({15, rk & 0xFFFF, rk >> 16});
        }
        sheet.Add(0x00BD, run + Le16({8}));
    }
    const auto table = ReportDurationTable(
        MakeCompoundFile({{"Workbook", SmallWorkbook(sheet.bytes, globals.bytes)}}), "typed.xls");
    ASSERT_EQ(table.size(), 2u);
    for (std::size_t r = 0; r < 2; ++r) {
        EXPECT_EQ(CellName(table[r].row, table[r].column), "B" + std::to_string(11 + r));
        EXPECT_EQ(table[r].hours, double(r + 1));
        for (std::size_t t = 0; t < 7; ++t)
            EXPECT_EQ(table[r].heights[t], 10.0 * double(10 + r) + double(t + 1)) << r << " " << t;
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
