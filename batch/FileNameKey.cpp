#include "batch/FileNameKey.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <unicase.h>
#include <uninorm.h>

namespace quorvel::batch {

std::string FileNameKey(std::string_view name)
{
    std::size_t length = 0;
    // The full folding of Unicode's CaseFolding (ß is ss), independent of any
    // language, then NFC.
    const std::unique_ptr<std::uint8_t, void (*)(void*)> folded(
        u8_casefold(reinterpret_cast<const std::uint8_t*>(name.data()), name.size(), nullptr, UNINORM_NFC,
                    nullptr, &length),
        std::free);
    if (!folded)
        return std::string(name);
    return std::string(reinterpret_cast<const char*>(folded.get()), length);
}

}  // namespace quorvel::batch
