#include <filesystem>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "rain/PendingFile.h"
#include "tests/rain/GridFixture.h"

namespace quorvel::test {
namespace {

// A finished file gives its place back: the signal handler's removal still
// reaches as many files at once as the registry holds (eight) after one moved.
TEST(PendingFile, FinishedFilesFreeTheirPlaceForTheHandlersRemoval)
{
    const ScratchDir dir;
    PendingFile(dir / "done.XXXXXX", "done").MoveTo(dir / "done", "done");
    std::vector<std::unique_ptr<PendingFile>> open;
    for (int i = 0; i < 8; ++i)
        open.push_back(std::make_unique<PendingFile>(dir / "open.XXXXXX", "open"));
    RemovePendingFiles();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace quorvel::test
