#pragma once

#include "batch/BatchRun.h"

namespace quorvel::batch {

struct CommandLine {
    bool help = false;
    bool check = false;
    std::string checkFolder;  // with check: the folder to examine
    std::string gridsDir;     // --grids: where the grids' GeoTIFF maps go
    BatchOptions options;
};

// quorvel-batch POINTS.csv [-o RESULTS.csv] [--reports DIR] [--pdf DIR] [--folder DIR]
// [--crs SYSTEM], the options in any place, also as --output, --output=FILE,
// --reports=DIR, --pdf=DIR, --folder=DIR, --cartella[=]DIR and --crs=SYSTEM; -h or --help.
// quorvel-batch --check [DIR] (or --verifica) examines an application folder:
// DIR, else the --folder one, else the working folder.
// quorvel-batch --grids DIR (or --griglie) writes the grids' maps as GeoTIFF
// into DIR, from the --folder's grids.
// Throws StartError for anything else.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage, in English and then in Italian.
const char* UsageText();

}  // namespace quorvel::batch
