#pragma once

#include <chrono>
#include <memory>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <QColor>
#include <QImage>

#include "map/MapView.h"
#include "wms/RainfallLayers.h"

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

// What the service learns from its host beyond the data folder.
struct WmsServiceOptions {
    // The name and province of the municipality of a polygon of
    // Shp/comuniPoly.shp, by its index; without it the layer "comuni" answers
    // GetFeatureInfo with no data.
    std::function<std::pair<std::string, std::string>(int polygon)> municipality;
    // The dataset to read a raster file through with its overviews, or empty
    // while there is none; without it rasters are read as they are.
    std::function<std::string(const std::string& file)> overviews;
    WmsLimits limits;
};

// The map as an OGC Web Map Service 1.3.0: GetCapabilities, GetMap (PNG or
// JPEG, in EPSG:3004, EPSG:4326 or EPSG:3857), GetFeatureInfo and
// GetLegendGraphic. Its layers are the main window's seven, each alone,
// "quorvel", the map as the desktop shows that view (the detail rules choose
// the names and the district raster by the request's width and centre), and
// the design-rainfall maps (RainfallLayers). Bad requests are answered with a
// ServiceExceptionReport and 400.
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
    explicit WmsService(std::string folder, WmsServiceOptions options = {});
    ~WmsService();
    WmsService(const WmsService&) = delete;
    WmsService& operator=(const WmsService&) = delete;

    // serviceUrl: the address clients call back, such as http://host:8080/wms.
    WmsResponse Handle(const WmsParams& params, const std::string& serviceUrl);

    // The layers' names, "quorvel" first, the rainfall maps last.
    static std::vector<std::string> LayerNames();

private:
    // Nothing when too many wait already, or the wait was too long.
    std::unique_ptr<WmsRenderer> Borrow();
    void GiveBack(std::unique_ptr<WmsRenderer> renderer);
    WmsResponse GetMap(const WmsParams& params);
    WmsResponse GetFeatureInfo(const WmsParams& params);
    WmsResponse GetLegendGraphic(const WmsParams& params);
    // A layer of LAYERS: a renderer's handle, or a rainfall map.
    struct LayerRef {
        int handle = 0;
        const RainfallLayers::Layer* rainfall = nullptr;
    };
    QImage Picture(WmsRenderer& renderer, const std::vector<LayerRef>& layers, const MapExtents& box, int width,
                   int height, const QColor& background);

    std::string folder_;
    std::string capabilities_;  // with kServiceUrlMark for the address
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<WmsRenderer>> idle_;
    std::size_t made_ = 0;
    std::size_t waiting_ = 0;
    std::size_t maxRenderers_;
    WmsServiceOptions options_;
    std::unique_ptr<RainfallLayers> rainfall_;
};

}  // namespace quorvel
