#pragma once

#include <array>
#include <ctime>
#include <map>
#include <string>

#include "rain/PointRun.h"

namespace quorvel {

// The register of runs: output/registro.csv, one line for every successful
// run, only ever appended to.

inline constexpr const char* kRegisterName = "registro.csv";

// One run as the register keeps it.
struct RegisterEntry {
    std::string time;        // local, ISO 8601 with the UTC offset
    std::string version;     // the program's
    std::string user;        // login name
    std::string reportFile;  // "Piogge.xls"
    GaussBoagaPoint point;
    PointRain rain;
    // SHA-256 of the a2, a1 and cv rasters and of the template, in lowercase hex.
    std::array<std::string, 4> digests;
    // SHA-256 of the a2, a1 and cv headers, which decide the values as much
    // as the rasters. Later than the others, so they follow them on the line.
    std::array<std::string, 3> headerDigests;
    // "esempio" for the sample region's invented grids, otherwise empty.
    std::string data;
};

// Each ends in a line feed. Columns only ever join at the end of the line, so
// a register begun by an earlier version stays readable as it is. Numbers are the shortest text that reads back to
// the same single-precision value, with a decimal point; fields are
// comma-separated and quoted only when they must be.
std::string RegisterHeader();
std::string RegisterLine(const RegisterEntry& entry);

// appFolder + "output/registro.csv"
std::string RegisterPath(const std::string& appFolder);

// Appends the line with one write on a descriptor opened for appending, under
// an exclusive lock, then flushes it to the disk, so lines of programs
// appending at once never mix.
// A missing register appears already holding its header; an existing one is
// appended to as it is, whatever it holds, after a line feed when its last
// line lacks one. Throws Error.
void AppendRegisterLine(const std::string& path, const std::string& line);

// "2026-12-07T01:15:03+01:00"
std::string LocalTimeText(std::time_t when);
// The user's login name, or the numeric user id when there is none.
std::string LoginName();
const char* ProgramVersion();

// SHA-256 digests of files, each read once and read again only when the
// file's size or modification time has changed.
class FileDigests {
public:
    // Throws Error.
    const std::string& Sha256(const std::string& path);

private:
    struct Known {
        long long size = 0;
        std::timespec modified{};
        std::string digest;
    };
    std::map<std::string, Known> known_;
};

// The record of a run whose report has been written, taken now: the time,
// this program's version, the user, the digests of the grids and the template
// in the run's application folder, and whether they are the sample's. Throws Error.
RunRecord RecordRun(const PointRunResult& run, FileDigests& digests);

// The register's entry of a run as its record tells it.
RegisterEntry EntryOf(const PointRunResult& run, const RunRecord& record);

// The register's entry of a run whose report has been written, recorded now.
// Throws Error.
RegisterEntry RunEntry(const PointRunResult& run, FileDigests& digests);

// Writes the register line of a run whose report has been written, now, with
// the digests of the grids and the template in the run's application folder.
void RegisterRun(const PointRunResult& run, FileDigests& digests);

}  // namespace quorvel
