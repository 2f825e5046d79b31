#include "server/Json.h"

#include <charconv>
#include <initializer_list>
#include <utility>

#include <nlohmann/json.hpp>

#include "report/CsvText.h"

namespace quorvel::server {

namespace {

std::string CellWords(GridCell cell, const char* row, const char* column)
{
    return std::string(row) + " " + std::to_string(cell.row) + ", " + column + " " + std::to_string(cell.column);
}

void AppendKey(std::string& out, const char* key)
{
    out += '"';
    out += key;
    out += "\":";
}

// An object of named numbers, such as an extent.
void AppendNumbers(std::string& out, std::initializer_list<std::pair<const char*, double>> numbers)
{
    out += '{';
    for (const auto& [key, value] : numbers) {
        if (out.back() != '{')
            out += ',';
        AppendKey(out, key);
        AppendDouble(out, value);
    }
    out += '}';
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    out += nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void AppendDouble(std::string& out, double value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    out.append(text, written.ptr);
}

const char* KindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileNotFound: return "FileNotFound";
    case ErrorKind::InputPastEndOfFile: return "InputPastEndOfFile";
    case ErrorKind::TypeMismatch: return "TypeMismatch";
    case ErrorKind::Overflow: return "Overflow";
    case ErrorKind::SubscriptOutOfRange: return "SubscriptOutOfRange";
    case ErrorKind::FloatingPoint: return "FloatingPoint";
    case ErrorKind::PathAccess: return "PathAccess";
    case ErrorKind::BadFileFormat: return "BadFileFormat";
    case ErrorKind::NoValidData: return "NoValidData";
    case ErrorKind::NoValidRainfall: return "NoValidRainfall";
    }
    return "BadFileFormat";
}

std::string FailureJson(const ApiFailure& failure)
{
    std::string out = "{\"error\":{\"kind\":\"";
    out += KindName(failure.kind);
    out += "\",\"en\":";
    AppendJsonString(out, failure.message.english);
    out += ",\"it\":";
    AppendJsonString(out, failure.message.italian);
    out += "}}";
    return out;
}

ApiFailure DataFailure(const Error& error)
{
    return {500, error.kind(), {error.what(), ItalianMessage(error)}};
}

ApiFailure PointFailure(const Error& error, double east, double north)
{
    GridCell cell;
    try {
        cell = CellForPoint(east, north);
    } catch (const Error&) {
        return {404, error.kind(),
                {"the point lies far outside the parameter grids", "il punto è molto lontano dalle griglie dei parametri"}};
    }
    const std::string en = " (" + CellWords(cell, "row", "column") + ")";
    const std::string it = " (" + CellWords(cell, "riga", "colonna") + ")";
    switch (error.kind()) {
    case ErrorKind::SubscriptOutOfRange:
        return {404, error.kind(), {"outside the parameter grids" + en, "fuori dalle griglie dei parametri" + it}};
    case ErrorKind::NoValidData:
        return {422, error.kind(), {"no valid data in the cell" + en, "nessun dato valido nella cella" + it}};
    case ErrorKind::NoValidRainfall:
        return {422, error.kind(),
                {"the parameters of the cell give no valid rainfall (" + error.detail() + ")",
                 "i parametri della cella non danno una pioggia valida (" + error.italianDetail() + ")"}};
    default:
        break;
    }
    return DataFailure(error);
}

std::string RainJson(GaussBoagaPoint point, const PointRain& rain, bool sample)
{
    std::string out = "{\"point\":{\"east\":";
    AppendSingle(out, point.x);
    out += ",\"north\":";
    AppendSingle(out, point.y);
    out += "},\"cell\":{\"row\":";
    AppendInteger(out, rain.cell.row);
    out += ",\"column\":";
    AppendInteger(out, rain.cell.column);
    out += "},\"centre\":{\"east\":";
    AppendSingle(out, rain.centre.x);
    out += ",\"north\":";
    AppendSingle(out, rain.centre.y);
    out += "},\"a2\":";
    AppendSingle(out, rain.a2);
    out += ",\"a1\":";
    AppendSingle(out, rain.a1);
    out += ",\"cv\":";
    AppendSingle(out, rain.cv);
    out += ",\"quantiles\":[";
    const auto quantiles = rain.quantiles.InOrder();
    for (std::size_t i = 0; i < quantiles.size(); ++i) {
        out += i == 0 ? "{\"T\":" : ",{\"T\":";
        AppendInteger(out, kReturnPeriods[i]);
        out += ",\"mm\":";
        AppendSingle(out, quantiles[i]);
        out += '}';
    }
    out += "],\"sample\":";
    out += sample ? "true" : "false";
    out += '}';
    return out;
}

std::string MunicipalitiesJson(const std::vector<Municipality>& municipalities)
{
    std::string out = "[";
    for (const Municipality& m : municipalities) {
        if (out.size() > 1)
            out += ',';
        out += "{\"name\":";
        AppendJsonString(out, m.name);
        out += ",\"province\":";
        AppendJsonString(out, m.province);
        out += ",\"extent\":";
        AppendNumbers(out, {{"xMin", m.xMin}, {"xMax", m.xMax}, {"yMin", m.yMin}, {"yMax", m.yMax}});
        out += '}';
    }
    out += ']';
    return out;
}

std::string HealthJson(const Health& health)
{
    std::string out = "{\"folder\":";
    AppendJsonString(out, health.folder);
    out += ",\"version\":";
    AppendJsonString(out, health.version);
    out += ",\"sample\":";
    out += health.sample ? "true" : "false";
    out += ",\"sha256\":{";
    const std::pair<const char*, const std::string*> digests[] = {
        {"a2", &health.a2},           {"a1", &health.a1},           {"cv", &health.cv},
        {"template", &health.reportTemplate}, {"a2Header", &health.a2Header}, {"a1Header", &health.a1Header},
        {"cvHeader", &health.cvHeader}};
    for (const auto& [key, digest] : digests) {
        if (out.back() != '{')
            out += ',';
        AppendKey(out, key);
        AppendJsonString(out, *digest);
    }
    out += "},\"grid\":";
    AppendNumbers(out, {{"west", health.grid.west}, {"east", health.grid.east}, {"south", health.grid.south},
                        {"north", health.grid.north}});
    if (!health.overviews.empty()) {
        out += ",\"overviews\":";
        AppendJsonString(out, health.overviews);
    }
    out += '}';
    return out;
}

}  // namespace quorvel::server
