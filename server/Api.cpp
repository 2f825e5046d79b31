#include "server/Api.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <exception>
#include <mutex>
#include <new>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "batch/BatchRun.h"
#include "batch/Csv.h"
#include "crs/TypedPointIn.h"
#include "rain/FileDescriptor.h"
#include "rain/GridCache.h"
#include "rain/OutputName.h"
#include "report/Report.h"
#include "server/Durations.h"
#include "server/Freshness.h"
#include "server/OpenApi.h"
#include "server/WorkQueue.h"

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

// The letter an accented Latin letter is written with, for a file name in
// plain ASCII; '_' for any other character beyond ASCII.
char PlainLetter(char32_t c)
{
    // U+00C0 to U+00FF, in order; '_' where no letter fits (×, ÷).
    static constexpr char kLatin1[] = "AAAAAAACEEEEIIIIDNOOOOO_OUUUUYTsaaaaaaaceeeeiiiidnooooo_ouuuuyty";
    if (c >= 0xC0 && c <= 0xFF)
        return kLatin1[c - 0xC0];
    return '_';
}

// RFC 6266: a plain ASCII fallback, and the exact name percent-encoded.
std::string AttachmentHeader(const std::string& name)
{
    std::string plain, encoded;
    const std::string file = name + kOutputExtension;
    for (std::size_t i = 0; i < file.size();) {
        const auto lead = static_cast<unsigned char>(file[i]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length && i + k < file.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(file[i + k]) & 0x3F);
        plain += code >= 0x80 ? PlainLetter(code) : file[i] == '"' || file[i] == '\\' ? '_' : file[i];
        i += length;
    }
    for (const char c : file) {
        const auto byte = static_cast<unsigned char>(c);
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

// The text with every mention of the data folder taken out, so its files
// are named as they lie within it.
std::string WithoutFolder(std::string text, std::string_view folder)
{
    if (folder.empty())
        return text;
    for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at))
        text.erase(at, folder.size());
    return text;
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

// An anonymous file in memory.
FileDescriptor MemoryFile(const char* name)
{
    FileDescriptor fd(::memfd_create(name, MFD_CLOEXEC));
    if (fd.get() < 0)
        throw SystemError(name);
    return fd;
}

// The results quorvel-batch writes for the points in the file, run with the
// batch's own code on files in memory. Returns the results' file.
FileDescriptor RunBatch(DataFolder& data, const FileDescriptor& input, batch::BatchTotals& totals)
{
    if (::lseek(input.get(), 0, SEEK_SET) != 0)
        throw SystemError("points");
    FileDescriptor output = MemoryFile("results");
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
    return output;
}

// What a rain answer needs of the folder, looked at again at most every
// kLookEvery: its twenty file lookups cost more than the answer itself, and
// grids whose files change keep answering for a second anyway.
class RecentData {
public:
    struct Look {
        std::shared_ptr<const ParameterGrids> grids;
        bool sample = false;
        std::string tag;
    };

    explicit RecentData(DataFolder& data) : data_(data) {}

    // Throws Error as DataFolder does; a failure is not kept.
    std::shared_ptr<const Look> Now()
    {
        const auto now = std::chrono::steady_clock::now();
        {
            const std::lock_guard lock(mutex_);
            if (look_ && now - at_ < kLookEvery)
                return look_;
        }
        auto look = std::make_shared<Look>();
        look->grids = data_.Grids();
        look->sample = data_.IsSample(look->grids);
        look->tag = DataTag(data_);
        const std::lock_guard lock(mutex_);
        look_ = std::move(look);
        at_ = now;
        return look_;
    }

private:
    static constexpr std::chrono::milliseconds kLookEvery{10};
    DataFolder& data_;
    std::mutex mutex_;
    std::shared_ptr<const Look> look_;
    std::chrono::steady_clock::time_point at_;
};

void Rain(DataFolder& data, const RecentData::Look& look, const httplib::Request& request,
          httplib::Response& response)
{
    const QueryPoint query = PointParameters(request);
    const std::optional<DurationQuery> durations = DurationParameters(request, data);
    const PointRain rain = RainAt(look.grids, query);
    std::string json = RainJson(query.point, rain, look.sample);
    if (durations)
        json = WithDurations(std::move(json), *durations, rain);
    Send(response, WithConversion(std::move(json), query), kJson);
}

void Report(DataFolder& data, const httplib::Request& request, httplib::Response& response)
{
    const QueryPoint query = PointParameters(request);
    const GaussBoagaPoint point = query.point;
    const std::string name = WithoutReportExtension(request.has_param("name") ? request.get_param_value("name") : "Piogge");
    if (IsUtf8(name))
        if (const auto fault = ReportNameFault(name))
            throw Refusal(400, ErrorKind::PathAccess, "the name cannot name a report: " + fault->english,
                          "il nome non può essere quello di un report. " + fault->italian);
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
// its limit into a mere 400; kept in a file in memory, which the batch reads
// as it would its standard input.
FileDescriptor ReadBody(const httplib::ContentReader& read, httplib::Response& response)
{
    FileDescriptor body = MemoryFile("points");
    std::size_t size = 0;
    bool tooLarge = response.status == 413;
    const bool whole = read([&](const char* data, std::size_t length) {
        tooLarge = tooLarge || length > kMaxBatchBytes - size;
        if (!tooLarge) {
            WriteAll(body.get(), {data, length}, "points");
            size += length;
        }
        return !tooLarge;
    });
    if (tooLarge || response.status == 413)
        throw ApiRefusal{TooLarge()};
    if (!whole)
        throw Refusal(400, ErrorKind::InputPastEndOfFile, "the body ended before its announced end",
                      "il contenuto finisce prima della fine annunciata");
    return body;
}

// The results go out as they lie in their file, a piece at a time, never
// held whole in the server's memory.
void SendFile(httplib::Response& response, FileDescriptor file, const char* type)
{
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        throw SystemError("results");
    auto shared = std::make_shared<FileDescriptor>(std::move(file));
    response.set_content_provider(std::size_t(info.st_size), type,
                                  [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      char buffer[65536];
                                      const ssize_t got = ::pread(shared->get(), buffer, std::min(length, sizeof buffer),
                                                                  off_t(offset));
                                      return got > 0 && sink.write(buffer, std::size_t(got));
                                  });
}

void Batch(DataFolder& data, const FileDescriptor& points, httplib::Response& response)
{
    batch::BatchTotals totals;
    SendFile(response, RunBatch(data, points, totals), "text/csv; charset=utf-8");
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
    if (failure.retryAfter > 0)
        response.set_header("Retry-After", std::to_string(failure.retryAfter));
}

ApiFailure Busy(ErrorDetail message, int retryAfter)
{
    return {503, ErrorKind::PathAccess, std::move(message), retryAfter};
}

void Answer(httplib::Response& response, const std::function<void()>& work, std::string_view folder)
{
    try {
        work();
    } catch (const ApiRefusal& refusal) {
        SendFailure(response, refusal.failure);
    } catch (const GridsBeingReplaced& error) {
        SendFailure(response, Busy({error.detail(), error.italianDetail()}));
    } catch (const Error& error) {
        ApiFailure failure = DataFailure(error);
        failure.message.english = WithoutFolder(failure.message.english, folder);
        failure.message.italian = WithoutFolder(failure.message.italian, folder);
        SendFailure(response, failure);
    } catch (const std::bad_alloc&) {
        SendFailure(response, Busy({"the server has no memory for this now", "il server ora non ha memoria per questo"}));
    } catch (const std::exception&) {
        SendFailure(response, {500, ErrorKind::PathAccess, {"the server failed", "errore del server"}});
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
    return IsUtf8(name) && !ReportNameFault(std::string(name)) && IsSafeOutputName(std::string(name));
}

void AddApiRoutes(Router& router, DataFolder& data, const ServiceLimits& limits)
{
    router.GetQuick("/api/v1/rain", [&data, recent = std::make_shared<RecentData>(data)](
                                         const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] {
            const auto look = recent->Now();
            if (!NotModified(request, response, look->tag))
                Rain(data, *look, request, response);
        }, data.path());
    });
    router.Get("/api/v1/report", [&data](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] { Report(data, request, response); }, data.path());
    });
    auto batches = std::make_shared<WorkQueue>(
        limits.batches, limits.waitingBatches, limits.maxWait,
        ErrorDetail{"too many batches are running", "sono in corso troppe elaborazioni a lotti"});
    router.Post("/api/v1/batch", [&data, batches](const httplib::Request&, httplib::Response& response,
                                                  const httplib::ContentReader& read) {
        // The turn comes before the body is kept: a refused batch's body is
        // read and dropped, so the client, still sending, gets the answer.
        Answer(response, [&] {
            std::optional<WorkQueue::Turn> turn;
            try {
                turn.emplace(batches->Enter());
            } catch (const ApiRefusal&) {
                std::size_t size = 0;
                read([&size](const char*, std::size_t length) { return (size += length) <= kMaxBatchBytes; });
                throw;
            }
            Batch(data, ReadBody(read, response), response);
        }, data.path());
        // A body left partly unread must not be taken for the next request.
        if (response.status == 400 || response.status == 413 || response.status == 503)
            response.set_header("Connection", "close");
    });
    auto municipalities = std::make_shared<GzipText>();
    router.Get("/api/v1/comuni", [&data, municipalities](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] {
            const auto text = data.MunicipalitiesText();
            if (!NotModified(request, response, TextTag(*text)))
                municipalities->Send(request, response, text, kJson);
        }, data.path());
    });
    router.Get("/api/v1/health", [&data](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] {
            if (const std::string modified = GridsModified(data); !modified.empty())
                response.set_header("Last-Modified", modified);
            if (!NotModified(request, response, DataTag(data)))
                Send(response, HealthJson(data.CurrentHealth()), kJson);
        }, data.path());
    });
    router.Get("/api/v1/openapi.json", [](const httplib::Request&, httplib::Response& response) {
        Send(response, std::string(OpenApiDocument()), kJson);
    });
}

}  // namespace quorvel::server
