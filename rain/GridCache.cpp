#include "rain/GridCache.h"

#include <sys/stat.h>

namespace quorvel {

GridCache::GridCache(std::string folder) : folder_(std::move(folder)) {}

GridCache::Stamps GridCache::ReadStamps() const
{
    const char* files[] = {kA2Raster, kA2Header, kA1Raster, kA1Header, kCvRaster, kCvHeader};
    Stamps stamps{};
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        struct stat info {};
        // A missing file keeps the empty stamp; loading then says what is wrong.
        if (::stat((folder_ + files[i]).c_str(), &info) == 0)
            stamps[i] = {info.st_dev,          info.st_ino,           info.st_size,          info.st_mtim.tv_sec,
                         info.st_mtim.tv_nsec, info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
    }
    return stamps;
}

std::shared_ptr<const ParameterGrids> GridCache::Current()
{
    const std::lock_guard lock(mutex_);
    // Stamped before reading: a file that changes while it is read differs
    // from its stamp next time, and is read again then.
    const Stamps now = ReadStamps();
    if (!grids_ || now != stamps_) {
        grids_.reset();
        grids_ = std::make_shared<const ParameterGrids>(ParameterGrids::Load(folder_));
        stamps_ = now;
    }
    return grids_;
}

PointRain GridCache::Compute(GaussBoagaPoint point)
{
    const auto grids = Current();
    return ComputePointRain(point, *grids);
}

}  // namespace quorvel
