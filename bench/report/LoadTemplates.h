#pragma once

// Templates of about a given size that load one part of the report writer
// with many records it must look at, built from the tests' hostile templates.

#include <cstddef>
#include <string>
#include <vector>

#include "HostileTemplates.h"

namespace quorvel::test {

// Named, for the benchmark's labels.
struct HostileTemplate {
    std::string name;
    Bytes file;
};
std::vector<HostileTemplate> HostileTemplates(std::size_t size);

}  // namespace quorvel::test
