#include "server/DataFolder.h"

#include <filesystem>

#include "rain/SampleMark.h"
#include "report/Report.h"
#include "server/Municipalities.h"

namespace quorvel::server {

// Data replaced by a copy or a slow rewrite rests for this long before it is
// read; the grids read before answer meanwhile.
constexpr std::chrono::milliseconds kDataSettle{1000};

DataFolder::DataFolder(std::string folder) : folder_(std::move(folder)), grids_(folder_, kDataSettle) {}

std::string DataFolder::TemplatePath() const
{
    return folder_ + kTemplatePath;
}

std::shared_ptr<const ParameterGrids> DataFolder::Grids()
{
    return grids_.Current();
}

bool DataFolder::IsSample(const std::shared_ptr<const ParameterGrids>& grids)
{
    const Stamp mark = StampOf(kSampleMarkFile);
    const std::lock_guard lock(sampleMutex_);
    if (grids != sampleGrids_ || !(mark == sampleStamp_)) {
        sample_ = IsSyntheticSample(folder_);
        sampleGrids_ = grids;
        sampleStamp_ = mark;
    }
    return sample_;
}

Health DataFolder::CurrentHealth()
{
    Health health;
    health.folder = std::filesystem::path(folder_).parent_path().filename().string();
    health.version = ProgramVersion();
    // The three grids share one geometry, as the desktop's coordinate dialog takes it from a2.
    const auto grids = Grids();
    health.sample = IsSample(grids);
    const double north = double(kGridSouthEdge) + double(kGridRows) * kGridCellSize;
    health.grid = {double(kGridWestEdge), double(kGridWestEdge) + double(grids->a2.columnCount()) * kGridCellSize,
                   north - double(grids->a2.rowCount()) * kGridCellSize, north};
    const std::lock_guard lock(digestsMutex_);
    health.a2 = digests_.Sha256(folder_ + kA2Raster);
    health.a1 = digests_.Sha256(folder_ + kA1Raster);
    health.cv = digests_.Sha256(folder_ + kCvRaster);
    health.reportTemplate = digests_.Sha256(TemplatePath());
    health.a2Header = digests_.Sha256(folder_ + kA2Header);
    health.a1Header = digests_.Sha256(folder_ + kA1Header);
    health.cvHeader = digests_.Sha256(folder_ + kCvHeader);
    if (overviewState_)
        health.overviews = overviewState_();
    return health;
}

bool DataFolder::Stamp::operator==(const Stamp& other) const
{
    return size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

DataFolder::Stamp DataFolder::StampOf(const std::string& relative) const
{
    struct stat info {};
    if (::stat((folder_ + relative).c_str(), &info) != 0)
        return {};
    return {info.st_size, info.st_mtim};
}

std::shared_ptr<const std::string> DataFolder::MunicipalitiesText()
{
    const std::lock_guard lock(municipalitiesMutex_);
    const Stamp table = StampOf(kMunicipalityTable);
    const Stamp shapes = StampOf(kMunicipalityShapes);
    if (!municipalities_ || !(table == tableStamp_) || !(shapes == shapesStamp_)) {
        municipalities_.reset();
        municipalities_ = std::make_shared<const std::string>(MunicipalitiesJson(LoadMunicipalities(folder_)));
        tableStamp_ = table;
        shapesStamp_ = shapes;
    }
    return municipalities_;
}

}  // namespace quorvel::server
