// The server's work for durations and hyetographs, without the network:
// /api/v1/rain's JSON alone and with twelve durations (target: at most 1.2
// times), and a 24-hour hyetograph at one minute as JSON (target: 1 ms).
#include <benchmark/benchmark.h>

#include "rain/Durations.h"
#include "rain/PointRain.h"
#include "rain/Storm.h"
#include "server/Durations.h"
#include "server/Json.h"

namespace {

using namespace quorvel;

const DurationLaw kLaw = ParseDurationLaw("law=power\nhours_from=1\nhours_to=24\nsubhour_exponent=0.5\n"
                                          "subhour_from_minutes=10\n", "bench");

PointRain SomeRain()
{
    PointRain rain;
    rain.cell = {140, 181};
    rain.centre = {2400250, 5100250};
    rain.a2 = 0.42576984f;
    rain.a1 = 25.708979f;
    rain.cv = 0.29440853f;
    rain.quantiles = ComputeQuantiles(rain.cv, rain.a1);
    return rain;
}

void BM_RainJson(benchmark::State& state)
{
    const PointRain rain = SomeRain();
    for (auto _ : state)
        benchmark::DoNotOptimize(server::RainJson({2400000, 5100000}, rain, true));
}
BENCHMARK(BM_RainJson)->Unit(benchmark::kMicrosecond);

void BM_RainJsonTwelveDurations(benchmark::State& state)
{
    const PointRain rain = SomeRain();
    const server::DurationQuery query{kLaw, ParseDurations("10min,15min,20min,0.5,45min,1,1.5,2,3,6,12,24")};
    const std::string check = server::WithDurations(server::RainJson({2400000, 5100000}, rain, true), query, rain);
    if (check.find("\"duration\":\"24\"") == std::string::npos) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(server::WithDurations(server::RainJson({2400000, 5100000}, rain, true), query, rain));
}
BENCHMARK(BM_RainJsonTwelveDurations)->Unit(benchmark::kMicrosecond);

void BM_Hyetograph24HoursAt1Minute(benchmark::State& state)
{
    const PointRain rain = SomeRain();
    const StormSpec spec{24, 1, StormMethod::Chicago, 0.4};
    const Hyetograph check = DesignStorm(kLaw, rain.quantiles.q100, rain.a2, spec);
    if (check.depths.size() != 1440 || check.total != DepthAt(kLaw, rain.quantiles.q100, rain.a2, 24)) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(
            server::HyetographJson(DesignStorm(kLaw, rain.quantiles.q100, rain.a2, spec), spec, 100));
}
BENCHMARK(BM_Hyetograph24HoursAt1Minute)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
