// The preview of a report's first sheet, read back from a report of the
// sample template.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "rain/Error.h"
#include "report/Report.h"
#include "report/SheetPreview.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

TEST(SheetPreview, ShowsTheStoredValuesInTheirFormatsWithBoldAndMergedCells)
{
    const std::string path = (std::filesystem::temp_directory_path() / "quorvel-preview-test.xls").string();
    WriteRainReportFile(2400000.5f, 5100000, 2400250, 5100250, 0.375f, 24.5f, 33.47f, 39, 45.5f, 53.75f, 60,
                        66.5f, QUORVEL_SAMPLE_TEMPLATE, path);
    const SheetPreview preview = ReadSheetPreview(path);
    std::filesystem::remove(path);

    EXPECT_EQ(preview.rows, 42);
    EXPECT_EQ(preview.columns, 8);
    ASSERT_EQ(preview.columnWidths.size(), 8u);
    EXPECT_GT(preview.columnWidths[0], preview.columnWidths[1]) << "column A fitted to its labels";
    const struct {
        int row, column;
        std::u16string text;
        bool number, bold;
    } cells[] = {
        {0, 0, u"Dati di esempio sintetici – non usare per la progettazione", false, true},
        {5, 2, u"2400000", true, false},   // the point, rounded to even
        {9, 1, u"0.375", true, false},     // a2 in "0.000"
        {11, 7, u"200", true, true},
        {12, 5, u"53.8", true, false},     // a quantile in "0.0"
        {17, 3, u"50.6", true, false},     // a formula's result: 39 * 2^0.375
        {15, 7, u"T 200 anni", false, true},
    };
    for (const auto& want : cells) {
        const auto found = std::find_if(preview.cells.begin(), preview.cells.end(), [&](const PreviewCell& c) {
            return c.row == want.row && c.column == want.column;
        });
        ASSERT_NE(found, preview.cells.end()) << want.row << "," << want.column;
        EXPECT_EQ(found->text, want.text) << want.row << "," << want.column;
        EXPECT_EQ(found->number, want.number) << want.row << "," << want.column;
        EXPECT_EQ(found->bold, want.bold) << want.row << "," << want.column;
    }
    ASSERT_FALSE(preview.merged.empty());
    const PreviewRange& title = preview.merged.front();
    EXPECT_EQ((std::array{title.rowFirst, title.rowLast, title.columnFirst, title.columnLast}),
              (std::array{0, 0, 0, 7}));

    EXPECT_EQ(test::FailureOf([] { ReadSheetPreview(QUORVEL_REPORT_FIXTURES "/../check_report.py"); }).kind(),
              ErrorKind::BadFileFormat);
}

}  // namespace
}  // namespace quorvel
