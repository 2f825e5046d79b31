#include "server/GridRoutes.h"

#include <array>
#include <memory>
#include <mutex>

#include "geotiff/GridTiff.h"
#include "report/Register.h"
#include "server/Api.h"

namespace quorvel::server {

namespace {

// The files of one set of grids: each made at its first request, the maps
// and the first file at start-up.
class GridFiles {
public:
    explicit GridFiles(DataFolder& data) : data_(data)
    {
        // The first file costs three times the others: the maps of every cell
        // and GDAL's and PROJ's first use, about 0.1 s. Made here, before the
        // server listens, rather than in the background, where a stop would
        // wait for it. A failure here is met again, and told, by the request
        // that asks.
        try {
            File(0);
        } catch (...) {
        }
    }

    std::shared_ptr<const std::string> File(std::size_t map)
    {
        const auto grids = data_.Grids();
        std::lock_guard lock(mutex_);
        if (grids != grids_) {
            grids_ = grids;
            maps_.reset();
            files_ = {};
        }
        if (!files_[map]) {
            if (!maps_) {
                maps_ = std::make_unique<GridMaps>(GridMaps::Compute(*grids));
                metadata_ = GridTiffMetadataOf(data_.path(), digests_);
            }
            files_[map] = std::make_shared<const std::string>(GridTiff(*maps_, map, metadata_));
        }
        return files_[map];
    }

private:
    DataFolder& data_;
    std::mutex mutex_;
    std::shared_ptr<const ParameterGrids> grids_;
    std::unique_ptr<GridMaps> maps_;
    FileDigests digests_;
    GridTiffMetadata metadata_;
    std::array<std::shared_ptr<const std::string>, kGridMapNames.size()> files_;
};

}  // namespace

void AddGridRoutes(Router& router, DataFolder& data)
{
    auto files = std::make_shared<GridFiles>(data);
    for (std::size_t map = 0; map < kGridMapNames.size(); ++map) {
        const std::string name = std::string(kGridMapNames[map]) + ".tif";
        router.Get("/api/v1/griglie/" + name, [files, map, name](const httplib::Request&, httplib::Response& response) {
            Answer(response, [&] {
                Send(response, files->File(map), "image/tiff; application=geotiff; profile=cloud-optimized");
                response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
            });
        });
    }
}

}  // namespace quorvel::server
