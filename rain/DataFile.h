#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quorvel {

// Reading a data file through OpenRegularFile, never more than a bound: a
// file that grows while it is read, or one that is far larger than what it
// stands for, is refused rather than read into memory without end.

// The whole file when it holds at most limit bytes; otherwise throws
// Error(BadFileFormat) naming it. Throws Error when it cannot be opened or read.
std::string ReadDataFile(const std::string& path, std::size_t limit);

// Gives the file's bytes to take, in order and in pieces, and returns how many
// there were; throws Error(BadFileFormat) as soon as there are more than limit.
std::uint64_t ForEachDataChunk(const std::string& path, std::uint64_t limit,
                               const std::function<void(std::string_view)>& take);

}  // namespace quorvel
