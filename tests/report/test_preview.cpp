// The preview of a report's first sheet, read back from a report of the
// sample template.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include "BiffReader.h"
#include "HostileTemplates.h"
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

// Booleans, errors and a formula's text, typed or a formula's result, are
// words: they stand to the left, and no decimal separator of the user's is
// put into them.
TEST(SheetPreview, BooleansErrorsAndTextResultsAreShownAsWords)
{
    using namespace test;
    auto formula = [](std::uint16_t row, std::uint8_t type, std::uint8_t value) {
        return Le16({row, 1, 15}) + Bytes{type, 0, value, 0, 0, 0, 0xFF, 0xFF} + Le16({0, 0, 0, 2}) +
               Bytes{0x1D, 1};
    };
    BiffWriter w;
    w.Add(0x0205, Le16({20, 1, 15}) + Bytes{1, 0});
    w.Add(0x0205, Le16({21, 1, 15}) + Bytes{0x07, 1});
    w.Add(0x0006, formula(22, 1, 0));
    w.Add(0x0006, formula(23, 2, 0x2A));
    w.Add(0x0006, formula(24, 0, 0));
    w.Add(0x0207, Le16({2}) + Bytes{0, 'o', 'k'});
    const std::string path = (std::filesystem::temp_directory_path() / "quorvel-preview-words.xls").string();
    {
        const Bytes file = MakeCompoundFile({{"Workbook", SmallWorkbook(w.bytes)}});
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    const SheetPreview preview = ReadSheetPreview(path);
    std::filesystem::remove(path);
    std::vector<std::tuple<int, int, std::u16string, bool>> cells;
    for (const PreviewCell& c : preview.cells)
        cells.emplace_back(c.row, c.column, c.text, c.number);
    EXPECT_EQ(cells, (std::vector<std::tuple<int, int, std::u16string, bool>>{{5, 2, u"999", true},
                                                                             {20, 1, u"VERO", false},
                                                                             {21, 1, u"#DIV/0!", false},
                                                                             {22, 1, u"FALSO", false},
                                                                             {23, 1, u"#N/A", false},
                                                                             {24, 1, u"ok", false}}));
}

}  // namespace
}  // namespace quorvel
