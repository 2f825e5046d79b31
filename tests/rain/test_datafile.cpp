#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "rain/DataFile.h"
#include "rain/Error.h"

namespace quorvel {
namespace {

// A data file is read whole up to its bound, whatever errno an earlier call
// left behind: read() sets it on failure only, so a stale EINTR at the end of
// a file is no interruption.
TEST(ReadDataFile, WholeFilesWithinTheBound)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quorvel-datafile-test";
    std::filesystem::create_directories(folder);
    struct Row {
        std::size_t size, limit;
        int staleErrno;
        bool refused;
    };
    const Row rows[] = {
        {0, 10, 0, false},          {0, 10, EINTR, false},          {70000, 70000, EINTR, false},
        {65536, 65536, 0, false},   {65537, 65536, 0, true},        {200000, 70000, 0, true},
    };
    for (const Row& row : rows) {
        const std::string path = (folder / ("f" + std::to_string(row.size))).string();
        std::string bytes(row.size, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = char('a' + i % 26);
        std::ofstream(path, std::ios::binary) << bytes;
        errno = row.staleErrno;
        if (row.refused) {
            EXPECT_THROW(ReadDataFile(path, row.limit), Error) << row.size;
        } else {
            EXPECT_EQ(ReadDataFile(path, row.limit), bytes) << row.size;
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel
