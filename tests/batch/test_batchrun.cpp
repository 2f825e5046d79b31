#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "batch/BatchRun.h"
#include "rain/Error.h"
#include "rain/PointRain.h"
#include "report/Report.h"
#include "tests/batch/BatchFixture.h"
#include "tests/crs/Cs2cs.h"

namespace quorvel::batch {
namespace {

using test::Records;
using test::Text;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A result row holds the id, the point and exactly the numbers of ComputePointRain.
void ExpectRow(const std::vector<std::string>& row, const std::string& id, GaussBoagaPoint point)
{
    const PointRain rain = ComputePointRain(point);
    const auto q = rain.quantiles.InOrder();
    std::vector<std::string> expected = {id, Text(point.x), Text(point.y),
                                         std::to_string(rain.cell.row), std::to_string(rain.cell.column)};
    for (float value : {rain.centre.x, rain.centre.y, rain.a2, rain.a1, rain.cv, q[0], q[1], q[2], q[3], q[4], q[5], q[6]})
        expected.push_back(Text(value));
    expected.push_back("");  // error
    expected.push_back("");  // dati: the test grids carry no sample mark
    EXPECT_EQ(row, expected);
}

void ExpectFailedRow(const std::vector<std::string>& row, const std::string& id, const std::string& error)
{
    ASSERT_EQ(row.size(), 19u);
    EXPECT_EQ(row[0], id);
    for (std::size_t i = 3; i < 17; ++i)
        EXPECT_EQ(row[i], "") << id << ", column " << i;
    EXPECT_EQ(row[17], error) << id;
}

// The shortest digits of the value, or these many decimals.
std::string Digits(double value, std::optional<int> decimals = std::nullopt)
{
    char text[40];
    return std::string(text, (decimals ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, *decimals)
                                       : std::to_chars(text, text + sizeof text, value)).ptr);
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
    Records Results() { return test::ReadCsv("results.csv"); }
};

TEST_F(BatchRun, MixedRowsKeepTheirOrderAndTheirErrors)
{
    const auto cell = [](int row, int column) {
        const GaussBoagaPoint centre = CellCentre({row, column});
        return Text(centre.x) + "," + Text(centre.y);
    };
    const BatchTotals totals = Run("id,East,North\n"
                                   "first,2400000,5100000\n"
                                   "letters,24OO000,5100000\n"
                                   "west,2300000,5100000\n"
                                   "no north,2400000,\n"
                                   "short,2400000\n"
                                   "nan a1," + cell(test::kNanA1Row, test::kNanA1Column) + "\n"
                                   "nan a2," + cell(test::kNanA2Row, test::kNanA2Column) + "\n"
                                   "huge a1," + cell(test::kHugeA1Row, test::kHugeA1Column) + "\n"
                                   "far,1" + std::string(30, '0') + ",5100000\n"
                                   "\" last, \"\"quoted\"\"\",2400000.3,5100000.7\n");
    EXPECT_EQ(std::pair(totals.rows, totals.failed), (std::pair<std::uint64_t, std::uint64_t>(10, 8)));

    const Records rows = Results();
    ASSERT_EQ(rows.size(), 11u);
    ExpectRow(rows[1], "first", {2400000, 5100000});
    ExpectFailedRow(rows[2], "letters", "East is not a number: \"24OO000\"");
    ExpectFailedRow(rows[3], "west", "outside the parameter grids (row 140, column -19)");
    ExpectFailedRow(rows[4], "no north", "North is missing");
    ExpectFailedRow(rows[5], "short", "North is missing");
    ExpectFailedRow(rows[6], "nan a1", "no valid data in the cell (row 10, column 10)");
    ExpectFailedRow(rows[7], "nan a2", "no valid data in the cell (row 10, column 11)");
    ExpectFailedRow(rows[8], "huge a1",
                    "the parameters of the cell give no valid rainfall (row 10, column 12: a2 = 0.26, a1 = 3e+38, "
                    "cv = 0.20733334 give no finite rainfall (quantile beyond single precision))");
    ExpectFailedRow(rows[9], "far", "overflow (coordinate beyond the grid arithmetic)");
    ExpectRow(rows[10], " last, \"quoted\"", {2400000.25f, 5100000.5f});
}

TEST_F(BatchRun, AgreesWithComputePointRainInsideAndAtCellBorders)
{
    std::mt19937 random(2026);
    std::uniform_real_distribution<float> east(2308000, 2310000 + kColumns * 500 + 2000);
    std::uniform_real_distribution<float> north(5038000, 5172000);
    std::uniform_int_distribution<int> column(0, kColumns + 1), row(0, kGridRows + 1);
    const float eastNudges[] = {0, 0.25f, -0.25f, 0.125f, -0.125f};
    const float northNudges[] = {0, 0.5f, -0.5f, 0.25f, -0.25f};

    std::vector<GaussBoagaPoint> points;
    for (int i = 0; i < 1500; ++i)
        points.push_back({east(random), north(random)});
    for (int i = 0; i < 1500; ++i)
        points.push_back({float(kGridWestEdge + column(random) * 500) + eastNudges[i % 5],
                          float(kGridSouthEdge + row(random) * 500) + northNudges[(i / 5) % 5]});
    points.push_back(CellCentre({test::kNanA2Row, test::kNanA2Column}));

    // The dialect of a spreadsheet saved with decimal commas.
    const auto comma = [](std::string text) {
        std::replace(text.begin(), text.end(), '.', ',');
        return text;
    };
    std::string input = "\xEF\xBB\xBFid;East;North\r\n";
    for (std::size_t i = 0; i < points.size(); ++i)
        input += "p" + std::to_string(i) + ";" + comma(Text(points[i].x)) + ";" + comma(Text(points[i].y)) + "\r\n";
    const BatchTotals totals = Run(input);

    const Records rows = Results();
    ASSERT_EQ(rows.size(), points.size() + 1);
    std::uint64_t failed = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& row = rows[i + 1];
        try {
            ExpectRow(row, "p" + std::to_string(i), points[i]);
        } catch (const Error&) {
            ++failed;
            EXPECT_NE(row[17], "") << row[0];
            EXPECT_EQ(row[3], "") << row[0];
        }
    }
    EXPECT_EQ(std::pair(totals.rows, totals.failed), std::pair(std::uint64_t(points.size()), failed));
    EXPECT_GT(failed, 50u);
    EXPECT_LT(failed, points.size() / 2);
}

// Columns in any order and case, among others, with tabs between.
TEST_F(BatchRun, DialectsOfTheInput)
{
    EXPECT_EQ(Run("Nord\tnote\tEST\tID\n5100000,5\tfirst, of all\t2400000,5\tP1\n").failed, 0u);
    const Records rows = Results();
    ASSERT_EQ(rows.size(), 2u);
    ExpectRow(rows[1], "P1", {2400000.5f, 5100000.5f});
    EXPECT_EQ(Run("id,East,North\r\n\r\n").rows, 0u);
    EXPECT_EQ(test::ReadText("results.csv"),
              "id,East,North,row,column,centreEast,centreNorth,a2,a1,cv,q2,q5,q10,q20,q50,q100,q200,error,dati\n");
    // Gauss-Boaga columns come first; lat and lon beside them are other columns.
    EXPECT_EQ(Run("id,lat,East,North,lon\nP2,46,2400000,5100000,13\n").failed, 0u);
    ExpectRow(Results().at(1), "P2", {2400000, 5100000});
}

// A report for each row with numbers, named by its id, in the reports folder
// only; it is the report of its row's point and numbers.
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
                                   "Piogge.xls,2385123.5,5100001.5\n"
                                   "bell\a,2400000,5100000\n");
    EXPECT_EQ(std::pair(totals.rows, totals.failed), (std::pair<std::uint64_t, std::uint64_t>(9, 7)));

    for (const auto& [report, point] : {std::pair{"P1.xls", GaussBoagaPoint{2400000, 5100000}},
                                        {"Piogge.xls.xls", {2385123.5f, 5100001.5f}}}) {
        const PointRain rain = ComputePointRain(point);
        const RainQuantiles& q = rain.quantiles;
        WriteRainReportFile(point.x, point.y, rain.centre.x, rain.centre.y, rain.a2, q.q2, q.q5, q.q10, q.q20, q.q50,
                            q.q100, q.q200, "template.xls", "expected.xls");
        EXPECT_TRUE(test::ReadText(std::string("out/reports/") + report) == test::ReadText("expected.xls")) << report;
    }
    const Records rows = Results();
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[1][17], "");
    ExpectFailedRow(rows[2], "../up", "report not written: the id \"../up\" cannot name a file in the reports folder");
    ExpectFailedRow(rows[3], "", "report not written: no id to name it");
    ExpectFailedRow(rows[4], "P1", "report not written: the id is already used on line 2");
    ExpectFailedRow(rows[5], "..", "report not written: the id \"..\" cannot name a file in the reports folder");
    EXPECT_THAT(rows[6][17], AllOf(StartsWith("report not written: "), HasSubstr("out/reports/taken.xls")));
    ExpectFailedRow(rows[7], "outside", "outside the parameter grids (row 140, column -619)");
    EXPECT_EQ(rows[8][17], "");
    ExpectFailedRow(rows[9], "bell\a", "report not written: the id \"bell\a\" cannot name a file in the reports folder");
}

// On a case-insensitive shared drive two ids that fold to one name would be
// one file holding the other point's numbers: the second is refused, and so
// is a report that would take the results file's name.
TEST_F(BatchRun, IdsThatAreOneFileOnAnOfficeDriveAreRefused)
{
    struct Case {
        const char* label;
        const char* first;
        const char* second;
        const char* results;  // -o, beside the reports when in reports/
        const char* error;    // of the second row; empty: written
    } const cases[] = {
        {"case", "A", "a", "results.csv", "report not written: the id names the same file as \"A\" on line 2"},
        {"accent composed and not", "\xC3\x88", "e\xCC\x80", "results.csv",
         "report not written: the id names the same file as \"\xC3\x88\" on line 2"},
        {"ohm sign and omega", "\xE2\x84\xA6", "\xCF\x89", "results.csv",
         "report not written: the id names the same file as \"\xE2\x84\xA6\" on line 2"},
        {"the same id", "B", "B", "results.csv", "report not written: the id is already used on line 2"},
        {"different ids", "C1", "c2", "results.csv", ""},
        {"results named as a report", "C1", "r1", "reports/R1.XLS", "report not written: it would replace the results file"},
        {"results elsewhere under that name", "C1", "r1", "R1.xls", ""},
    };
    test::WriteText("template.xls", test::ReadText(QUORVEL_REPORT_TEMPLATE));
    options.templatePath = "template.xls";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all("reports");
        options.reportsDir = "reports";
        hooks.writeReport = [](const std::string&, const std::string& path, GaussBoagaPoint, const PointRain&) {
            test::WriteText(path, "report");
        };
        test::WriteText("points.csv", std::string("id,East,North\n") + c.first + ",2400000,5100000\n" + c.second +
                                          ",2400500,5100000\n");
        options.pointsPath = "points.csv";
        options.resultsPath = c.results;
        const BatchTotals totals = RunBatch(options, hooks);
        const Records rows = test::ReadCsv(c.results);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[1][17], "");
        EXPECT_EQ(rows[2][17], c.error);
        EXPECT_EQ(totals.failed, *c.error ? 1u : 0u);
    }
}

// Short runs print nothing: the program's tests see an empty standard error.
TEST(ProgressMeter, AtMostALineASecond)
{
    using namespace std::chrono_literals;
    ProgressMeter::Clock::time_point clock{};
    std::vector<std::string> lines;
    const auto sink = [&lines](std::string_view line) { lines.emplace_back(line); };
    const auto now = [&clock] { return clock += 300ms; };

    ProgressMeter longRun(sink, now);
    for (std::uint64_t rows = 1; rows <= 10; ++rows)
        longRun.Update(rows * 1000, rows / 4);
    longRun.Finish(10500, 2);
    EXPECT_EQ(lines, (std::vector<std::string>{"quorvel-batch: 4000 rows, 1 failed",
                                               "quorvel-batch: 8000 rows, 2 failed",
                                               "quorvel-batch: 10500 rows, 2 failed, done"}));
}

// A converted point's cell is the cell of its double-precision conversion:
// rounded to single precision first, a point near an edge moves to the next
// cell, and one just inside the east edge falls outside.
TEST_F(BatchRun, ConvertedPointsLieInTheCellOfTheirExactConversion)
{
    std::mt19937 random(28);
    std::uniform_real_distribution<double> east(2310000, 2490500), north(5040000, 5170000);
    std::vector<SystemPoint> gb(2000);
    for (SystemPoint& p : gb)
        p = {east(random), north(random)};
    gb.push_back({2490499.887, 5100000.3});
    for (const ReferenceSystem system : {ReferenceSystem::Wgs84, ReferenceSystem::Utm32, ReferenceSystem::Utm33}) {
        SCOPED_TRACE(EpsgCode(system));
        std::string given = "id,East,North\n";
        std::vector<GridCell> expected;
        for (std::size_t i = 0; i < gb.size(); ++i) {
            const SystemPoint typed = FromGaussBoaga(system, gb[i]);
            const SystemPoint back = ToGaussBoaga(system, typed);
            expected.push_back(CellForPoint(back.x, back.y));
            given += "p" + std::to_string(i) + "," + Digits(typed.x) + "," + Digits(typed.y) + "\n";
        }
        options.system = system;
        EXPECT_EQ(Run(given).failed, 0u);
        const Records got = Results();
        ASSERT_EQ(got.size(), gb.size() + 1);
        int elsewhere = 0;
        for (std::size_t i = 0; i < gb.size(); ++i)
            elsewhere += got[i + 1][3] + "," + got[i + 1][4] !=
                         std::to_string(expected[i].row) + "," + std::to_string(expected[i].column);
        EXPECT_EQ(elsewhere, 0);
        EXPECT_EQ(got.back()[4], "361") << got.back()[17];
    }
}

// Points in another system give the results of the same points converted by
// PROJ beforehand and given in Gauss-Boaga; eastGB and northGB are that point.
TEST_F(BatchRun, OtherSystemsGiveTheResultsOfTheirPointsConvertedByProj)
{
    std::mt19937 random(22);
    std::uniform_real_distribution<double> east(2312000, 2488000), north(5042000, 5168000);
    std::vector<SystemPoint> gb(40);
    for (SystemPoint& p : gb)
        p = {east(random), north(random)};
    struct Row {
        std::string header;
        std::optional<ReferenceSystem> option;
        ReferenceSystem system;
    };
    const std::vector<Row> rows = {
        {"id,lat,lon", std::nullopt, ReferenceSystem::Wgs84},
        {"Longitude;Latitude;ID", ReferenceSystem::Wgs84, ReferenceSystem::Wgs84},
        {"id,East,North", ReferenceSystem::Utm32, ReferenceSystem::Utm32},
        {"id,East,North", ReferenceSystem::Utm33, ReferenceSystem::Utm33},
    };
    for (const Row& row : rows) {
        const std::vector<SystemPoint> typed = test::ProjFromGaussBoaga(row.system, gb);
        const std::vector<SystemPoint> byProj = test::ProjToGaussBoaga(row.system, typed);
        std::string given = row.header + "\n", inGaussBoaga = "id,East,North\n";
        for (std::size_t i = 0; i < gb.size(); ++i) {
            const std::string id = "p" + std::to_string(i);
            const int decimals = IsGeographic(row.system) ? 10 : 4;
            if (row.header.starts_with("id,lat"))
                given += id + "," + Digits(typed[i].y, decimals) + "," + Digits(typed[i].x, decimals) + "\n";
            else if (row.header.starts_with("Longitude"))
                given += Digits(typed[i].x, decimals) + ";" + Digits(typed[i].y, decimals) + ";" + id + "\n";
            else
                given += id + "," + Digits(typed[i].x, decimals) + "," + Digits(typed[i].y, decimals) + "\n";
            inGaussBoaga += id + "," + Digits(byProj[i].x, 6) + "," + Digits(byProj[i].y, 6) + "\n";
        }
        options.system.reset();
        ASSERT_EQ(Run(inGaussBoaga).failed, 0u);
        const Records expected = Results();
        options.system = row.option;
        ASSERT_EQ(Run(given).failed, 0u) << row.header;
        const Records got = Results();
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_EQ(got[0].size(), 22u);
        EXPECT_EQ(std::vector(got[0].begin() + 18, got[0].end()),
                  (std::vector<std::string>{"eastGB", "northGB", "nearCellEdge", "dati"}));
        for (std::size_t i = 1; i < got.size(); ++i) {
            ASSERT_EQ(got[i].size(), 22u);
            EXPECT_EQ(std::vector(got[i].begin() + 3, got[i].begin() + 18),
                      std::vector(expected[i].begin() + 3, expected[i].begin() + 18))
                << row.header << " " << got[i][0];
            EXPECT_EQ(got[i][18] + " " + got[i][19], expected[i][1] + " " + expected[i][2]);
            EXPECT_EQ(got[i][20], NearCellEdge(byProj[i - 1]) ? "yes" : "no");
        }
    }

    options.system.reset();
    EXPECT_EQ(Run("id,lat,lon\nbad,45 61,13\n").failed, 1u);
    EXPECT_EQ(Results().at(1), (std::vector<std::string>{"bad", "13", "", "", "", "", "", "", "", "", "", "", "", "",
                                                         "", "", "", "lat is not an angle: \"45 61\"", "", "", "", ""}));
    options.system = ReferenceSystem::Utm32;
    EXPECT_THROW(Run("id,lat,lon\n"), StartError);
}

}  // namespace
}  // namespace quorvel::batch
