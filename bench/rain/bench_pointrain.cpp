// ComputePointRain on a full-size grid set (260 x 361), page cache warm: the
// time a user waits between "Elaborazione" and the report being written.
#include <cmath>

#include <benchmark/benchmark.h>

#include "rain/Gev.h"
#include "rain/PointRain.h"
#include "tests/rain/GridFixture.h"

namespace {

using namespace quorvel;

constexpr int kColumns = 361;

void WriteGrid(const std::string& name, float base)
{
    std::vector<float> values(std::size_t(kColumns) * kGridRows);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = base + float(i % 97) / 1000.0f;
    test::WriteParameterGrid(name, kColumns, kGridRows, values);
}

void BM_ComputePointRain(benchmark::State& state)
{
    const test::ScratchWorkingDir dir;
    WriteGrid("a2", 0.3f);
    WriteGrid("a1", 30.0f);
    WriteGrid("cv", 0.3f);

    const GaussBoagaPoint point{2400000, 5100000};
    const PointRain check = ComputePointRain(point);
    const float cv = 0.3f + float((139 * kColumns + 180) % 97) / 1000.0f;
    if (check.cell != GridCell{140, 181} || check.cv != cv ||
        check.quantiles.q200 != GevQuantile(cv, check.a1, 200)) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputePointRain(point));
}
BENCHMARK(BM_ComputePointRain)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_GevQuantile(benchmark::State& state)
{
    if (std::abs(GevQuantile(0.3f, 30.0f, 2) - 26.448189f) > 4e-6f) {
        state.SkipWithError("wrong result");
        return;
    }
    float cv = 0.3f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GevQuantile(cv, 30.0f, 100));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GevQuantile);

}  // namespace

BENCHMARK_MAIN();
