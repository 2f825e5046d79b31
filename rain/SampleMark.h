#pragma once

#include <string>

namespace quorvel {

// The sample region's grids are invented. They carry a mark, a file beside
// them naming each of the six grid files with a fingerprint of its content,
// so the mark speaks only for those very files: grids replaced by real ones,
// or changed in place, lose it even where the mark file is left behind.
inline constexpr const char* kSampleMarkFile = "grd/DATI_DI_ESEMPIO.txt";
inline constexpr const char* kSampleWarning = "Dati di esempio sintetici – non usare per la progettazione";
inline constexpr const char* kSampleWarningEnglish = "Synthetic sample data - not for design use";

// The mark for the grid files under folder (empty, or ending with "/") as
// they are now. Throws Error when a grid file cannot be read.
std::string SampleMarkText(const std::string& folder);

// True when folder's grids carry a mark that fits every one of them. A
// missing, unreadable or foreign mark, or any grid file that differs, is
// simply no mark.
bool IsSyntheticSample(const std::string& folder);

}  // namespace quorvel
