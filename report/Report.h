#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rain/PointRain.h"

namespace quorvel {

inline constexpr const char* kExecutableName = "Quorvel";
inline constexpr const char* kTemplatePath = "programs/prototipo/pioggeTRNprot.xls";
inline constexpr const char* kOutputFolder = "output/";
inline constexpr const char* kOutputExtension = ".xls";

// The absolute current directory with a trailing "/", provided it holds a
// file of that name; Error(FileNotFound) otherwise.
std::string GetAppFolder(const std::string& name);

// False for a name that would put the report outside the output folder
// (one holding "/", "\" or a NUL, and "." or "..") or hide it (a blank name).
bool IsSafeOutputName(const std::string& name);

// appFolder + "output/" + outputName + ".xls"
std::string ReportPath(const std::string& appFolder, const std::string& outputName);

// Writes the report: a copy of the template with the point, the cell centre,
// a2 and the seven quantiles in their cells. The file appears whole or not at
// all; an existing file of that name is replaced only on success. Throws Error.
void WriteRainReport(float east, float north, float centreEast, float centreNorth, float a2,
                     float q2, float q5, float q10, float q20, float q50, float q100, float q200,
                     const std::string& appFolder, const std::string& outputName);

// The bytes of the template file at path: a regular file of at most 16 MiB,
// refused before it is read otherwise. Throws Error.
std::vector<std::uint8_t> ReadReportTemplate(const std::string& path);

// Refuses a template no report can be made from, with the Error that
// writing any report from it would give, and writes nothing.
void CheckReportTemplate(const std::string& templatePath);

// The bytes of the report WriteRainReportFile writes, made from the template
// at templatePath, for callers that send the report rather than keep it.
// Throws Error.
std::vector<std::uint8_t> BuildRainReport(float east, float north, float centreEast, float centreNorth,
                                          float a2, float q2, float q5, float q10, float q20, float q50,
                                          float q100, float q200, const std::string& templatePath);

// The same report from the template at templatePath into the file at
// outputPath, for callers whose reports go elsewhere than the output folder.
// The path is used as it is. Throws Error.
void WriteRainReportFile(float east, float north, float centreEast, float centreNorth, float a2,
                         float q2, float q5, float q10, float q20, float q50, float q100,
                         float q200, const std::string& templatePath,
                         const std::string& outputPath);

// Writes bytes beside path under a temporary name and renames them over it
// once they are on disk: path holds its old content or the whole new one, and
// an interrupting signal leaves nothing behind. Throws Error.
void ReplaceFileWith(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace quorvel
