#pragma once

#include <stdexcept>

#include "server/Server.h"

namespace quorvel::server {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServerCommandLine {
    bool help = false;
    ServerOptions options;
};

// quorvel-server --folder DIR [--listen HOST:PORT] [--web DIR] [--threads N]
// [--max-map-pixels N],
// also as --option=VALUE, --cartella for --folder; -h or --help. The page's
// folder defaults to defaultWeb. Throws UsageError.
ServerCommandLine ParseServerCommandLine(int argc, const char* const* argv, const std::string& defaultWeb);

// "web" beside the executable when it exists, else the installed page.
std::string DefaultWebFolder(const std::string& executable);

const char* ServerUsage();

}  // namespace quorvel::server
