#include <charconv>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "batch/BatchRun.h"
#include "batch/CommandLine.h"
#include "rain/Durations.h"
#include "rain/Error.h"
#include "rain/PointRain.h"
#include "rain/Storm.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

const char* const kLaw = "law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=0.5\nsubhour_from_minutes=10\n";

// Fixed notation, as every number in the results.
std::string Shortest(float value)
{
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr);
}

class BatchDurations : public test::AppFolder {
protected:
    BatchOptions options;
    BatchHooks hooks;

    void SetUp() override
    {
        AppFolder::SetUp();
        std::filesystem::create_directories("dat");
        test::WriteText("dat/durate.txt", kLaw);
    }
    test::Records Run(const std::string& points)
    {
        test::WriteText("points.csv", points);
        options.pointsPath = "points.csv";
        options.resultsPath = "results.csv";
        RunBatch(options, hooks);
        return test::ReadCsv("results.csv");
    }
};

// Each height is h1 * d^a2 (d^0.5 under the hour) in double precision from the
// grid's values, rounded once to single; the columns of today stay as they were.
TEST_F(BatchDurations, HeightsFollowEveryColumnAndAreTheLaw)
{
    std::mt19937 random(30);
    std::uniform_real_distribution<float> east(2311000, 2489000), north(5041000, 5169000);
    std::string points = "id,East,North\n";
    for (int i = 0; i < 1000; ++i)
        points += "P" + std::to_string(i) + "," + test::Text(east(random)) + "," + test::Text(north(random)) + "\n";
    points += "outside,2000000,5100000\n";
    const test::Records plain = Run(points);
    options.durations = "10min,0.5,1,3,24";
    const test::Records rows = Run(points);
    ASSERT_EQ(rows.size(), plain.size());
    // After every column of today, the last being dati.
    const std::size_t kFirst = plain[0].size();
    ASSERT_EQ(plain[0].back(), "dati");
    const double hours[] = {10.0 / 60, 0.5, 1, 3, 24};
    const char* const labels[] = {"10min", "0.5", "1", "3", "24"};
    for (std::size_t d = 0; d < 5; ++d)
        for (std::size_t t = 0; t < 7; ++t)
            EXPECT_EQ(rows[0][kFirst + d * 7 + t],
                      "h_" + std::string(labels[d]) + "_T" + std::to_string(kReturnPeriods[t]));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), kFirst + 35);
        EXPECT_EQ(std::vector(rows[i].begin(), rows[i].begin() + kFirst), plain[i]);
        if (rows[i][17] != "") {
            for (std::size_t k = kFirst; k < rows[i].size(); ++k)
                EXPECT_EQ(rows[i][k], "");
            continue;
        }
        float a2 = 0;
        ASSERT_EQ(std::from_chars(rows[i][7].data(), rows[i][7].data() + rows[i][7].size(), a2).ec, std::errc());
        for (std::size_t d = 0; d < 5; ++d)
            for (std::size_t t = 0; t < 7; ++t) {
                float q = 0;
                std::from_chars(rows[i][10 + t].data(), rows[i][10 + t].data() + rows[i][10 + t].size(), q);
                const double expected = double(q) * std::pow(hours[d], hours[d] < 1 ? 0.5 : double(a2));
                ASSERT_EQ(rows[i][kFirst + d * 7 + t], Shortest(float(expected))) << rows[i][0] << " " << labels[d];
            }
    }
    EXPECT_EQ(rows.back()[0], "outside");
}

TEST_F(BatchDurations, RefusedBeforeAnyRow)
{
    const struct {
        std::string durations, law, said;
    } cases[] = {
        {"48", kLaw, "--durate: duration 48 h outside the law's range, 10 min to 24 h"},
        {"5min", kLaw, "--durate: duration 5 min outside the law's range, 10 min to 24 h"},
        {"0.5", "law=power\nhours_from=1\nhours_to=24\n", "duration 30 min outside the law's range, 1 h to 24 h"},
        {"1,x", kLaw, "--durate: not a duration in hours or minutes: \"x\""},
        {"1", "", "--durate needs the depth-duration law dat/durate.txt"},
        {"1", "law=cubic\n", "bad file format: dat/durate.txt"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("dat/durate.txt");
        if (!c.law.empty())
            test::WriteText("dat/durate.txt", c.law);
        options.durations = c.durations;
        test::WriteText("results.csv", "earlier\n");
        try {
            Run("id,East,North\nA,2400000,5100000\n");
            ADD_FAILURE() << c.durations;
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(c.said), std::string::npos) << error.what();
        }
        EXPECT_EQ(test::ReadText("results.csv"), "earlier\n");
    }
}

TEST_F(BatchDurations, HyetographsAreNamedByIdAndNeverLeaveTheirFolder)
{
    options.stormsDir = "storms";
    options.storm = {2, 10, StormMethod::Chicago, 0.4};
    options.stormReturnPeriod = 50;
    options.stormFormat = StormFormat::SwmmRainFile;
    const test::Records rows = Run("id,East,North\nP 1,2400000,5100000\n../up,2400000,5100000\nP 1,2400000,5100000\n");
    const PointRain rain = ComputePointRain({2400000, 5100000});
    const DurationLaw law = ParseDurationLaw(kLaw, "f");
    EXPECT_EQ(test::ReadText("storms/P 1.dat"),
              SwmmRainFile(DesignStorm(law, rain.quantiles.q50, rain.a2, options.storm), "P_1", {}));
    EXPECT_EQ(rows[1][17], "");
    EXPECT_EQ(rows[2][17], "hyetograph not written: the id \"../up\" cannot name a file in the hyetographs folder");
    EXPECT_EQ(rows[3][17], "hyetograph not written: the id is already used on line 2");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("storms"), {}), 1);

    options.storm.stepMinutes = 7;
    EXPECT_THROW(Run("id,East,North\n"), StartError);
}

// Each storm option, alone beside --ietogramma, in either language and form,
// reaches the run; the others keep their defaults.
TEST(StormOptions, EachAloneReachesTheRun)
{
    const StormSpec spec;
    const struct {
        std::vector<const char*> arguments;
        StormSpec storm;
        int returnPeriod = 100;
        StormFormat format = StormFormat::Csv;
        int startDay = 1;
    } cases[] = {
        {{"--ietogramma", "s"}, spec},
        {{"--hyetographs=s", "--storm-duration", "30min"}, {0.5, 5, StormMethod::Chicago, 0.4}},
        {{"--ietogramma", "s", "--passo=10"}, {1, 10, StormMethod::Chicago, 0.4}},
        {{"--ietogramma", "s", "--metodo", "blocchi"}, {1, 5, StormMethod::AlternatingBlocks, 0.4}},
        {{"--ietogramma", "s", "--method=alternating-blocks"}, {1, 5, StormMethod::AlternatingBlocks, 0.4}},
        {{"--ietogramma", "s", "--picco", "0.25"}, {1, 5, StormMethod::Chicago, 0.25}},
        {{"--ietogramma", "s", "--tempo-ritorno", "50"}, spec, 50},
        {{"--ietogramma", "s", "--formato", "swmm"}, spec, 100, StormFormat::SwmmTimeseries},
        {{"--ietogramma", "s", "--inizio", "2026-06-07"}, spec, 100, StormFormat::Csv, 7},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"quorvel-batch", "punti.csv"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(c.arguments.back());
        const BatchOptions options = ParseCommandLine(int(argv.size()), argv.data()).options;
        EXPECT_EQ(options.stormsDir, "s");
        EXPECT_EQ(options.storm.hours, c.storm.hours);
        EXPECT_EQ(options.storm.stepMinutes, c.storm.stepMinutes);
        EXPECT_EQ(options.storm.method, c.storm.method);
        EXPECT_EQ(options.storm.peak, c.storm.peak);
        EXPECT_EQ(options.stormReturnPeriod, c.returnPeriod);
        EXPECT_EQ(options.stormFormat, c.format);
        EXPECT_EQ(options.stormStart.day, c.startDay);
    }
}

}  // namespace
}  // namespace quorvel::batch
