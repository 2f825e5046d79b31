#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "batch/BatchRun.h"
#include "batch/Csv.h"
#include "rain/Error.h"
#include "rain/PointRain.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

using Records = std::vector<std::vector<std::string>>;
using test::CellEast;
using test::CellNorth;

Records ReadResults(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    CsvReader reader(fd, path);
    CsvRecord record;
    Records records;
    while (reader.Next(',', record))
        records.emplace_back(record.fields.begin(), record.fields.end());
    ::close(fd);
    return records;
}

std::string Text(float value)
{
    std::string text;
    AppendSingle(text, value);
    return text;
}

// A result row holds the point and exactly the numbers of ComputePointRain.
void ExpectRow(const std::vector<std::string>& row, GaussBoagaPoint point, const PointRain& rain)
{
    const auto q = rain.quantiles.InOrder();
    std::vector<std::string> expected = {row.empty() ? "" : row[0], Text(point.x), Text(point.y),
                                         std::to_string(rain.cell.row), std::to_string(rain.cell.column)};
    for (float value : {rain.centre.x, rain.centre.y, rain.a2, rain.a1, rain.cv, q[0], q[1], q[2], q[3], q[4], q[5], q[6]})
        expected.push_back(Text(value));
    expected.push_back("");
    EXPECT_EQ(row, expected);
}

void ExpectFailedRow(const std::vector<std::string>& row, const std::string& id, const std::string& error)
{
    ASSERT_EQ(row.size(), 18u);
    EXPECT_EQ(row[0], id);
    for (std::size_t i = 3; i < 17; ++i)
        EXPECT_EQ(row[i], "") << id << ", column " << i;
    EXPECT_EQ(row[17], error) << id;
}

class BatchRun : public test::AppFolder {
protected:
    BatchOptions options;
    BatchHooks hooks;

    BatchTotals Run(const std::string& points)
    {
        test::WriteText("points.csv", points);
        options.pointsPath = "points.csv";
        options.resultsPath = "results.csv";
        return RunBatch(options, hooks);
    }
    Records Results() { return ReadResults("results.csv"); }
};

TEST_F(BatchRun, MixedRowsKeepTheirOrderAndTheirErrors)
{
    const std::string nanA1 = Text(CellEast(test::kNanA1Column)) + "," + Text(CellNorth(test::kNanA1Row));
    const std::string nanA2 = Text(CellEast(test::kNanA2Column)) + "," + Text(CellNorth(test::kNanA2Row));
    const std::string hugeA1 = Text(CellEast(test::kHugeA1Column)) + "," + Text(CellNorth(test::kHugeA1Row));
    const BatchTotals totals = Run("id,East,North\n"
                                   "first,2400000,5100000\n"
                                   "letters,24OO000,5100000\n"
                                   "west,2300000,5100000\n"
                                   "no north,2400000,\n"
                                   "short,2400000\n"
                                   "nan a1," + nanA1 + "\n"
                                   "nan a2," + nanA2 + "\n"
                                   "huge a1," + hugeA1 + "\n"
                                   "far,1" + std::string(30, '0') + ",5100000\n"
                                   "\"last, quoted\",2400000.3,5100000.7\n");
    EXPECT_EQ(totals.rows, 10u);
    EXPECT_EQ(totals.failed, 8u);

    const Records rows = Results();
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[1][0], "first");
    ExpectRow(rows[1], {2400000, 5100000}, ComputePointRain({2400000, 5100000}));
    ExpectFailedRow(rows[2], "letters", "East is not a number: \"24OO000\"");
    EXPECT_EQ(rows[2][1], "");
    EXPECT_EQ(rows[2][2], "5100000");
    ExpectFailedRow(rows[3], "west", "outside the parameter grids (row 140, column -19)");
    EXPECT_EQ(rows[3][1], "2300000");
    ExpectFailedRow(rows[4], "no north", "North is missing");
    ExpectFailedRow(rows[5], "short", "North is missing");
    ExpectFailedRow(rows[6], "nan a1", "no valid data in the cell (row 10, column 10)");
    ExpectFailedRow(rows[7], "nan a2", "no valid data in the cell (row 10, column 11)");
    ExpectFailedRow(rows[8], "huge a1", "the parameters of the cell give no valid rainfall (row 10, column 12)");
    ExpectFailedRow(rows[9], "far", "overflow (coordinate beyond the grid arithmetic)");
    EXPECT_EQ(rows[10][0], "last, quoted");
    ExpectRow(rows[10], {2400000.25f, 5100000.5f}, ComputePointRain({2400000.25f, 5100000.5f}));
}

TEST_F(BatchRun, AgreesWithComputePointRainInsideAndAtCellBorders)
{
    std::mt19937 random(2026);
    std::uniform_real_distribution<float> east(2308000, 2310000 + test::kBatchColumns * 500 + 2000);
    std::uniform_real_distribution<float> north(5038000, 5172000);
    std::uniform_int_distribution<int> column(0, test::kBatchColumns + 1), row(0, kGridRows + 1);
    const float eastNudges[] = {0, 0.25f, -0.25f, 0.125f, -0.125f};
    const float northNudges[] = {0, 0.5f, -0.5f, 0.25f, -0.25f};

    std::vector<GaussBoagaPoint> points;
    for (int i = 0; i < 1500; ++i)
        points.push_back({east(random), north(random)});
    for (int i = 0; i < 1500; ++i)
        points.push_back({float(kGridWestEdge + column(random) * 500) + eastNudges[i % 5],
                          float(kGridSouthEdge + row(random) * 500) + northNudges[(i / 5) % 5]});
    points.push_back({CellEast(test::kNanA2Column), CellNorth(test::kNanA2Row)});

    std::string input = "id;East;North\r\n";
    for (std::size_t i = 0; i < points.size(); ++i)
        input += "p" + std::to_string(i) + ";" + Text(points[i].x) + ";" + Text(points[i].y) + "\r\n";
    const BatchTotals totals = Run(input);

    const Records rows = Results();
    ASSERT_EQ(rows.size(), points.size() + 1);
    std::uint64_t failed = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& row = rows[i + 1];
        ASSERT_EQ(row[0], "p" + std::to_string(i));
        try {
            ExpectRow(row, points[i], ComputePointRain(points[i]));
        } catch (const Error&) {
            ++failed;
            EXPECT_NE(row[17], "") << row[0];
            EXPECT_EQ(row[3], "") << row[0];
        }
    }
    EXPECT_EQ(totals.rows, points.size());
    EXPECT_EQ(totals.failed, failed);
    EXPECT_GT(failed, 50u);
    EXPECT_LT(failed, points.size() / 2);
}

TEST_F(BatchRun, DialectsOfTheInput)
{
    const GaussBoagaPoint point{2400000.5f, 5100000.5f};
    const std::pair<std::string, std::uint64_t> inputs[] = {
        {"\xEF\xBB\xBFid;East;North\r\nP1;2400000,5;5100000,5\r\n\r\nP2;2400000.5;\"5100000,5\"\r\n"
         "P3;2.400.000;5100000\r\n", 1},
        {"Nord\tnote\tEST\tID\n5100000,5\tfirst, of all\t2400000,5\tP1\n", 0},
    };
    for (const auto& [input, failed] : inputs) {
        const BatchTotals totals = Run(input);
        EXPECT_EQ(totals.failed, failed);
        const Records rows = Results();
        ASSERT_EQ(rows.size(), totals.rows + 1);
        EXPECT_EQ(rows[1][0], "P1");
        ExpectRow(rows[1], point, ComputePointRain(point));
        if (failed)
            ExpectFailedRow(rows[3], "P3", "East is not a number: \"2.400.000\"");
    }
    EXPECT_EQ(Run("id,East,North\r\n\r\n").rows, 0u);
    EXPECT_EQ(test::ReadText("results.csv"),
              "id,East,North,row,column,centreEast,centreNorth,a2,a1,cv,q2,q5,q10,q20,q50,q100,q200,error\n");
}

TEST_F(BatchRun, RunsThatCannotStartLeaveTheResultsFileAlone)
{
    test::WriteText("results.csv", "earlier results\n");
    const auto fails = [this](const std::string& points) {
        EXPECT_ANY_THROW(Run(points)) << points;
        EXPECT_EQ(test::ReadText("results.csv"), "earlier results\n");
    };
    fails("");
    fails("\r\n\r\n");
    fails("name,x,y\n1,2400000,5100000\n");
    fails("id,East,East,North\n");
    EXPECT_THROW(Run(""), StartError);

    options.reportsDir = "reports";
    options.templatePath = "no such template.xls";
    hooks.writeReport = [](const std::string&, const std::string&, GaussBoagaPoint, const PointRain&) {};
    fails("id,East,North\n1,2400000,5100000\n");
    options.reportsDir.clear();

    std::filesystem::remove("grd/param_cv.ras");
    const Error error = test::FailureOf([this] { Run("id,East,North\n1,2400000,5100000\n"); });
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_EQ(error.file(), kCvRaster);
    EXPECT_EQ(test::ReadText("results.csv"), "earlier results\n");

    options.pointsPath = "missing.csv";
    EXPECT_THROW(RunBatch(options, hooks), Error);
    // Nothing but the files the test made is left in the folder.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"grd", "points.csv", "results.csv"}));
}

// Cells C6 F6 C7 F7 B10 B13:H13 of a report's first sheet, as xlrd reads them;
// -1 for a cell without a number.
std::vector<double> ReportCells(const std::string& path)
{
    const std::string command = std::string(QUORVEL_PYTHON) +
                                " -c 'import sys, xlrd\n"
                                "s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                                "cells = [(5, 2), (5, 5), (6, 2), (6, 5), (9, 1)] + [(12, c) for c in range(1, 8)]\n"
                                "print(*[repr(s.cell_value(r, c)) if s.cell_type(r, c) == xlrd.XL_CELL_NUMBER "
                                "else -1 for r, c in cells])' '" +
                                path + "' >cells.txt";
    EXPECT_EQ(std::system(command.c_str()), 0) << path;
    std::istringstream words(test::ReadText("cells.txt"));
    return {std::istream_iterator<double>(words), std::istream_iterator<double>()};
}

// A report for each row with numbers, named by its id, in the reports folder
// only; it holds the numbers of its row, the point rounded to whole metres
// (2385123.5 and 5100001.5 to their even neighbours).
TEST_F(BatchRun, ReportsAreNamedByIdHoldTheirRowAndNeverLeaveTheirFolder)
{
    test::WriteText("template.xls", test::ReadText(QUORVEL_REPORT_TEMPLATE));
    options.templatePath = "template.xls";
    options.reportsDir = "out/reports";
    hooks.writeReport = WriteReportWorkbook;
    std::filesystem::create_directories("out/reports/taken.xls");
    const BatchTotals totals = Run("id,East,North\n"
                                   "P1,2400000,5100000\n"
                                   "../up,2400000,5100000\n"
                                   ",2400000,5100000\n"
                                   "P1,2400500,5100000\n"
                                   "..,2400000,5100000\n"
                                   "taken,2400000,5100000\n"
                                   "outside,2000000,5100000\n"
                                   "Piogge.xls,2385123.5,5100001.5\n");
    EXPECT_EQ(totals.rows, 8u);
    EXPECT_EQ(totals.failed, 6u);

    for (const auto& [report, point] : {std::pair{"P1.xls", GaussBoagaPoint{2400000, 5100000}},
                                        {"Piogge.xls.xls", {2385123.5f, 5100001.5f}}}) {
        const PointRain rain = ComputePointRain(point);
        const auto q = rain.quantiles.InOrder();
        const std::vector<double> expected = {
            std::nearbyint(double(point.x)), std::nearbyint(double(point.y)), double(rain.centre.x),
            double(rain.centre.y), double(rain.a2), double(q[0]), double(q[1]), double(q[2]), double(q[3]),
            double(q[4]), double(q[5]), double(q[6])};
        EXPECT_EQ(ReportCells(std::string("out/reports/") + report), expected) << report;
    }
    const Records rows = Results();
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[1][17], "");
    ExpectFailedRow(rows[2], "../up", "report not written: the id \"../up\" cannot name a file in the reports folder");
    ExpectFailedRow(rows[3], "", "report not written: no id to name it");
    ExpectFailedRow(rows[4], "P1", "report not written: the id is already used on line 2");
    ExpectFailedRow(rows[5], "..", "report not written: the id \"..\" cannot name a file in the reports folder");
    ASSERT_EQ(rows[6].size(), 18u);
    EXPECT_TRUE(rows[6][17].starts_with("report not written: ")) << rows[6][17];
    EXPECT_NE(rows[6][17].find("out/reports/taken.xls"), std::string::npos) << rows[6][17];
    ExpectFailedRow(rows[7], "outside", "outside the parameter grids (row 140, column -619)");
    EXPECT_EQ(rows[8][17], "");
}

TEST(ProgressMeter, AtMostALineASecondAndNothingForShortRuns)
{
    using namespace std::chrono_literals;
    ProgressMeter::Clock::time_point clock{};
    std::vector<std::string> lines;
    const auto sink = [&lines](std::string_view line) { lines.emplace_back(line); };
    const auto now = [&clock] { return clock += 300ms; };

    ProgressMeter shortRun(sink, now);
    shortRun.Update(64, 0);
    shortRun.Update(128, 1);
    shortRun.Finish(150, 1);
    EXPECT_TRUE(lines.empty());

    ProgressMeter longRun(sink, now);
    for (std::uint64_t rows = 1; rows <= 10; ++rows)
        longRun.Update(rows * 1000, rows / 4);
    longRun.Finish(10500, 2);
    EXPECT_EQ(lines, (std::vector<std::string>{"quorvel-batch: 4000 rows, 1 failed",
                                               "quorvel-batch: 8000 rows, 2 failed",
                                               "quorvel-batch: 10500 rows, 2 failed, done"}));
}

}  // namespace
}  // namespace quorvel::batch
