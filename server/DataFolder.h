#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>

#include "rain/GridCache.h"
#include "rain/PointRain.h"
#include "report/Register.h"
#include "server/Json.h"

namespace quorvel::server {

// The application folder the server answers from, shared by every request
// thread: what is read from it is kept, and read again when its files change.
class DataFolder {
public:
    // folder: absolute, ending with "/".
    explicit DataFolder(std::string folder);

    const std::string& path() const { return folder_; }
    std::string TemplatePath() const;

    // The three grids as the files are now. Throws Error while they cannot be read.
    std::shared_ptr<const ParameterGrids> Grids();
    // Whether these grids, taken from Grids(), are the generated sample region's.
    bool IsSample(const std::shared_ptr<const ParameterGrids>& grids);
    // Throws Error.
    Health CurrentHealth();
    // What the health tells of the large rasters' overviews; set once at start-up.
    void SetOverviewState(std::function<const char*()> state) { overviewState_ = std::move(state); }
    // The municipalities as the API sends them. Throws Error.
    std::shared_ptr<const std::string> MunicipalitiesText();

private:
    struct Stamp {
        off_t size = -1;
        timespec modified{};
        bool operator==(const Stamp& other) const;
    };
    Stamp StampOf(const std::string& relative) const;

    std::string folder_;
    std::function<const char*()> overviewState_;
    GridCache grids_;
    // The sample mark fingerprints the whole grid files: looked at again only
    // when the grids or the mark change.
    std::mutex sampleMutex_;
    std::shared_ptr<const ParameterGrids> sampleGrids_;
    Stamp sampleStamp_;
    bool sample_ = false;
    std::mutex digestsMutex_;
    FileDigests digests_;
    std::mutex municipalitiesMutex_;
    Stamp tableStamp_, shapesStamp_;
    std::shared_ptr<const std::string> municipalities_;
};

}  // namespace quorvel::server
