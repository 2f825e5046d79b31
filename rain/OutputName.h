#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "rain/Error.h"

namespace quorvel {

// Reports go to folders that Windows machines share, and are downloaded onto
// them: the one set of rules for a report's name, whoever gives it.

inline constexpr std::size_t kMaxReportNameLength = 120;  // characters

// The name without the ".xls" (in any case) the program adds itself, so that
// a name typed with it does not end in ".xls.xls".
std::string WithoutReportExtension(const std::string& name);

// Why Windows would refuse the name (UTF-8) as a file's, or it would mislead
// whoever reads it: a control character (C0, DEL or C1) or a bidirectional
// formatting character, one of \ / : * ? " < > |, a trailing dot or space, a
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) before the first dot, or
// more than kMaxReportNameLength characters. Nothing when the name is fine.
std::optional<ErrorDetail> ReportNameFault(const std::string& name);

}  // namespace quorvel
