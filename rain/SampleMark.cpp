#include "rain/SampleMark.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

#include "rain/Error.h"
#include "rain/PointRain.h"

namespace quorvel {

namespace {

const char* const kGridFiles[] = {kA2Raster, kA2Header, kA1Raster, kA1Header, kCvRaster, kCvHeader};

// FNV-1a: the mark guards against mistakes, not against forgery, and this
// keeps rain/ on the standard library alone.
bool Fingerprint(const std::string& path, std::uint64_t& hash)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    hash = 0xcbf29ce484222325ULL;
    char buffer[1 << 16];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        for (std::streamsize i = 0; i < file.gcount(); ++i)
            hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 0x100000001b3ULL;
    }
    return file.eof();
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
    for (const char* file : kGridFiles) {
        std::uint64_t hash = 0;
        if (!Fingerprint(folder + file, hash))
            throw Error(ErrorKind::PathAccess, folder + file,
                        {"cannot be read to mark it", "non si può leggere per marcarlo"});
        text += Line(file, hash);
    }
    return text;
}

bool IsSyntheticSample(const std::string& folder)
{
    std::ifstream mark(folder + kSampleMarkFile);
    if (!mark)
        return false;
    // Only the fingerprint lines count: the comments may be reworded.
    std::string found;
    for (std::string line; std::getline(mark, line);)
        if (!line.empty() && line[0] != '#')
            found += line + "\n";
    std::string expected;
    for (const char* file : kGridFiles) {
        std::uint64_t hash = 0;
        if (!Fingerprint(folder + file, hash))
            return false;
        expected += Line(file, hash);
    }
    return found == expected;
}

}  // namespace quorvel
