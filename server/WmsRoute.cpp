#include "server/WmsRoute.h"

#include <charconv>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include <QGuiApplication>

#include "server/Api.h"
#include "server/Freshness.h"
#include "wms/WmsService.h"

#include "server/Municipalities.h"
#include "server/Overviews.h"
#include "rain/Error.h"

namespace quorvel::server {

namespace {

struct LazyWms {
    std::string folder;
    WmsLimits limits;
    std::once_flag made;
    std::unique_ptr<Overviews> overviews;
    std::unique_ptr<WmsService> service;
};

// The name and province of each municipality polygon, as the table gives them.
std::function<std::pair<std::string, std::string>(int)> MunicipalityNames(const std::string& folder)
{
    std::map<int, std::pair<std::string, std::string>> names;
    try {
        for (const Municipality& m : LoadMunicipalities(folder))
            names[m.polygon] = {m.name, m.province};
    } catch (const Error&) {
        return {};  // the municipalities cannot be told: the layer answers no data
    }
    return [names = std::move(names)](int polygon) {
        const auto found = names.find(polygon);
        return found == names.end() ? std::pair<std::string, std::string>() : found->second;
    };
}

// The first of a proxy's comma-separated values: the one the client sent.
std::string FirstValue(const std::string& value)
{
    std::string first = value.substr(0, value.find(','));
    while (!first.empty() && first.back() == ' ')
        first.pop_back();
    return first;
}

// The address clients call back, as they reached this server or the proxy
// in front of it.
std::string ServiceUrl(const httplib::Request& request)
{
    std::string host = FirstValue(request.get_header_value("X-Forwarded-Host"));
    if (host.empty())
        host = request.get_header_value("Host");
    if (host.empty())
        return "/wms";
    const std::string scheme =
        FirstValue(request.get_header_value("X-Forwarded-Proto")) == "https" ? "https" : "http";
    return scheme + "://" + host + "/wms";
}

WmsService& Service(LazyWms& wms)
{
    std::call_once(wms.made, [&] {
        WmsServiceOptions options;
        options.municipality = MunicipalityNames(wms.folder);
        options.overviews = [&wms](const std::string& file) { return wms.overviews->For(file); };
        options.limits = wms.limits;
        wms.service = std::make_unique<WmsService>(wms.folder, std::move(options));
    });
    return *wms.service;
}

// The service's answer, a map that cannot be drawn now as the API's 503.
// True for a map or a document, false for a refusal.
bool Answer(LazyWms& wms, const WmsParams& params, const httplib::Request& request, httplib::Response& response)
{
    WmsResponse answer;
    try {
        answer = Service(wms).Handle(params, ServiceUrl(request));
    } catch (const std::bad_alloc&) {
        SendFailure(response, Busy({"the server has no memory for this map now",
                                    "il server ora non ha memoria per questa mappa"}));
        return false;
    }
    if (answer.status == 503) {
        SendFailure(response, Busy({answer.english, answer.italian}, answer.retryAfter));
        return false;
    }
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType.c_str());
    return answer.status == 200;
}

// z/x/y.png of the web's tiling: 256-pixel tiles of EPSG:3857 numbered from
// the north-west. False for anything else.
bool ReadTile(const std::string& path, int& z, long& x, long& y)
{
    const auto number = [](std::string_view text, long& value) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        return ec == std::errc() && end == text.data() + text.size() && !text.empty();
    };
    if (!path.ends_with(".png"))
        return false;
    std::string_view rest = std::string_view(path).substr(0, path.size() - 4);
    long parts[3];
    for (int k = 2; k >= 0; --k) {
        const std::size_t slash = k > 0 ? rest.rfind('/') : std::string_view::npos;
        if (k > 0 && slash == std::string_view::npos)
            return false;
        if (!number(k > 0 ? rest.substr(slash + 1) : rest, parts[k]))
            return false;
        if (k > 0)
            rest = rest.substr(0, slash);
    }
    z = int(parts[0]);
    x = parts[1];
    y = parts[2];
    return parts[0] >= 0 && parts[0] <= 22 && x >= 0 && y >= 0 && x < (1L << z) && y < (1L << z);
}

std::string Coordinate(double value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

}  // namespace

void AddWmsRoute(Router& router, DataFolder& data, const ServiceLimits& limits)
{
    auto wms = std::make_shared<LazyWms>();
    wms->folder = data.path();
    wms->limits = {limits.maxMapPixels, limits.waitingMaps, limits.maxWait};
    wms->overviews = std::make_unique<Overviews>(data.path());
    data.SetOverviewState([wms] { return wms->overviews->State(); });
    router.Get("/wms", [wms](const httplib::Request& request, httplib::Response& response) {
        // Text is drawn with the fonts of a QGuiApplication; the server's
        // main makes one, a program without it gets no map.
        if (qGuiApp == nullptr) {
            response.status = 503;
            response.set_content("the map service needs a QGuiApplication", "text/plain");
            return;
        }
        // The same picture is asked again at each visit to the page.
        if (NotModified(request, response, MapTag(wms->folder)))
            return;
        Answer(*wms, WmsParams(request.params.begin(), request.params.end()), request, response);
    });
    // The map as the web's tiles, for a portal over OpenStreetMap: the
    // layers of ?layers= (by default "quorvel"), transparent beyond them.
    // A tile changes only with the data, so caches (nginx's) may keep it.
    router.GetUnder("/tiles/", [wms](const httplib::Request& request, httplib::Response& response) {
        if (qGuiApp == nullptr) {
            response.status = 503;
            response.set_content("the map service needs a QGuiApplication", "text/plain");
            return;
        }
        int z = 0;
        long x = 0, y = 0;
        if (!ReadTile(request.path.substr(std::string_view("/tiles/").size()), z, x, y)) {
            response.status = 404;
            response.set_content("no such tile: /tiles/{z}/{x}/{y}.png", "text/plain");
            return;
        }
        constexpr double kHalfWorld = 20037508.342789244;  // EPSG:3857's edge, metres
        const double side = 2 * kHalfWorld / double(1L << z);
        const double west = -kHalfWorld + double(x) * side, north = kHalfWorld - double(y) * side;
        const std::string layers = request.has_param("layers") ? request.get_param_value("layers") : "quorvel";
        const WmsParams params = {{"SERVICE", "WMS"}, {"REQUEST", "GetMap"}, {"VERSION", "1.3.0"},
                                  {"LAYERS", layers}, {"STYLES", ""}, {"CRS", "EPSG:3857"},
                                  {"BBOX", Coordinate(west) + "," + Coordinate(north - side) + "," +
                                               Coordinate(west + side) + "," + Coordinate(north)},
                                  {"WIDTH", "256"}, {"HEIGHT", "256"}, {"FORMAT", "image/png"},
                                  {"TRANSPARENT", "TRUE"}};
        if (Answer(*wms, params, request, response))
            response.set_header("Cache-Control", "public, max-age=3600");
    });
}

}  // namespace quorvel::server
