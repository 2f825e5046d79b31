#pragma once

#include <string_view>

namespace quorvel::server {

// server/openapi.json, built into the program.
std::string_view OpenApiDocument();

}  // namespace quorvel::server
