#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rain/Durations.h"

namespace quorvel {

// The design hyetograph of a point: a storm of duration D cut into steps of
// stepMinutes whose depths come from the point's depth-duration law.
enum class StormMethod {
    // Keifer & Chu: every window of the storm around the peak, r of it before
    // and 1 - r after, holds the law's depth for its length; each step's depth
    // is the exact difference of that cumulative curve at the step's ends.
    Chicago,
    // The law's increments h(k dt) - h((k-1) dt), largest in the middle, then
    // alternately after and before it.
    AlternatingBlocks,
};

inline constexpr int kStormSteps[] = {1, 5, 10, 15, 30, 60};  // minutes

struct StormSpec {
    double hours = 1;  // D
    int stepMinutes = 5;
    StormMethod method = StormMethod::Chicago;
    double peak = 0.4;  // r, Chicago only
};

struct Hyetograph {
    int stepMinutes = 5;
    std::vector<double> depths;  // mm per step, from the start
    double total = 0;            // h(D, T)

    double Intensity(std::size_t step) const { return depths[step] * 60 / stepMinutes; }  // mm/h
    double PeakIntensity() const;
};

// The storm for the cell's h1(T) and a2. D must lie within the law's range and
// be whole minutes, the step one of kStormSteps dividing D, r within [0, 1]:
// otherwise Error(SubscriptOutOfRange) naming lawFile for D, Error(TypeMismatch)
// for the rest. Windows shorter than the law's range inside the storm follow
// the law's shortest part.
Hyetograph DesignStorm(const DurationLaw& law, float h1, float a2, const StormSpec& spec,
                       const std::string& lawFile = kDurationLawFile);

// "chicago" or "blocchi"/"alternating-blocks"; Error(TypeMismatch) otherwise.
StormMethod ParseStormMethod(std::string_view text);

// A rain gage file's first time, UTC-free civil date and time.
struct StormStart {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0;
};
// "2026-06-01", "2026-06-01T14:30" or "2026-06-01 14:30"; Error(TypeMismatch) otherwise.
StormStart ParseStormStart(std::string_view text);

// The texts give each intensity and depth rounded once to single precision.
// CSV: start_min,intensity_mm_h,depth_mm,cumulative_mm (cumulative at the step's end).
std::string StormCsv(const Hyetograph& storm);
// The lines of an EPA SWMM 5 model's [TIMESERIES] section, times H:MM from the start,
// intensities in mm/h, for a rain gage of INTENSITY format and the step as interval.
std::string SwmmTimeseries(const Hyetograph& storm, std::string_view name);
// SWMM's user-prepared rain file: "station year month day hour minute value",
// intensities in mm/h, one line a step from start.
std::string SwmmRainFile(const Hyetograph& storm, std::string_view station, const StormStart& start);

// One of the three texts, for the API's and quorvel-batch's single choice:
// "csv", "swmm" (the [TIMESERIES] lines) or "rain" (the rain gage file).
enum class StormFormat { Csv, SwmmTimeseries, SwmmRainFile };
StormFormat ParseStormFormat(std::string_view text);  // Error(TypeMismatch) otherwise
const char* StormExtension(StormFormat format);      // ".csv", ".inp.txt", ".dat"
// name: the series' name or the gage's station.
std::string StormText(const Hyetograph& storm, StormFormat format, std::string_view name, const StormStart& start);

}  // namespace quorvel
