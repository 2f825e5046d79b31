#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The region's depth-duration law, read from the data folder: the grids give
// the 1-hour height h1(T) and the exponent a2 of a cell, and the law carries
// them to other durations, h(d, T) = h1(T) * d^a2 with d in hours, over the
// range it declares. Below one hour it may hold a fixed exponent of its own,
// down to a lower limit. Without the file there are no durations at all.
inline constexpr const char* kDurationLawFile = "dat/durate.txt";

struct DurationLaw {
    double fromHours = 1;  // the a2 law's range
    double toHours = 24;
    // A fixed exponent from subhourFromHours to one hour, when the file gives one.
    std::optional<double> subhourExponent;
    double subhourFromHours = 1;

    double MinHours() const { return subhourExponent ? subhourFromHours : fromHours; }
    double MaxHours() const { return toHours; }
    // "10 min to 24 h"
    std::string RangeText() const;
    std::string ItalianRangeText() const;
    bool operator==(const DurationLaw&) const = default;
};

// The law of text, read from file (named in errors). Lines are key=value,
// blanks around either side, "#" starts a comment:
//   law=power  hours_from=1  hours_to=24  [subhour_exponent=0.5  subhour_from_minutes=10]
// An unknown or repeated key, a missing one, a number that is not one or a
// range that does not hold together is Error(BadFileFormat).
DurationLaw ParseDurationLaw(std::string_view text, const std::string& file);

// The law of the folder (empty, or ending with "/"): nothing when the file
// is absent, Error when it is there but cannot be read or is not a law. Read
// through the guarded opening of the grids, at most 4 KiB.
std::optional<DurationLaw> ReadDurationLaw(const std::string& folder = {});

// A duration as the user gave it: label is its text in results ("10min", "0.5").
struct Duration {
    double hours = 0;
    std::string label;
    bool operator==(const Duration&) const = default;
};

// "10min,0.5,1,3": hours, or minutes with "min", comma separated, blanks
// allowed around each. Each must be a finite number above 0; at most 64, no
// two the same. Error(TypeMismatch) naming the fault otherwise.
std::vector<Duration> ParseDurations(std::string_view list);

// "10 min", "1.5 h": how a duration is said in messages and on screen.
std::string DurationText(double hours);

// Throws Error(SubscriptOutOfRange) naming file, with the law's range, when
// hours lies outside it: a law is never extrapolated.
void CheckDuration(const DurationLaw& law, double hours, const std::string& file = kDurationLawFile);

// h(d, T) in mm for the cell's h1 and a2, in double precision; d is not
// checked against the range (the caller has).
double DepthAt(const DurationLaw& law, float h1, float a2, double hours);

// d^a2, or d to the law's sub-hour exponent under one hour: DepthAt is
// double(h1) times it, so one power serves a cell's seven heights.
double DurationFactor(const DurationLaw& law, float a2, double hours);

// The height in mm and the intensity in mm/h as Quorvel stores, sends and
// shows them: computed in double precision, rounded once to single, as every
// other value it gives.
float DepthValue(const DurationLaw& law, float h1, float a2, double hours);
float IntensityValue(const DurationLaw& law, float h1, float a2, double hours);

}  // namespace quorvel
