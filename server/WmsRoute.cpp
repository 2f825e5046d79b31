#include "server/WmsRoute.h"

#include <memory>
#include <mutex>

#include <QGuiApplication>

#include "server/Freshness.h"
#include "wms/WmsService.h"

namespace quorvel::server {

namespace {

struct LazyWms {
    std::string folder;
    std::once_flag made;
    std::unique_ptr<WmsService> service;
};

// The address clients call back, as they reached this server.
std::string ServiceUrl(const httplib::Request& request)
{
    const std::string host = request.get_header_value("Host");
    if (host.empty())
        return "/wms";
    const std::string scheme = request.get_header_value("X-Forwarded-Proto") == "https" ? "https" : "http";
    return scheme + "://" + host + "/wms";
}

}  // namespace

void AddWmsRoute(Router& router, const std::string& folder)
{
    auto wms = std::make_shared<LazyWms>();
    wms->folder = folder;
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
        std::call_once(wms->made, [&] { wms->service = std::make_unique<WmsService>(wms->folder); });
        WmsParams params(request.params.begin(), request.params.end());
        const WmsResponse answer = wms->service->Handle(params, ServiceUrl(request));
        response.status = answer.status;
        response.set_content(answer.body, answer.contentType.c_str());
    });
}

}  // namespace quorvel::server
