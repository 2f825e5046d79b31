#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rain/Error.h"

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
    ScratchWorkingDir(const ScratchWorkingDir&) = delete;
    ScratchWorkingDir& operator=(const ScratchWorkingDir&) = delete;

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

// A grid whose cell (r, c) holds base + r * 1000 + c, so every read says where it came from.
inline std::vector<float> NumberedCells(int columns, int rows, float base = 0)
{
    std::vector<float> values;
    values.reserve(std::size_t(columns) * std::size_t(rows));
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= columns; ++c)
            values.push_back(base + float(r * 1000 + c));
    return values;
}

}  // namespace quorvel::test
