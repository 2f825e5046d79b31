#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "rain/Durations.h"
#include "rain/Error.h"
#include "rain/Storm.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

const char* const kSampleLaw =
    "# comment\nlaw = power\r\nhours_from=1\nhours_to = 24  # a day\nsubhour_exponent=0.5\nsubhour_from_minutes=10\n";

DurationLaw SampleLaw() { return ParseDurationLaw(kSampleLaw, "durate.txt"); }

TEST(DurationLaw, ReadsTheKeysAndSaysItsRange)
{
    const DurationLaw law = SampleLaw();
    EXPECT_EQ(law.fromHours, 1);
    EXPECT_EQ(law.toHours, 24);
    EXPECT_EQ(law.subhourExponent, 0.5);
    EXPECT_EQ(law.MinHours(), 10.0 / 60);
    EXPECT_EQ(law.RangeText(), "10 min to 24 h");
    const DurationLaw plain = ParseDurationLaw("law=power\nhours_from=1\nhours_to=12\n", "f");
    EXPECT_FALSE(plain.subhourExponent);
    EXPECT_EQ(plain.RangeText(), "1 h to 12 h");
}

TEST(DurationLaw, RefusesWhatIsNotALaw)
{
    const char* const cases[] = {
        "",
        "law=linear\nhours_from=1\nhours_to=24\n",
        "law=power\nhours_from=1\n",
        "law=power\nhours_from=1\nhours_to=24\nhours_to=24\n",
        "law=power\nhours_from=1\nhours_to=24\ncolour=red\n",
        "law=power\nhours_from=1\nhours_to=24\nnonsense\n",
        "law=power\nhours_from=1,0\nhours_to=24\n",
        "law=power\nhours_from=1e0\nhours_to=24\n",
        "law=power\nhours_from=+1\nhours_to=24\n",
        "law=power\nhours_from=nan\nhours_to=24\n",
        "law=power\nhours_from=3\nhours_to=2\n",
        "law=power\nhours_from=0\nhours_to=2\n",
        "law=power\nhours_from=1\nhours_to=1000\n",
        "law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=0.5\n",
        "law=power\nhours_from=2\nhours_to=24\nsubhour_exponent=0.5\nsubhour_from_minutes=10\n",
        "law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=1.5\nsubhour_from_minutes=10\n",
        "law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=0.5\nsubhour_from_minutes=60\n",
    };
    for (const char* text : cases) {
        const Error error = test::FailureOf([&] { ParseDurationLaw(text, "dat/durate.txt"); });
        EXPECT_EQ(std::pair(error.kind(), error.file()), std::pair(ErrorKind::BadFileFormat, std::string("dat/durate.txt")))
            << text;
    }
}

TEST(DurationLaw, FileAbsentMeansNoLawAndAnythingElseInItsPlaceIsRefused)
{
    const fs::path folder = fs::temp_directory_path() / ("quorvel-law-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "dat");
    const std::string root = folder.string() + "/";
    EXPECT_FALSE(ReadDurationLaw(root));
    std::ofstream(folder / "dat/durate.txt") << kSampleLaw;
    EXPECT_EQ(ReadDurationLaw(root), SampleLaw());
    std::ofstream(folder / "dat/durate.txt") << kSampleLaw << std::string(5000, '#');
    EXPECT_THROW(ReadDurationLaw(root), Error);
    fs::remove(folder / "dat/durate.txt");
    fs::create_directory(folder / "dat/durate.txt");
    EXPECT_THROW(ReadDurationLaw(root), Error);
    fs::remove(folder / "dat/durate.txt");
    ASSERT_EQ(::mkfifo((folder / "dat/durate.txt").c_str(), 0600), 0);
    EXPECT_THROW(ReadDurationLaw(root), Error);  // refused, not waited on
    fs::remove_all(folder);
}

TEST(Durations, ParsesHoursAndMinutes)
{
    EXPECT_EQ(ParseDurations("10min, 0.5,1 ,3h,90 min"),
              (std::vector<Duration>{{10.0 / 60, "10min"}, {0.5, "0.5"}, {1, "1"}, {3, "3"}, {1.5, "90min"}}));
}

TEST(Durations, RefusesWhatIsNotADurationList)
{
    std::string many;
    for (int i = 1; i <= 65; ++i)
        many += std::to_string(i) + ",";
    many.pop_back();
    const std::string cases[] = {"", ",", "1,", "abc", "-1", "0", "0min", "1e3", "nan", "inf", "1,1",
                                 "30min,0.5", "0x10", "1 2", "min", many, std::string(100000, '9')};
    for (const std::string& text : cases) {
        const Error error = test::FailureOf([&] { ParseDurations(text); });
        EXPECT_EQ(error.kind(), ErrorKind::TypeMismatch) << text;
        EXPECT_LT(error.detail().size(), 80u);
    }
}

TEST(Durations, OutsideTheRangeIsRefusedNamingTheRange)
{
    const DurationLaw law = SampleLaw();
    for (const double hours : {0.1, 24.5, 48.0, 0.0, std::nan("")}) {
        const Error error = test::FailureOf([&] { CheckDuration(law, hours); });
        EXPECT_EQ(error.kind(), ErrorKind::SubscriptOutOfRange) << hours;
        EXPECT_NE(error.detail().find("10 min to 24 h"), std::string::npos) << error.detail();
        EXPECT_NE(error.italianDetail().find("da 10 min a 24 h"), std::string::npos);
    }
    EXPECT_NO_THROW(CheckDuration(law, 10.0 / 60));
    EXPECT_NO_THROW(CheckDuration(law, 24));
    EXPECT_THROW(CheckDuration(ParseDurationLaw("law=power\nhours_from=1\nhours_to=24", "f"), 0.5), Error);
}

TEST(Durations, DepthIsTheLawInDoublePrecision)
{
    const DurationLaw law = SampleLaw();
    std::mt19937_64 random(30);
    std::uniform_real_distribution<float> height(10, 120), exponent(0.2f, 0.6f);
    std::uniform_real_distribution<double> hours(law.MinHours(), law.MaxHours());
    for (int i = 0; i < 1000; ++i) {
        const float h1 = height(random), a2 = exponent(random);
        const double d = hours(random);
        const double expected = d < 1 ? double(h1) * std::sqrt(d) : double(h1) * std::pow(d, double(a2));
        EXPECT_EQ(DepthAt(law, h1, a2, d), expected) << h1 << " " << a2 << " " << d;
        // Given as single-precision values, each rounded once from double.
        EXPECT_EQ(DepthValue(law, h1, a2, d), float(expected)) << h1 << " " << a2 << " " << d;
        EXPECT_EQ(IntensityValue(law, h1, a2, d), float(expected / d)) << h1 << " " << a2 << " " << d;
    }
    EXPECT_EQ(DepthAt(law, 30, 0.3f, 1), 30);
}

// The storm's depths summed over steps [first, first + count).
double Window(const Hyetograph& storm, std::size_t first, std::size_t count)
{
    double sum = 0;
    for (std::size_t i = first; i < first + count; ++i)
        sum += storm.depths[i];
    return sum;
}

struct StormCase {
    float h1, a2;
    double hours;
    int step;
    double r;
};

const StormCase kStorms[] = {
    {30, 0.3f, 50.0 / 60, 5, 0.4}, {45.5f, 0.45f, 24, 60, 0.5}, {52, 0.26f, 6, 15, 0.25}, {38, 0.49f, 2, 1, 0.4},
    {30, 0.35f, 0.5, 1, 0.5}, {30, 0.35f, 12, 30, 0},      {61, 0.41f, 3, 10, 1},   {20, 0.3f, 24, 1, 0.4},
    {25, 0.3f, 1.0 / 6, 1, 0.5}, {25, 0.3f, 5, 5, 0.75},
};

TEST(DesignStorm, AlternatingBlocksHoldTheLawInEveryRunOfSteps)
{
    const DurationLaw law = SampleLaw();
    for (const StormCase& c : kStorms) {
        const Hyetograph storm =
            DesignStorm(law, c.h1, c.a2, {c.hours, c.step, StormMethod::AlternatingBlocks, c.r});
        const std::size_t n = storm.depths.size();
        ASSERT_EQ(double(n), std::round(c.hours * 60) / c.step);
        EXPECT_EQ(storm.total, DepthAt(law, c.h1, c.a2, c.hours));
        EXPECT_NEAR(Window(storm, 0, n), storm.total, 1e-12 * storm.total);
        for (std::size_t k = 1; k <= n; ++k) {
            double largest = 0, sum = Window(storm, 0, k);
            largest = sum;
            for (std::size_t first = 1; first + k <= n; ++first) {
                sum += storm.depths[first + k - 1] - storm.depths[first - 1];
                largest = std::max(largest, sum);
            }
            ASSERT_NEAR(largest, DepthAt(law, c.h1, c.a2, double(k) * c.step / 60), 1e-9 * storm.total)
                << c.hours << " h by " << c.step << " min, k " << k;
        }
    }
}

TEST(DesignStorm, ChicagoHoldsTheLawInEveryWindowAroundThePeak)
{
    const DurationLaw law = SampleLaw();
    for (const StormCase& c : kStorms) {
        const Hyetograph storm = DesignStorm(law, c.h1, c.a2, {c.hours, c.step, StormMethod::Chicago, c.r});
        const std::size_t n = storm.depths.size();
        EXPECT_EQ(storm.total, DepthAt(law, c.h1, c.a2, c.hours));
        EXPECT_NEAR(Window(storm, 0, n), storm.total, 1e-12 * storm.total);
        // Windows whose share before the peak is whole steps, peak on a step's edge.
        const double peak = std::round(c.r * double(n));
        ASSERT_NEAR(peak, c.r * double(n), 1e-9) << "case must put the peak on a step's edge";
        int checked = 0;
        for (std::size_t k = 1; k <= n; ++k) {
            const double before = std::round(c.r * double(k));
            if (std::abs(before - c.r * double(k)) > 1e-9)
                continue;
            const double got = Window(storm, std::size_t(peak - before), k);
            ASSERT_NEAR(got, DepthAt(law, c.h1, c.a2, double(k) * c.step / 60), 1e-9 * storm.total)
                << c.hours << " h by " << c.step << " min, r " << c.r << ", k " << k;
            ++checked;
        }
        EXPECT_GT(checked, 0);
        for (double depth : storm.depths)
            EXPECT_GT(depth, 0);
    }
}

TEST(DesignStorm, RefusesWhatCannotBeAStorm)
{
    const DurationLaw law = SampleLaw();
    const DurationLaw hourly = ParseDurationLaw("law=power\nhours_from=1\nhours_to=24", "f");
    struct Refusal {
        const DurationLaw* law;
        StormSpec spec;
        ErrorKind kind;
    } const cases[] = {
        {&law, {25, 60, StormMethod::Chicago, 0.4}, ErrorKind::SubscriptOutOfRange},
        {&law, {0.1, 1, StormMethod::Chicago, 0.4}, ErrorKind::SubscriptOutOfRange},
        {&hourly, {0.5, 5, StormMethod::Chicago, 0.4}, ErrorKind::SubscriptOutOfRange},
        {&law, {1, 7, StormMethod::Chicago, 0.4}, ErrorKind::TypeMismatch},
        {&law, {1, 0, StormMethod::Chicago, 0.4}, ErrorKind::TypeMismatch},
        {&law, {0.25, 10, StormMethod::Chicago, 0.4}, ErrorKind::TypeMismatch},
        {&law, {1.01, 1, StormMethod::AlternatingBlocks, 0.4}, ErrorKind::TypeMismatch},
        {&law, {1, 5, StormMethod::Chicago, -0.1}, ErrorKind::TypeMismatch},
        {&law, {1, 5, StormMethod::Chicago, 1.5}, ErrorKind::TypeMismatch},
        {&law, {1, 5, StormMethod::Chicago, std::nan("")}, ErrorKind::TypeMismatch},
    };
    for (const Refusal& c : cases)
        EXPECT_EQ(test::FailureOf([&] { DesignStorm(*c.law, 30, 0.3f, c.spec); }).kind(), c.kind)
            << c.spec.hours << " " << c.spec.stepMinutes << " " << c.spec.peak;
    EXPECT_THROW(ParseStormMethod("scs"), Error);
    for (const char* text : {"2026-13-01", "2026-02-29", "2026-01-01T24:00", "2026-1-1", "2026-01-01T10:00Z", "",
                             "2026-06-", "2026-06-01T14:"})
        EXPECT_THROW(ParseStormStart(text), Error) << text;
}

TEST(DesignStorm, WritesCsvAndSwmmText)
{
    const DurationLaw law = SampleLaw();
    const Hyetograph storm = DesignStorm(law, 30, 0.3f, {1, 30, StormMethod::AlternatingBlocks, 0.4});
    ASSERT_EQ(storm.depths.size(), 2u);
    const double h30 = 30 * std::sqrt(0.5);
    EXPECT_EQ(storm.depths[0], h30);
    EXPECT_EQ(storm.PeakIntensity(), h30 * 2);
    // The storm is exact in double; its texts give the single-precision values.
    EXPECT_EQ(StormCsv(storm), "start_min,intensity_mm_h,depth_mm,cumulative_mm\n0,42.426407,"
                               "21.213203,21.213203\n30,17.573593,8.786797,30\n");
    EXPECT_EQ(SwmmTimeseries(storm, "Q"), ";;Rain gage: INTENSITY in mm/h, interval 0:30\n;;Name Time Value\n"
                                          "Q 0:00 42.426407\nQ 0:30 17.573593\n");
    const Hyetograph night = DesignStorm(law, 30, 0.3f, {2, 60, StormMethod::Chicago, 0.5});
    const std::string text = SwmmRainFile(night, "RG1", ParseStormStart("2024-02-28T23:00"));
    EXPECT_EQ(text.rfind("RG1 2024 2 28 23 0 ", 0), 0u) << text;
    EXPECT_NE(text.find("\nRG1 2024 2 29 0 0 "), std::string::npos) << text;
    EXPECT_EQ(ParseStormStart("2024-02-29").day, 29);
}

}  // namespace
}  // namespace quorvel
