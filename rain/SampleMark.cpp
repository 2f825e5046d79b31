#include "rain/SampleMark.h"

#include <cstdint>
#include <cstdio>

#include "rain/DataFile.h"
#include "rain/Error.h"
#include "rain/PointRain.h"

namespace quorvel {

namespace {

const char* const kGridFiles[] = {kA2Raster, kA2Header, kA1Raster, kA1Header, kCvRaster, kCvHeader};

// The largest grid file: a raster of 256 MiB of values, the most a header may promise.
constexpr std::uint64_t kMaxGridFile = std::uint64_t(256) << 20;
constexpr std::size_t kMaxMarkFile = 64 * 1024;

// FNV-1a: the mark guards against mistakes, not against forgery, and this
// keeps rain/ on the standard library alone. Throws Error as the grid reader does.
std::uint64_t Fingerprint(const std::string& path)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    ForEachDataChunk(path, kMaxGridFile, [&hash](std::string_view chunk) {
        for (const char c : chunk)
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    });
    return hash;
}

std::string Line(const char* file, std::uint64_t hash)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(hex) + "  " + file + "\n";
}

}  // namespace

std::string SampleMarkText(const std::string& folder)
{
    std::string text = std::string("# ") + kSampleWarning + "\n# " + kSampleWarningEnglish + "\n";
    for (const char* file : kGridFiles)
        text += Line(file, Fingerprint(folder + file));
    return text;
}

bool IsSyntheticSample(const std::string& folder)
{
    try {
        // Only the fingerprint lines count: the comments may be reworded.
        std::string found;
        const std::string mark = ReadDataFile(folder + kSampleMarkFile, kMaxMarkFile);
        for (std::size_t start = 0; start < mark.size();) {
            std::size_t end = mark.find('\n', start);
            if (end == std::string::npos)
                end = mark.size();
            if (end > start && mark[start] != '#')
                found.append(mark, start, end - start).push_back('\n');
            start = end + 1;
        }
        std::string expected;
        for (const char* file : kGridFiles)
            expected += Line(file, Fingerprint(folder + file));
        return found == expected;
    } catch (const Error&) {
        return false;
    }
}

}  // namespace quorvel
