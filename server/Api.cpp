#include "server/Api.h"

#include <cctype>
#include <cerrno>
#include <exception>

#include <sys/mman.h>
#include <unistd.h>

#include "batch/BatchRun.h"
#include "batch/Csv.h"
#include "crs/TypedPointIn.h"
#include "rain/FileDescriptor.h"
#include "report/Report.h"
#include "server/OpenApi.h"

namespace quorvel::server {

namespace {

constexpr const char* kJson = "application/json";
constexpr const char* kBatchInputName = "request body";

ApiRefusal Refusal(int status, ErrorKind kind, std::string english, std::string italian)
{
    return {{status, kind, {std::move(english), std::move(italian)}}};
}

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t code = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            extra = 1;
            code = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            extra = 2;
            code = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            extra = 3;
            code = byte & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

// RFC 6266: a plain ASCII fallback, and the exact name percent-encoded.
std::string AttachmentHeader(const std::string& name)
{
    std::string plain, encoded;
    for (const char c : name + kOutputExtension) {
        const auto byte = static_cast<unsigned char>(c);
        plain += byte >= 0x80 || c == '"' || c == '\\' ? '_' : c;
        if (std::isalnum(byte) || std::string_view("-._~").find(c) != std::string_view::npos) {
            encoded += c;
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

// A coordinate in a system other than Gauss-Boaga: east and north, or lon and lat.
double SystemParameter(const httplib::Request& request, ReferenceSystem system, bool x)
{
    const char* name = x ? "east" : "north";
    if (IsGeographic(system) && !request.has_param(name))
        name = x ? "lon" : "lat";
    const std::string text = request.get_param_value(name);
    double value = 0;
    switch (ReadSystemCoordinate(system, x, text, ".", value)) {
    case NumberStatus::Ok:
        return value;
    case NumberStatus::Empty:
        throw Refusal(400, ErrorKind::TypeMismatch, std::string(name) + " is missing",
                      std::string("manca ") + name);
    case NumberStatus::OutOfRange:
    case NumberStatus::NotANumber:
        break;
    }
    const std::string what = IsGeographic(system) ? "an angle in degrees" : "a number of metres";
    throw Refusal(400, ErrorKind::TypeMismatch, std::string(name) + " is not " + what + ": \"" + text + "\"",
                  std::string(name) + (IsGeographic(system) ? " non è un angolo in gradi: \"" : " non è un numero di metri: \"") +
                      text + "\"");
}

// The JSON of a converted point: the rain's answer, with where the point came from.
std::string WithConversion(std::string json, const QueryPoint& query)
{
    if (!query.convertedFrom || json.empty() || json.back() != '}')
        return json;
    json.pop_back();
    json += ",\"converted\":{\"crs\":\"EPSG:" + std::to_string(EpsgCode(*query.convertedFrom)) +
            "\",\"nearCellEdge\":" + (query.nearCellEdge ? "true" : "false") + "}}";
    return json;
}

PointRain RainAt(const std::shared_ptr<const ParameterGrids>& grids, const QueryPoint& query)
{
    try {
        return ComputeCellRain(CellForPoint(query.east, query.north), *grids);
    } catch (const Error& error) {
        throw ApiRefusal{PointFailure(error, query.east, query.north)};
    }
}

// An anonymous file in memory holding bytes, read from its start.
FileDescriptor MemoryFile(const char* name, std::string_view bytes)
{
    FileDescriptor fd(::memfd_create(name, MFD_CLOEXEC));
    if (fd.get() < 0)
        throw SystemError(name);
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw SystemError(name, put < 0 ? errno : EIO);
        done += std::size_t(put);
    }
    if (::lseek(fd.get(), 0, SEEK_SET) != 0)
        throw SystemError(name);
    return fd;
}

std::string ReadBack(int fd, const char* name)
{
    const off_t size = ::lseek(fd, 0, SEEK_CUR);
    if (size < 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        throw SystemError(name);
    std::string bytes(std::size_t(size), '\0');
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw SystemError(name, got < 0 ? errno : EIO);
        done += std::size_t(got);
    }
    return bytes;
}

// The results quorvel-batch writes for these points, run with the batch's
// own code on files in memory.
std::string RunBatch(DataFolder& data, const std::string& points, batch::BatchTotals& totals)
{
    const FileDescriptor input = MemoryFile("points", points);
    const FileDescriptor output = MemoryFile("results", {});
    const auto grids = data.Grids();
    batch::BatchOptions options;
    options.pointsPath = "-";
    options.folder = data.path();
    batch::BatchHooks hooks;
    hooks.standardInput = input.get();
    hooks.standardInputName = kBatchInputName;
    hooks.standardOutput = output.get();
    hooks.grids = grids.get();
    hooks.gridsAreSample = data.IsSample(grids);
    try {
        totals = batch::RunBatch(options, hooks);
    } catch (const batch::StartError& error) {
        throw Refusal(400, ErrorKind::BadFileFormat, error.what(),
                      std::string("i punti non si possono leggere: ") + error.what());
    } catch (const Error& error) {
        // The points' own faults (a line too long, a quote left open) are the client's.
        if (error.file() == kBatchInputName)
            throw ApiRefusal{{400, error.kind(), {error.what(), ItalianMessage(error)}}};
        throw;
    }
    return ReadBack(output.get(), "results");
}

void Rain(DataFolder& data, const httplib::Request& request, httplib::Response& response)
{
    const QueryPoint query = PointParameters(request);
    const auto grids = data.Grids();
    const PointRain rain = RainAt(grids, query);
    Send(response, WithConversion(RainJson(query.point, rain, data.IsSample(grids)), query), kJson);
}

void Report(DataFolder& data, const httplib::Request& request, httplib::Response& response)
{
    const QueryPoint query = PointParameters(request);
    const GaussBoagaPoint point = query.point;
    const std::string name = request.has_param("name") ? request.get_param_value("name") : "Piogge";
    if (!IsAcceptableReportName(name))
        throw Refusal(400, ErrorKind::PathAccess,
                      "the name cannot name a report: it needs a character that is not a blank, and no /, \\, "
                      "control characters, \".\" or \"..\" alone, in UTF-8",
                      "il nome non può essere quello di un report: servono caratteri non vuoti, senza /, \\, "
                      "caratteri di controllo, \".\" o \"..\" da soli, in UTF-8");
    const PointRain rain = RainAt(data.Grids(), query);
    const RainQuantiles& q = rain.quantiles;
    const std::vector<std::uint8_t> report =
        BuildRainReport(point.x, point.y, rain.centre.x, rain.centre.y, rain.a2, q.q2, q.q5, q.q10, q.q20, q.q50,
                        q.q100, q.q200, data.TemplatePath());
    Send(response, std::string(report.begin(), report.end()), "application/vnd.ms-excel");
    response.set_header("Content-Disposition", AttachmentHeader(name));
    if (query.convertedFrom) {
        std::string used;
        AppendSingle(used, point.x);
        used += ',';
        AppendSingle(used, point.y);
        response.set_header("X-Quorvel-Point", used);
        response.set_header("X-Quorvel-Near-Cell-Edge", query.nearCellEdge ? "yes" : "no");
    }
}

// The body, read here rather than by httplib, which turns a chunked body over
// its limit into a mere 400.
std::string ReadBody(const httplib::ContentReader& read, httplib::Response& response)
{
    std::string body;
    bool tooLarge = response.status == 413;
    const bool whole = read([&](const char* data, std::size_t size) {
        tooLarge = tooLarge || size > kMaxBatchBytes - body.size();
        if (!tooLarge)
            body.append(data, size);
        return !tooLarge;
    });
    if (tooLarge || response.status == 413)
        throw ApiRefusal{TooLarge()};
    if (!whole)
        throw Refusal(400, ErrorKind::InputPastEndOfFile, "the body ended before its announced end",
                      "il contenuto finisce prima della fine annunciata");
    return body;
}

void Batch(DataFolder& data, const std::string& points, httplib::Response& response)
{
    batch::BatchTotals totals;
    Send(response, RunBatch(data, points, totals), "text/csv; charset=utf-8");
    response.set_header("X-Quorvel-Rows", std::to_string(totals.rows));
    response.set_header("X-Quorvel-Failed", std::to_string(totals.failed));
}

}  // namespace

void Send(httplib::Response& response, std::shared_ptr<const std::string> body, const char* type)
{
    const std::size_t size = body->size();
    response.set_content_provider(size, type,
                                  [body = std::move(body)](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      return sink.write(body->data() + offset, length);
                                  });
}

void Send(httplib::Response& response, std::string body, const char* type)
{
    Send(response, std::make_shared<const std::string>(std::move(body)), type);
}

ApiFailure TooLarge()
{
    return {413, ErrorKind::Overflow, {"the body is larger than 10 MiB", "il contenuto supera 10 MiB"}};
}

void SendFailure(httplib::Response& response, const ApiFailure& failure)
{
    response.status = failure.status;
    Send(response, FailureJson(failure), kJson);
}

void Answer(httplib::Response& response, const std::function<void()>& work)
{
    try {
        work();
    } catch (const ApiRefusal& refusal) {
        SendFailure(response, refusal.failure);
    } catch (const Error& error) {
        SendFailure(response, DataFailure(error));
    } catch (const std::exception& error) {
        SendFailure(response, {500, ErrorKind::PathAccess, {error.what(), error.what()}});
    }
}

float CoordinateParameter(const httplib::Request& request, const char* name)
{
    const std::string text = request.get_param_value(name);
    const std::string italian = name == std::string_view("east") ? "la coordinata Est" : "la coordinata Nord";
    float value = 0;
    switch (batch::ParseSingle(text, false, value)) {
    case NumberStatus::Ok:
        return value;
    case NumberStatus::Empty:
        throw Refusal(400, ErrorKind::TypeMismatch, std::string(name) + " is missing", "manca " + italian);
    case NumberStatus::OutOfRange:
        throw Refusal(400, ErrorKind::Overflow, std::string(name) + " is beyond single precision",
                      italian + " è oltre la precisione singola");
    case NumberStatus::NotANumber:
        break;
    }
    throw Refusal(400, ErrorKind::TypeMismatch,
                  std::string(name) + " is not a number: digits with an optional sign and decimal point",
                  italian + " non è un numero: cifre con segno e punto decimale facoltativi");
}

QueryPoint PointParameters(const httplib::Request& request)
{
    const std::string crs = request.get_param_value("crs");
    const std::optional<ReferenceSystem> system =
        crs.empty() ? ReferenceSystem::GaussBoagaEast : ReferenceSystemFromName(crs);
    if (!system)
        throw Refusal(400, ErrorKind::TypeMismatch,
                      "crs: unknown reference system \"" + crs + "\"; use EPSG:3004, EPSG:4326, EPSG:6707 or EPSG:6708",
                      "crs: sistema di riferimento sconosciuto \"" + crs + "\"; usare EPSG:3004, EPSG:4326, EPSG:6707 o EPSG:6708");
    if (*system == ReferenceSystem::GaussBoagaEast)
    {
        const GaussBoagaPoint point{CoordinateParameter(request, "east"), CoordinateParameter(request, "north")};
        return {point, std::nullopt, false, point.x, point.y};
    }
    const SystemPoint typed{SystemParameter(request, *system, true), SystemParameter(request, *system, false)};
    SystemPoint gb;
    try {
        gb = ToGaussBoaga(*system, typed);
    } catch (const Error& error) {
        throw ApiRefusal{{400, error.kind(), {error.detail(), error.italianDetail()}}};
    }
    return {{float(gb.x), float(gb.y)}, system, NearCellEdge(gb), gb.x, gb.y};
}

bool IsAcceptableReportName(std::string_view name)
{
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return IsUtf8(name) && IsSafeOutputName(std::string(name));
}

void AddApiRoutes(Router& router, DataFolder& data)
{
    router.Get("/api/v1/rain", [&data](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] { Rain(data, request, response); });
    });
    router.Get("/api/v1/report", [&data](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] { Report(data, request, response); });
    });
    router.Post("/api/v1/batch", [&data](const httplib::Request&, httplib::Response& response,
                                         const httplib::ContentReader& read) {
        Answer(response, [&] { Batch(data, ReadBody(read, response), response); });
        // A body left partly unread must not be taken for the next request.
        if (response.status == 400 || response.status == 413)
            response.set_header("Connection", "close");
    });
    router.Get("/api/v1/comuni", [&data](const httplib::Request&, httplib::Response& response) {
        Answer(response, [&] { Send(response, data.MunicipalitiesText(), kJson); });
    });
    router.Get("/api/v1/health", [&data](const httplib::Request&, httplib::Response& response) {
        Answer(response, [&] { Send(response, HealthJson(data.CurrentHealth()), kJson); });
    });
    router.Get("/api/v1/openapi.json", [](const httplib::Request&, httplib::Response& response) {
        Send(response, std::string(OpenApiDocument()), kJson);
    });
}

}  // namespace quorvel::server
