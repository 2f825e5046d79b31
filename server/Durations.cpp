#include "server/Durations.h"

#include <algorithm>
#include <charconv>

#include "server/Api.h"
#include "server/Json.h"

namespace quorvel::server {

namespace {

constexpr const char* kJson = "application/json";

ApiRefusal Refusal(int status, const Error& error)
{
    return {{status, error.kind(), {error.detail(), error.italianDetail()}}};
}

ApiRefusal BadParameter(const std::string& name, const std::string& english, const std::string& italian)
{
    return {{400, ErrorKind::TypeMismatch, {name + ": " + english, name + ": " + italian}}};
}

DurationLaw LawOf(DataFolder& data)
{
    const std::optional<DurationLaw> law = ReadDurationLaw(data.path());
    if (!law)
        throw ApiRefusal{{404, ErrorKind::FileNotFound,
                          {"this region declares no depth-duration law: 1-hour heights only",
                           "questa regione non dichiara una legge delle durate: solo altezze di 1 ora"}}};
    return *law;
}

// The request's parameter, or fallback when it is absent.
std::string Parameter(const httplib::Request& request, const char* name, const char* fallback)
{
    return request.has_param(name) ? request.get_param_value(name) : fallback;
}

template <typename Number>
Number NumberParameter(const httplib::Request& request, const char* name, Number fallback)
{
    if (!request.has_param(name))
        return fallback;
    const std::string text = request.get_param_value(name);
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw BadParameter(name, "not a number: \"" + text.substr(0, 20) + "\"",
                           "non è un numero: \"" + text.substr(0, 20) + "\"");
    return value;
}

// The storm a request asks for: every parameter read before anything is computed.
struct StormQuery {
    StormSpec spec;
    int returnPeriod = 100;
    std::size_t period = 5;  // its index among kReturnPeriods
    std::string format;
    StormStart start;
    std::string name;
};

StormQuery StormParameters(const httplib::Request& request)
{
    StormQuery query;
    try {
        const std::vector<Duration> duration = ParseDurations(Parameter(request, "durata", "1"));
        if (duration.size() != 1)
            throw BadParameter("durata", "one duration", "una sola durata");
        query.spec.hours = duration.front().hours;
        query.spec.method = ParseStormMethod(Parameter(request, "metodo", "chicago"));
        if (request.has_param("inizio"))
            query.start = ParseStormStart(request.get_param_value("inizio"));
    } catch (const Error& error) {
        throw Refusal(400, error);
    }
    query.spec.stepMinutes = NumberParameter(request, "passo", 5);
    query.spec.peak = NumberParameter(request, "picco", 0.4);
    query.returnPeriod = NumberParameter(request, "T", 100);
    const auto at = std::find(kReturnPeriods.begin(), kReturnPeriods.end(), query.returnPeriod);
    if (at == kReturnPeriods.end())
        throw BadParameter("T", "one of 2, 5, 10, 20, 50, 100, 200", "uno tra 2, 5, 10, 20, 50, 100, 200");
    query.period = std::size_t(at - kReturnPeriods.begin());
    query.format = Parameter(request, "formato", "json");
    if (query.format != "json" && query.format != "csv" && query.format != "swmm" && query.format != "rain")
        throw BadParameter("formato", "json, csv, swmm or rain", "json, csv, swmm o rain");
    query.name = Parameter(request, "nome", "Quorvel");
    const bool plain = !query.name.empty() && query.name.size() <= 32 &&
                       std::all_of(query.name.begin(), query.name.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '_' || c == '-';
                       });
    if (!plain)
        throw BadParameter("nome", "1 to 32 letters, digits, _ or -", "da 1 a 32 lettere, cifre, _ o -");
    return query;
}

void StormAnswer(DataFolder& data, const httplib::Request& request, httplib::Response& response)
{
    const QueryPoint point = PointParameters(request);
    const StormQuery query = StormParameters(request);
    const DurationLaw law = LawOf(data);
    // The storm's own refusals first, with made-up heights: they depend on the settings alone.
    try {
        DesignStorm(law, 30, 0.3f, query.spec, kDurationLawFile);
    } catch (const Error& error) {
        throw Refusal(400, error);
    }
    PointRain rain;
    try {
        rain = ComputeCellRain(CellForPoint(point.east, point.north), *data.Grids());
    } catch (const Error& error) {
        throw ApiRefusal{PointFailure(error, point.east, point.north)};
    }
    const Hyetograph storm =
        DesignStorm(law, rain.quantiles.InOrder()[query.period], rain.a2, query.spec, kDurationLawFile);
    if (query.format == "json") {
        Send(response, HyetographJson(storm, query.spec, query.returnPeriod), kJson);
        return;
    }
    const StormFormat format = ParseStormFormat(query.format);
    Send(response, StormText(storm, format, query.name, query.start),
         format == StormFormat::Csv ? "text/csv; charset=utf-8" : "text/plain; charset=utf-8");
    response.set_header("Content-Disposition", "attachment; filename=\"ietogramma-T" +
                                                   std::to_string(query.returnPeriod) + StormExtension(format) + "\"");
}

void AppendArray(std::string& out, const char* key, const std::vector<double>& values)
{
    out += ",\"";
    out += key;
    out += "\":[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ',';
        AppendDouble(out, values[i]);
    }
    out += ']';
}

}  // namespace

std::optional<DurationQuery> DurationParameters(const httplib::Request& request, DataFolder& data)
{
    if (!request.has_param("durate"))
        return std::nullopt;
    DurationQuery query;
    try {
        query.durations = ParseDurations(request.get_param_value("durate"));
    } catch (const Error& error) {
        throw Refusal(400, error);
    }
    query.law = LawOf(data);
    try {
        for (const Duration& duration : query.durations)
            CheckDuration(query.law, duration.hours, kDurationLawFile);
    } catch (const Error& error) {
        throw Refusal(400, error);
    }
    return query;
}

std::string LawJson(const DurationLaw& law)
{
    std::string out = "{\"fromHours\":";
    AppendDouble(out, law.fromHours);
    out += ",\"toHours\":";
    AppendDouble(out, law.toHours);
    out += ",\"minHours\":";
    AppendDouble(out, law.MinHours());
    out += ",\"maxHours\":";
    AppendDouble(out, law.MaxHours());
    if (law.subhourExponent) {
        out += ",\"subhourExponent\":";
        AppendDouble(out, *law.subhourExponent);
        out += ",\"subhourFromHours\":";
        AppendDouble(out, law.subhourFromHours);
    }
    out += '}';
    return out;
}

std::string WithDurations(std::string json, const DurationQuery& query, const PointRain& rain)
{
    if (json.empty() || json.back() != '}')
        return json;
    json.pop_back();
    json += ",\"law\":" + LawJson(query.law) + ",\"durations\":[";
    const auto heights = rain.quantiles.InOrder();
    std::vector<double> depths(heights.size()), intensities(heights.size());
    for (std::size_t d = 0; d < query.durations.size(); ++d) {
        const Duration& duration = query.durations[d];
        for (std::size_t t = 0; t < heights.size(); ++t) {
            depths[t] = DepthAt(query.law, heights[t], rain.a2, duration.hours);
            intensities[t] = depths[t] / duration.hours;
        }
        json += d ? ",{\"duration\":" : "{\"duration\":";
        AppendJsonString(json, duration.label);
        json += ",\"hours\":";
        AppendDouble(json, duration.hours);
        AppendArray(json, "mm", depths);
        AppendArray(json, "mmPerHour", intensities);
        json += '}';
    }
    json += "]}";
    return json;
}

std::string HyetographJson(const Hyetograph& storm, const StormSpec& spec, int returnPeriod)
{
    std::string out = "{\"T\":";
    out += std::to_string(returnPeriod);
    out += ",\"method\":";
    out += spec.method == StormMethod::Chicago ? "\"chicago\"" : "\"alternating-blocks\"";
    out += ",\"peak\":";
    AppendDouble(out, spec.peak);
    out += ",\"hours\":";
    AppendDouble(out, spec.hours);
    out += ",\"stepMinutes\":";
    out += std::to_string(storm.stepMinutes);
    out += ",\"totalMm\":";
    AppendDouble(out, storm.total);
    out += ",\"peakMmPerHour\":";
    AppendDouble(out, storm.PeakIntensity());
    AppendArray(out, "mm", storm.depths);
    std::vector<double> intensities(storm.depths.size());
    for (std::size_t i = 0; i < intensities.size(); ++i)
        intensities[i] = storm.Intensity(i);
    AppendArray(out, "mmPerHour", intensities);
    out += '}';
    return out;
}

void AddDurationRoutes(Router& router, DataFolder& data)
{
    router.Get("/api/v1/law", [&data](const httplib::Request&, httplib::Response& response) {
        Answer(response, [&] { Send(response, LawJson(LawOf(data)), kJson); });
    });
    router.Get("/api/v1/ietogramma", [&data](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] { StormAnswer(data, request, response); });
    });
}

}  // namespace quorvel::server
