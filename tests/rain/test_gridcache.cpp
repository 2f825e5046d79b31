// The grids held in memory against the files as they are now, and the mark
// of the sample region's invented grids.

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "rain/GridCache.h"
#include "rain/SampleMark.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using GridCacheInFolder = test::GridsFolder;

void ExpectSameRain(const PointRain& cached, const PointRain& read)
{
    EXPECT_EQ(cached.cell, read.cell);
    EXPECT_EQ(cached.centre, read.centre);
    EXPECT_EQ((std::array{cached.a2, cached.a1, cached.cv}), (std::array{read.a2, read.a1, read.cv}));
    EXPECT_EQ(cached.quantiles.InOrder(), read.quantiles.InOrder());
}

TEST_F(GridCacheInFolder, GivesWhatARunReadsFromTheFiles)
{
    GridCache cache;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> east(2310000, 2310000 + kColumns * 500), north(5040000, 5170000);
    for (int i = 0; i < 200; ++i) {
        const GaussBoagaPoint point{east(random), north(random)};
        ExpectSameRain(cache.Compute(point), ComputePointRain(point));
    }
}

// Each way a grid file can change under a running program, and the cache
// following it; a snapshot taken before stays as it was.
TEST_F(GridCacheInFolder, FollowsEveryChangeOfAFile)
{
    const GaussBoagaPoint point{2400000, 5100000};
    const struct {
        const char* how;
        void (*change)(const std::string& path, const std::string& bytes);
    } changes[] = {
        {"written in place", [](const std::string& path, const std::string& bytes) { test::WriteText(path, bytes); }},
        {"renamed into place",
         [](const std::string& path, const std::string& bytes) {
             test::WriteText(path + ".new", bytes);
             fs::rename(path + ".new", path);
         }},
        {"written keeping its time",
         [](const std::string& path, const std::string& bytes) {
             struct stat before {};
             ::stat(path.c_str(), &before);
             test::WriteText(path, bytes);
             const timespec times[] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, path.c_str(), times, 0);
         }},
    };
    GridCache cache;
    float value = Cell(a1, 140, 181);
    for (const auto& [how, change] : changes) {
        SCOPED_TRACE(how);
        const auto before = cache.Current();
        Cell(a1, 140, 181) = value += 1;
        change("grd/param_a1.ras", std::string(reinterpret_cast<const char*>(a1.data()), a1.size() * 4));
        EXPECT_EQ(cache.Compute(point).a1, value);
        ExpectSameRain(cache.Compute(point), ComputePointRain(point));
        EXPECT_EQ(before->a1.At({140, 181}), value - 1);
    }
    // A header that changes the grid's shape counts as much as a raster.
    test::WriteText("grd/param_cv.hdr", test::GridHeader(kColumns - 1, kGridRows));
    EXPECT_EQ(test::FailureOf([&] { cache.Compute(point); }).file(), kCvRaster);
    test::WriteText("grd/param_cv.hdr", test::GridHeader(kColumns, kGridRows));
    ExpectSameRain(cache.Compute(point), ComputePointRain(point));
}

// With a settle time, a set that is being replaced never answers half
// written: the earlier grids answer until the new set rests and reads whole.
TEST_F(GridCacheInFolder, KeepsTheEarlierGridsWhileASetIsBeingReplaced)
{
    using namespace std::chrono_literals;
    const GaussBoagaPoint point{2400000, 5100000};
    const std::string whole(reinterpret_cast<const char*>(a1.data()), a1.size() * 4);
    const struct {
        const char* how;
        std::string bytes;  // what the raster holds while the change is fresh
    } changes[] = {
        {"copied over, half way", whole.substr(0, whole.size() / 2)},
        {"rewritten in place, same size", std::string(whole.size(), '\0')},
        {"cut to nothing", ""},
    };
    for (const auto& [how, bytes] : changes) {
        SCOPED_TRACE(how);
        WriteGrids();
        std::this_thread::sleep_for(320ms);
        GridCache cache({}, 300ms);
        const float before = cache.Compute(point).a1;
        test::WriteText("grd/param_a1.ras", bytes);
        EXPECT_EQ(cache.Compute(point).a1, before);
        Cell(a1, 140, 181) += 1;
        WriteGrids();
        EXPECT_EQ(cache.Compute(point).a1, before);
        std::this_thread::sleep_for(320ms);
        EXPECT_EQ(cache.Compute(point).a1, before + 1);
        Cell(a1, 140, 181) -= 1;
    }
}

TEST_F(GridCacheInFolder, WithoutEarlierGridsASetStillChangingIsRefusedAsBeingReplaced)
{
    using namespace std::chrono_literals;
    test::WriteText("grd/param_cv.ras", "0000");
    GridCache cache({}, 300ms);
    EXPECT_THROW(cache.Current(), GridsBeingReplaced);
    // Once it rests, a broken set is what the folder holds, and said so.
    std::this_thread::sleep_for(320ms);
    try {
        cache.Current();
        ADD_FAILURE() << "a broken set was read";
    } catch (const GridsBeingReplaced&) {
        ADD_FAILURE() << "a resting set was taken for one being replaced";
    } catch (const Error& error) {
        EXPECT_EQ(error.file(), kCvRaster);
    }
}

TEST_F(GridCacheInFolder, SampleMarkFitsOnlyTheGridsItWasMadeFor)
{
    EXPECT_FALSE(IsSyntheticSample({}));
    const std::string mark = SampleMarkText({});
    test::WriteText(kSampleMarkFile, mark);
    EXPECT_TRUE(IsSyntheticSample({}));
    EXPECT_TRUE(IsSyntheticSample(fs::current_path().string() + "/"));

    const struct {
        const char* what;
        void (*change)();
    } unmarked[] = {
        {"a raster changed", [] { test::WriteText("grd/param_cv.ras", "0000"); }},
        {"a header changed", [] { test::WriteText("grd/param_a2.hdr", test::GridHeader(1, 1)); }},
        {"a grid missing", [] { fs::remove("grd/param_a1.hdr"); }},
        {"a fingerprint missing", [] {
             std::string text = test::ReadText(kSampleMarkFile);
             test::WriteText(kSampleMarkFile, text.substr(0, text.rfind("  grd/param_cv.hdr") - 16));
         }},
    };
    for (const auto& [what, change] : unmarked) {
        SCOPED_TRACE(what);
        WriteGrids();
        test::WriteText(kSampleMarkFile, mark);
        change();
        EXPECT_FALSE(IsSyntheticSample({}));
    }
}

}  // namespace
}  // namespace quorvel
