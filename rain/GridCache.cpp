#include "rain/GridCache.h"

#include <thread>

#include <sys/stat.h>
#include <time.h>

namespace quorvel {

GridCache::GridCache(std::string folder, std::chrono::milliseconds settle)
    : folder_(std::move(folder)), settle_(settle)
{
}

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

bool GridCache::Settling(const Stamps& stamps)
{
    if (settle_.count() == 0)
        return false;
    const auto seenNow = std::chrono::steady_clock::now();
    if (stamps != seen_) {
        // The first stamps ever seen are of files as they were at the start.
        const bool first = seenSince_ == std::chrono::steady_clock::time_point{};
        seen_ = stamps;
        seenSince_ = first ? seenNow - settle_ : seenNow;
    }
    if (seenNow - seenSince_ < settle_)
        return true;
    // The change time, which no program can set: a copy that keeps its
    // modification time (cp -p, rsync -t) still gets a fresh one.
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long nowNs = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    const long long settleNs = std::chrono::nanoseconds(settle_).count();
    for (const Stamp& stamp : stamps)
        if (nowNs - (stamp.changedSeconds * 1'000'000'000LL + stamp.changedNanoseconds) < settleNs)
            return true;
    return false;
}

std::shared_ptr<const ParameterGrids> GridCache::LoadWhole(const Stamps& before, bool& changing,
                                                           std::optional<Error>& failure)
{
    changing = false;
    std::shared_ptr<const ParameterGrids> grids;
    try {
        grids = std::make_shared<const ParameterGrids>(ParameterGrids::Load(folder_));
    } catch (const Error& error) {
        const Stamps after = ReadStamps();
        changing = after != before || Settling(after);
        if (!changing)
            throw;
        failure = error;
        return nullptr;
    }
    const Stamps after = ReadStamps();
    changing = after != before;
    return changing ? nullptr : grids;
}

std::shared_ptr<const ParameterGrids> GridCache::Current()
{
    const std::lock_guard lock(mutex_);
    // Stamped before reading: a file that changes while it is read differs
    // from its stamp next time, and is read again then.
    Stamps now = ReadStamps();
    if (grids_ && now == stamps_)
        return grids_;
    if (settle_.count() == 0) {
        grids_.reset();
        grids_ = std::make_shared<const ParameterGrids>(ParameterGrids::Load(folder_));
        stamps_ = now;
        return grids_;
    }
    // A half-written set is never read while earlier grids can answer.
    if (Settling(now) && grids_)
        return grids_;
    bool changing = false;
    std::optional<Error> failure;
    if (auto fresh = LoadWhole(now, changing, failure)) {
        grids_ = std::move(fresh);
        stamps_ = now;
        return grids_;
    }
    if (grids_)
        return grids_;
    // Nothing to answer with yet: one more try once the writer had a moment.
    std::this_thread::sleep_for(std::min(settle_, std::chrono::milliseconds(200)));
    now = ReadStamps();
    if (auto fresh = LoadWhole(now, changing, failure)) {
        grids_ = std::move(fresh);
        stamps_ = now;
        return grids_;
    }
    // The file that failed, in its own words: a set still changing may be
    // being replaced, or be broken for good.
    if (failure)
        throw GridsBeingReplaced(failure->kind(), failure->file(),
                                 {failure->detail() + " (the parameter grids may be being replaced)",
                                  failure->italianDetail() + " (le griglie dei parametri forse sono in sostituzione)"});
    throw GridsBeingReplaced(ErrorKind::InputPastEndOfFile, kA2Raster,
                             {"the parameter grids are being replaced", "le griglie dei parametri sono in sostituzione"});
}

PointRain GridCache::Compute(GaussBoagaPoint point)
{
    const auto grids = Current();
    return ComputePointRain(point, *grids);
}

}  // namespace quorvel
