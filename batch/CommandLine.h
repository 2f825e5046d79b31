#pragma once

#include "batch/BatchRun.h"

namespace quorvel::batch {

struct CommandLine {
    bool help = false;
    BatchOptions options;
};

// quorvel-batch POINTS.csv [-o RESULTS.csv] [--reports DIR] [--folder DIR],
// the options in any place, also as --output, --output=FILE, --reports=DIR,
// --folder=DIR and --cartella[=]DIR; -h or --help.
// Throws StartError for anything else.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage, in English and then in Italian.
const char* UsageText();

}  // namespace quorvel::batch
