#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/Grid.h"

namespace quorvel::test {

// The error a call throws; a call that returns fails the test.
template <class Call>
Error FailureOf(Call call)
{
    try {
        call();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no failure";
    return Error(ErrorKind::FileNotFound, {});
}

// A scratch folder that the test works in and that goes away with it.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A scratch folder that is the working directory while it lives, as the
// program's own folder is while it runs.
class ScratchWorkingDir {
public:
    ScratchWorkingDir() { std::filesystem::current_path(dir_.path()); }
    ~ScratchWorkingDir() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_ = std::filesystem::current_path();
    ScratchDir dir_;
};

// Writes the file, making the folders it is to go in.
inline void WriteText(const std::string& path, const std::string& text)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent);
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFloats(const std::string& path, const std::vector<float>& values)
{
    WriteText(path, std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float)));
}

inline std::string GridHeader(int columns, int rows)
{
    return "ncols    " + std::to_string(columns) + "\r\nnrows    " + std::to_string(rows) + "\r\ncells    500\r\n";
}

// The header and raster of the parameter grid grd/param_<name>, relative to
// the working directory.
inline void WriteParameterGrid(const std::string& name, int columns, int rows, const std::vector<float>& values)
{
    WriteText("grd/param_" + name + ".hdr", GridHeader(columns, rows));
    WriteFloats("grd/param_" + name + ".ras", values);
}

// Works inside a scratch folder holding the three parameter grids, as the
// program works inside its own folder. Cell (r, c) holds a2 = 0.25 + r / 1000,
// a1 = 20 + c / 20 and cv = 0.2 + (r + c) / 3000, but cv = 0 in column 1; a
// test may change them and write them again.
class GridsFolder : public ::testing::Test {
protected:
    static constexpr int kColumns = 361;
    ScratchWorkingDir folder;
    std::vector<float> a2, a1, cv;

    void SetUp() override
    {
        for (int r = 1; r <= kGridRows; ++r)
            for (int c = 1; c <= kColumns; ++c) {
                a2.push_back(0.25f + float(r) / 1000.0f);
                a1.push_back(20.0f + float(c) / 20.0f);
                cv.push_back(c == 1 ? 0.0f : 0.2f + float(r + c) / 3000.0f);
            }
        WriteGrids();
    }
    void WriteGrids() const
    {
        for (const auto& [name, values] : {std::pair{"a2", &a2}, {"a1", &a1}, {"cv", &cv}})
            WriteParameterGrid(name, kColumns, kGridRows, *values);
    }
    static float& Cell(std::vector<float>& grid, int row, int column)
    {
        return grid[std::size_t(row - 1) * kColumns + std::size_t(column - 1)];
    }
};

}  // namespace quorvel::test
