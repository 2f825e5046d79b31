#pragma once

#include <chrono>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

// A request's query parameters as the client sent them, decoded. Their names
// may come in any case; a name given twice counts by its first value.
using WmsParams = std::vector<std::pair<std::string, std::string>>;

struct WmsResponse {
    WmsResponse() = default;
    WmsResponse(int status, std::string contentType, std::string body)
        : status(status), contentType(std::move(contentType)), body(std::move(body))
    {
    }

    int status = 200;
    std::string contentType;
    std::string body;
    // For 503, the map cannot be drawn now: the reason in English and
    // Italian (in place of a body), and the seconds after which to ask again.
    std::string english, italian;
    int retryAfter = 0;
};

// What the service takes on at once, so that a flood of large maps waits or
// is refused instead of filling the memory.
struct WmsLimits {
    // The largest picture, width x height, drawn for one GetMap.
    long long maxPixels = 4096LL * 4096;
    // GetMaps waiting for a renderer beyond those drawing; more are refused.
    std::size_t waiting = 16;
    // How long one waits before it is refused after all.
    std::chrono::milliseconds maxWait{10000};
};

class WmsRenderer;

// The map as an OGC Web Map Service 1.3.0: GetCapabilities and GetMap, in
// image/png and EPSG:3004 only. Its layers are the main window's seven, each
// alone, and "quorvel", the map as the desktop shows that view: the detail
// rules choose the names and the district raster by the request's width and
// centre. Bad requests are answered with a ServiceExceptionReport and 400.
//
// Handle may be called from many threads at once: each request borrows a
// renderer of its own, with its own GDAL handles, and gives it back. Drawing
// keeps a core busy, so there are at most as many renderers as cores (and
// two at least); a renderer stays with its request until the picture is
// encoded. Further requests wait for one, up to WmsLimits, and are refused
// with 503 beyond them, so memory stays bounded. A renderer is made again
// when the layer files change, and none is kept whose layers did not all
// open. Drawing text needs a
// QGuiApplication (the offscreen platform will do) for as long as this lives.
class WmsService {
public:
    static constexpr int kMaxSide = 4096;

    // folder: the data folder, as the desktop's working folder holds it.
    // Reads the layers once for their extents.
    explicit WmsService(std::string folder, WmsLimits limits = {});
    ~WmsService();
    WmsService(const WmsService&) = delete;
    WmsService& operator=(const WmsService&) = delete;

    // serviceUrl: the address clients call back, such as http://host:8080/wms.
    WmsResponse Handle(const WmsParams& params, const std::string& serviceUrl);

    // The layers' names, "quorvel" first.
    static std::vector<std::string> LayerNames();

private:
    // Nothing when too many wait already, or the wait was too long.
    std::unique_ptr<WmsRenderer> Borrow();
    void GiveBack(std::unique_ptr<WmsRenderer> renderer);
    WmsResponse GetMap(const WmsParams& params);

    std::string folder_;
    std::string capabilities_;  // with kServiceUrlMark for the address
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<WmsRenderer>> idle_;
    std::size_t made_ = 0;
    std::size_t waiting_ = 0;
    std::size_t maxRenderers_;
    WmsLimits limits_;
};

}  // namespace quorvel
