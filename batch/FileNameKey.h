#pragma once

#include <string>
#include <string_view>

namespace quorvel::batch {

// A file name as the shared drives of the region's offices compare names
// (FAT, SMB): case-folded after Unicode NFC, so "A" and "a", or "è" typed
// precomposed and as "e" with a combining accent, give one key. Two names
// with one key would be one file there. A name that is not UTF-8 is its own key.
std::string FileNameKey(std::string_view name);

}  // namespace quorvel::batch
