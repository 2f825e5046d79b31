#include "server/WmsRoute.h"

#include <memory>
#include <mutex>
#include <new>

#include <QGuiApplication>

#include "server/Api.h"
#include "wms/WmsService.h"

namespace quorvel::server {

namespace {

struct LazyWms {
    std::string folder;
    WmsLimits limits;
    std::once_flag made;
    std::unique_ptr<WmsService> service;
};

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

}  // namespace

void AddWmsRoute(Router& router, const std::string& folder, const ServiceLimits& limits)
{
    auto wms = std::make_shared<LazyWms>();
    wms->folder = folder;
    wms->limits = {limits.maxMapPixels, limits.waitingMaps, limits.maxWait};
    router.Get("/wms", [wms](const httplib::Request& request, httplib::Response& response) {
        // Text is drawn with the fonts of a QGuiApplication; the server's
        // main makes one, a program without it gets no map.
        if (qGuiApp == nullptr) {
            response.status = 503;
            response.set_content("the map service needs a QGuiApplication", "text/plain");
            return;
        }
        std::call_once(wms->made, [&] { wms->service = std::make_unique<WmsService>(wms->folder, wms->limits); });
        WmsParams params(request.params.begin(), request.params.end());
        WmsResponse answer;
        try {
            answer = wms->service->Handle(params, ServiceUrl(request));
        } catch (const std::bad_alloc&) {
            SendFailure(response, Busy({"the server has no memory for this map now",
                                        "il server ora non ha memoria per questa mappa"}));
            return;
        }
        if (answer.status == 503) {
            SendFailure(response, Busy({answer.english, answer.italian}, answer.retryAfter));
            return;
        }
        response.status = answer.status;
        response.set_content(answer.body, answer.contentType.c_str());
    });
}

}  // namespace quorvel::server
