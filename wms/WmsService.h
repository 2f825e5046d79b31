#pragma once

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
    int status = 200;
    std::string contentType;
    std::string body;
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
// two at least); further requests wait for one, and memory stays bounded. Drawing text needs a
// QGuiApplication (the offscreen platform will do) for as long as this lives.
class WmsService {
public:
    static constexpr int kMaxSide = 4096;

    // folder: the data folder, as the desktop's working folder holds it.
    // Reads the layers once for their extents.
    explicit WmsService(std::string folder);
    ~WmsService();
    WmsService(const WmsService&) = delete;
    WmsService& operator=(const WmsService&) = delete;

    // serviceUrl: the address clients call back, such as http://host:8080/wms.
    WmsResponse Handle(const WmsParams& params, const std::string& serviceUrl);

    // The layers' names, "quorvel" first.
    static std::vector<std::string> LayerNames();

private:
    std::unique_ptr<WmsRenderer> Borrow();
    void GiveBack(std::unique_ptr<WmsRenderer> renderer);
    WmsResponse GetMap(const WmsParams& params);

    std::string folder_;
    std::string capabilities_;  // with kServiceUrlMark for the address
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<WmsRenderer>> idle_;
    std::size_t made_ = 0;
    std::size_t maxRenderers_;
};

}  // namespace quorvel
