#include "rain/Storm.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

#include "rain/Error.h"

namespace quorvel {

namespace {

Error Refusal(const std::string& english, const std::string& italian)
{
    return Error(ErrorKind::TypeMismatch, {}, {english, italian});
}

// A value computed in double precision is given, as every value Quorvel
// gives, as the shortest fixed-point text of its single-precision rounding
// (at most 48 characters and the sign).
void AppendValue(std::string& text, double value)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, float(value), std::chars_format::fixed);
    text.append(buffer, written.ptr);
}

void AppendInt(std::string& text, long value, int width = 0)
{
    char buffer[24];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    for (int pad = width - int(written.ptr - buffer); pad > 0; --pad)
        text += '0';
    text.append(buffer, written.ptr);
}

// Chicago's cumulative depth from the start to minute t of the storm, peak at
// r * D: each side of the peak is the law's curve shrunk by its share.
double ChicagoCumulative(const DurationLaw& law, float h1, float a2, double r, double totalMinutes,
                         double t)
{
    const auto h = [&](double minutes) { return minutes > 0 ? DepthAt(law, h1, a2, minutes / 60) : 0.0; };
    const double peak = r * totalMinutes;
    if (t <= peak)
        return r * (h(totalMinutes) - h((peak - t) / r));
    return r * h(totalMinutes) + (1 - r) * h((t - peak) / (1 - r));
}

// The fixed-width whole number at the front of text, advancing it.
bool TakeInt(std::string_view& text, std::size_t digits, int& value)
{
    if (text.size() < digits)
        return false;
    for (std::size_t i = 0; i < digits; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    std::from_chars(text.data(), text.data() + digits, value);
    text.remove_prefix(digits);
    return true;
}

bool TakeChar(std::string_view& text, std::string_view allowed)
{
    if (text.empty() || allowed.find(text.front()) == std::string_view::npos)
        return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

double Hyetograph::PeakIntensity() const
{
    double peak = 0;
    for (std::size_t i = 0; i < depths.size(); ++i)
        peak = std::max(peak, Intensity(i));
    return peak;
}

Hyetograph DesignStorm(const DurationLaw& law, float h1, float a2, const StormSpec& spec,
                       const std::string& lawFile)
{
    CheckDuration(law, spec.hours, lawFile);
    if (std::find(std::begin(kStormSteps), std::end(kStormSteps), spec.stepMinutes) == std::end(kStormSteps))
        throw Refusal("time step must be 1, 5, 10, 15, 30 or 60 minutes",
                      "il passo deve essere di 1, 5, 10, 15, 30 o 60 minuti");
    const double minutes = std::round(spec.hours * 60);
    if (std::abs(minutes - spec.hours * 60) > 1e-9 * minutes || std::fmod(minutes, spec.stepMinutes) != 0)
        throw Refusal("the time step must divide the storm's duration " + DurationText(spec.hours),
                      "il passo deve dividere la durata della pioggia " + DurationText(spec.hours));
    if (!(spec.peak >= 0 && spec.peak <= 1))
        throw Refusal("the peak's position must lie between 0 and 1", "la posizione del picco deve stare tra 0 e 1");

    Hyetograph storm;
    storm.stepMinutes = spec.stepMinutes;
    const std::size_t steps = std::size_t(minutes) / std::size_t(spec.stepMinutes);
    storm.total = DepthAt(law, h1, a2, spec.hours);
    storm.depths.resize(steps);
    const double dt = spec.stepMinutes;
    if (spec.method == StormMethod::Chicago) {
        // r of 0 or 1 puts the whole storm on one side of the peak.
        const double r = spec.peak;
        const auto cumulative = [&](double t) {
            if (r == 0)
                return DepthAt(law, h1, a2, t / 60) * (t > 0);
            if (r == 1)
                return storm.total - (t < minutes ? DepthAt(law, h1, a2, (minutes - t) / 60) : 0.0);
            return ChicagoCumulative(law, h1, a2, r, minutes, t);
        };
        double before = 0;
        for (std::size_t k = 0; k < steps; ++k) {
            const double after = k + 1 == steps ? storm.total : cumulative(double(k + 1) * dt);
            storm.depths[k] = after - before;
            before = after;
        }
        return storm;
    }
    std::vector<double> increments(steps);
    double before = 0;
    for (std::size_t k = 0; k < steps; ++k) {
        const double after = k + 1 == steps ? storm.total : DepthAt(law, h1, a2, double(k + 1) * dt / 60);
        increments[k] = after - before;
        before = after;
    }
    std::stable_sort(increments.begin(), increments.end(), std::greater<>());
    std::size_t left = (steps - 1) / 2, right = left;
    storm.depths[left] = increments[0];
    for (std::size_t k = 1; k < steps; ++k) {
        const bool after = (k % 2 == 1 && right + 1 < steps) || left == 0;
        storm.depths[after ? ++right : --left] = increments[k];
    }
    return storm;
}

StormMethod ParseStormMethod(std::string_view text)
{
    if (text == "chicago")
        return StormMethod::Chicago;
    if (text == "blocchi" || text == "alternating-blocks")
        return StormMethod::AlternatingBlocks;
    throw Refusal("method must be chicago or alternating-blocks", "il metodo deve essere chicago o blocchi");
}

StormStart ParseStormStart(std::string_view text)
{
    StormStart start;
    std::string_view rest = text;
    bool ok = TakeInt(rest, 4, start.year) && TakeChar(rest, "-") && TakeInt(rest, 2, start.month) &&
              TakeChar(rest, "-") && TakeInt(rest, 2, start.day);
    if (ok && !rest.empty())
        ok = TakeChar(rest, "T ") && TakeInt(rest, 2, start.hour) && TakeChar(rest, ":") &&
             TakeInt(rest, 2, start.minute) && rest.empty();
    using namespace std::chrono;
    const year_month_day date{year(start.year), month(unsigned(start.month)), day(unsigned(start.day))};
    if (!ok || !date.ok() || start.year < 1900 || start.hour > 23 || start.minute > 59)
        throw Refusal("start must be a date YYYY-MM-DD, optionally with THH:MM",
                      "l'inizio deve essere una data AAAA-MM-GG, eventualmente con THH:MM");
    return start;
}

std::string StormCsv(const Hyetograph& storm)
{
    std::string text = "start_min,intensity_mm_h,depth_mm,cumulative_mm\n";
    double cumulative = 0;
    for (std::size_t k = 0; k < storm.depths.size(); ++k) {
        cumulative = k + 1 == storm.depths.size() ? storm.total : cumulative + storm.depths[k];
        AppendInt(text, long(k) * storm.stepMinutes);
        text += ',';
        AppendValue(text, storm.Intensity(k));
        text += ',';
        AppendValue(text, storm.depths[k]);
        text += ',';
        AppendValue(text, cumulative);
        text += '\n';
    }
    return text;
}

std::string SwmmTimeseries(const Hyetograph& storm, std::string_view name)
{
    std::string text = ";;Rain gage: INTENSITY in mm/h, interval ";
    AppendInt(text, storm.stepMinutes / 60);
    text += ':';
    AppendInt(text, storm.stepMinutes % 60, 2);
    text += "\n;;Name Time Value\n";
    for (std::size_t k = 0; k < storm.depths.size(); ++k) {
        const long minutes = long(k) * storm.stepMinutes;
        text.append(name);
        text += ' ';
        AppendInt(text, minutes / 60);
        text += ':';
        AppendInt(text, minutes % 60, 2);
        text += ' ';
        AppendValue(text, storm.Intensity(k));
        text += '\n';
    }
    return text;
}

std::string SwmmRainFile(const Hyetograph& storm, std::string_view station, const StormStart& start)
{
    using namespace std::chrono;
    const sys_days day0{year_month_day{year(start.year), month(unsigned(start.month)), day(unsigned(start.day))}};
    const sys_time<minutes> first = day0 + hours(start.hour) + minutes(start.minute);
    std::string text;
    for (std::size_t k = 0; k < storm.depths.size(); ++k) {
        const sys_time<minutes> at = first + minutes(long(k) * storm.stepMinutes);
        const sys_days date = floor<days>(at);
        const year_month_day ymd{date};
        const hh_mm_ss<minutes> time{at - date};
        text.append(station);
        text += ' ';
        AppendInt(text, int(ymd.year()));
        text += ' ';
        AppendInt(text, long(unsigned(ymd.month())));
        text += ' ';
        AppendInt(text, long(unsigned(ymd.day())));
        text += ' ';
        AppendInt(text, time.hours().count());
        text += ' ';
        AppendInt(text, time.minutes().count());
        text += ' ';
        AppendValue(text, storm.Intensity(k));
        text += '\n';
    }
    return text;
}

StormFormat ParseStormFormat(std::string_view text)
{
    if (text == "csv")
        return StormFormat::Csv;
    if (text == "swmm")
        return StormFormat::SwmmTimeseries;
    if (text == "rain")
        return StormFormat::SwmmRainFile;
    throw Refusal("format must be csv, swmm or rain", "il formato deve essere csv, swmm o rain");
}

const char* StormExtension(StormFormat format)
{
    switch (format) {
    case StormFormat::Csv: return ".csv";
    case StormFormat::SwmmTimeseries: return ".inp.txt";
    case StormFormat::SwmmRainFile: return ".dat";
    }
    return "";
}

std::string StormText(const Hyetograph& storm, StormFormat format, std::string_view name, const StormStart& start)
{
    switch (format) {
    case StormFormat::Csv: return StormCsv(storm);
    case StormFormat::SwmmTimeseries: return SwmmTimeseries(storm, name);
    case StormFormat::SwmmRainFile: return SwmmRainFile(storm, name, start);
    }
    return {};
}

}  // namespace quorvel
