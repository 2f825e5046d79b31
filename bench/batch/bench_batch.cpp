// One million points from a CSV file to a results file, on a full-size grid
// set (260 x 361): in process, and as the user runs the program, whose peak
// resident memory is measured too. Targets: at most 2 s and 200 MB.
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include "batch/BatchRun.h"
#include "batch/Csv.h"
#include "rain/Error.h"
#include "rain/PointRain.h"
#include "tests/rain/GridFixture.h"

extern char** environ;

namespace {

using namespace quorvel;
using namespace quorvel::batch;

constexpr int kColumns = 361;
constexpr std::size_t kPoints = 1000000;
constexpr double kPeakMemoryTarget = 200.0;  // MB

void WriteGrid(const std::string& name, float base, float step)
{
    std::vector<float> values(std::size_t(kColumns) * kGridRows);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = base + float(i % 97) * step;
    test::WriteParameterGrid(name, kColumns, kGridRows, values);
}

// The application folder with its grids and a million points spread over the
// grid and a little beyond it, so that a few rows fail.
class BenchFolder {
public:
    BenchFolder()
    {
        WriteGrid("a2", 0.3f, 0.001f);
        WriteGrid("a1", 25.0f, 0.1f);
        WriteGrid("cv", 0.2f, 0.002f);

        std::mt19937 random(1);
        std::uniform_real_distribution<float> east(2309000, 2310000 + kColumns * 500);
        std::uniform_real_distribution<float> north(5040000, 5170000);
        std::string text = "id,East,North\n";
        for (std::size_t i = 0; i < kPoints; ++i) {
            const GaussBoagaPoint point{east(random), north(random)};
            if (points_.size() < 5000)
                points_.push_back(point);
            text += 'P';
            AppendInteger(text, std::int64_t(i));
            text += ',';
            AppendSingle(text, point.x);
            text += ',';
            AppendSingle(text, point.y);
            text += '\n';
        }
        std::ofstream("points.csv", std::ios::binary) << text;
    }

    // Empty when results.csv holds a row for every point and the first rows
    // hold the numbers of ComputePointRain; otherwise what is wrong.
    std::string CheckResults() const
    {
        std::ifstream in("results.csv", std::ios::binary);
        std::string line;
        std::getline(in, line);
        if (line != std::string(kResultsHeader) + std::string(kDataHeader))
            return "wrong header";
        std::size_t rows = 0;
        while (std::getline(in, line)) {
            if (rows < points_.size() && !RowMatches(line, points_[rows]))
                return "row " + std::to_string(rows + 1) + " differs: " + line;
            ++rows;
        }
        return rows == kPoints ? std::string() : "wrong row count " + std::to_string(rows);
    }

private:
    static bool RowMatches(const std::string& line, GaussBoagaPoint point)
    {
        std::string expected;
        try {
            const PointRain rain = ComputePointRain(point);
            for (const float value : {point.x, point.y}) {
                expected += ',';
                AppendSingle(expected, value);
            }
            expected += ',';
            AppendInteger(expected, rain.cell.row);
            expected += ',';
            AppendInteger(expected, rain.cell.column);
            for (const float value : {rain.centre.x, rain.centre.y, rain.a2, rain.a1, rain.cv}) {
                expected += ',';
                AppendSingle(expected, value);
            }
            for (const float value : rain.quantiles.InOrder()) {
                expected += ',';
                AppendSingle(expected, value);
            }
            expected += ",,";
            return line.ends_with(expected);
        } catch (const Error&) {
            const GridCell cell = CellForPoint(point.x, point.y);
            return line.ends_with(",,,,,,,,,,,,,,,\"outside the parameter grids (row " + std::to_string(cell.row) +
                                  ", column " + std::to_string(cell.column) + ")\",");
        }
    }

    test::ScratchWorkingDir folder_;
    std::vector<GaussBoagaPoint> points_;
};

BenchFolder& Folder()
{
    static BenchFolder folder;
    return folder;
}

void BM_RunBatch(benchmark::State& state)
{
    BenchFolder& folder = Folder();
    BatchOptions options;
    options.pointsPath = "points.csv";
    options.resultsPath = "results.csv";
    const BatchHooks hooks;
    std::filesystem::remove("results.csv");
    const BatchTotals check = RunBatch(options, hooks);
    const std::string wrong = folder.CheckResults();
    if (!wrong.empty() || check.rows != kPoints || check.failed == 0 || check.failed > kPoints / 100) {
        state.SkipWithError(("wrong result: " + wrong).c_str());
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(RunBatch(options, hooks));
    state.counters["points/s"] = benchmark::Counter(double(kPoints), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RunBatch)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same run with six durations' heights after every row (target: at most twice BM_RunBatch).
void BM_RunBatchDurations(benchmark::State& state)
{
    Folder();
    std::filesystem::create_directories("dat");
    test::WriteText("dat/durate.txt", "law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=0.5\n"
                                      "subhour_from_minutes=10\n");
    BatchOptions options;
    options.pointsPath = "points.csv";
    options.resultsPath = "results.csv";
    options.durations = "10min,0.5,1,3,6,24";
    const BatchHooks hooks;
    const BatchTotals check = RunBatch(options, hooks);
    const std::string results = test::ReadText("results.csv");
    const std::string header = results.substr(0, results.find('\n'));
    if (check.rows != kPoints || !header.ends_with(",h_24_T100,h_24_T200")) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(RunBatch(options, hooks));
    state.counters["points/s"] = benchmark::Counter(double(kPoints), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RunBatchDurations)->Unit(benchmark::kMillisecond)->Iterations(3);

struct ProgramRun {
    int status = -1;
    double seconds = 0;
    double peakMegabytes = 0;
};

ProgramRun RunProgram()
{
    const char* argv[] = {QUORVEL_BATCH_PROGRAM, "points.csv", "-o", "results.csv", nullptr};
    ProgramRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return run;
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMegabytes = double(usage.ru_maxrss) / 1024.0;
    return run;
}

void BM_Program(benchmark::State& state)
{
    BenchFolder& folder = Folder();
    std::filesystem::remove("results.csv");
    const ProgramRun check = RunProgram();
    const std::string wrong = folder.CheckResults();
    if (check.status != 1 || !wrong.empty()) {
        state.SkipWithError(("wrong result: exit status " + std::to_string(check.status) + " " + wrong).c_str());
        return;
    }
    double peak = check.peakMegabytes;
    for (auto _ : state) {
        const ProgramRun run = RunProgram();
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakMegabytes);
    }
    state.counters["peak_MB"] = peak;
    if (peak > kPeakMemoryTarget)
        state.SkipWithError(("peak memory " + std::to_string(peak) + " MB beyond 200 MB").c_str());
}
BENCHMARK(BM_Program)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
