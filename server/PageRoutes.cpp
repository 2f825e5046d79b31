#include "server/PageRoutes.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include <unistd.h>

#include "crs/TypedPointIn.h"
#include "rain/Error.h"
#include "server/Api.h"
#include "server/Freshness.h"
#include "server/Places.h"
#include "sheet/RainSheet.h"

namespace quorvel::server {

namespace {

constexpr const char* kJson = "application/json";

// The sheet writer keeps the map's layers open between sheets and draws one
// at a time.
struct SheetWriter {
    std::mutex mutex;
    std::unique_ptr<PointSheets> sheets;
};

std::string ReadAndRemove(const std::string& path)
{
    std::ostringstream read;
    {
        std::ifstream file(path, std::ios::binary);
        if (file)
            read << file.rdbuf();
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (read.str().empty())
        throw Error(ErrorKind::PathAccess, path, {"the sheet written cannot be read", "la scheda scritta non si può leggere"});
    return read.str();
}

void Sheet(DataFolder& data, SheetWriter& writer, const httplib::Request& request, httplib::Response& response)
{
    const QueryPoint query = PointParameters(request);
    const std::string name = request.has_param("name") ? request.get_param_value("name") : "Piogge";
    if (!IsAcceptableReportName(name))
        throw ApiRefusal{{400, ErrorKind::PathAccess, {"the name cannot name a sheet", "il nome non può essere quello di una scheda"}}};
    const auto grids = data.Grids();
    PointRain rain;
    try {
        rain = ComputeCellRain(CellForPoint(query.east, query.north), *grids);
    } catch (const Error& error) {
        throw ApiRefusal{PointFailure(error, query.east, query.north)};
    }
    static std::atomic<unsigned> made{0};
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("quorvel-sheet-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + ".pdf"))
                                 .string();
    {
        const std::lock_guard lock(writer.mutex);
        if (!writer.sheets)
            writer.sheets = std::make_unique<PointSheets>(data.path());
        writer.sheets->Write(name, query.point, rain, path);
    }
    Send(response, ReadAndRemove(path), "application/pdf");
    // The sheet holds the time it was made: a copy is never current.
    response.set_header("Cache-Control", "no-store");
    std::string plain = name;
    for (char& c : plain)
        if (static_cast<unsigned char>(c) >= 0x80 || c == '"' || c == '\\')
            c = '_';
    response.set_header("Content-Disposition", "attachment; filename=\"" + plain + ".pdf\"");
}

// {"system", "faults", "east", "north"}: what the desktop's coordinate dialog
// says of the point (empty when it converts into the grids' area) and the
// point in Gauss-Boaga metres when it converts.
void TypedPoint(DataFolder& data, const httplib::Request& request, httplib::Response& response)
{
    const std::string crs = request.get_param_value("crs");
    const std::optional<ReferenceSystem> system =
        crs.empty() ? ReferenceSystem::GaussBoagaEast : ReferenceSystemFromName(crs);
    if (!system)
        throw ApiRefusal{{400, ErrorKind::TypeMismatch,
                          {"crs: unknown reference system \"" + crs + "\"",
                           "crs: sistema di riferimento sconosciuto \"" + crs + "\""}}};
    const GridArea area = data.CurrentHealth().grid;
    const std::string x = request.get_param_value("x"), y = request.get_param_value("y");
    std::string json = "{\"system\":";
    AppendJsonString(json, SystemName(*system));
    json += ",\"faults\":";
    AppendJsonString(json, TypedPointFaultsIn(*system, x, y, ",", area));
    if (const std::optional<SystemPoint> point = TypedPointToGaussBoaga(*system, x, y, ",")) {
        json += ",\"east\":";
        AppendDouble(json, point->x);
        json += ",\"north\":";
        AppendDouble(json, point->y);
    }
    Send(response, json + "}", kJson);
}

}  // namespace

void AddPageRoutes(Router& router, DataFolder& data)
{
    auto names = std::make_shared<RegionNames>(data.path());
    auto placesText = std::make_shared<GzipText>();
    router.Get("/api/v1/places", [names, placesText](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] {
            const auto places = names->PlacesJson();
            if (!NotModified(request, response, TextTag(*places)))
                placesText->Send(request, response, places, kJson);
        });
    });
    router.Get("/api/v1/outline", [names](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] {
            if (!request.has_param("comune"))
                throw ApiRefusal{{400, ErrorKind::TypeMismatch, {"comune is missing", "manca comune"}}};
            const std::string name = request.get_param_value("comune");
            std::string json = names->OutlineJson(name);
            if (json.empty())
                throw ApiRefusal{{404, ErrorKind::FileNotFound,
                                  {"no municipality is named \"" + name + "\"", "nessun comune si chiama \"" + name + "\""}}};
            if (!NotModified(request, response, TextTag(json)))
                Send(response, std::move(json), kJson);
        });
    });
    router.Get("/api/v1/typed", [&data](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] { TypedPoint(data, request, response); });
    });
    auto writer = std::make_shared<SheetWriter>();
    router.Get("/api/v1/sheet", [&data, writer](const httplib::Request& request, httplib::Response& response) {
        Answer(response, [&] { Sheet(data, *writer, request, response); });
    });
}

}  // namespace quorvel::server
