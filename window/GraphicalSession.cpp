#include "window/GraphicalSession.h"

#include <cstdlib>
#include <algorithm>
#include <string_view>

namespace quorvel {

bool HasGraphicalSession(int argc, const char* const* argv)
{
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == "-platform" || std::string_view(argv[i]) == "--platform")
            chosen = argv[i + 1];
    // Qt tries the names of a list in turn; one that needs no display suffices.
    std::string_view platforms = chosen != nullptr ? chosen : "";
    bool needsDisplay = true;
    while (!platforms.empty()) {
        const std::string_view name = platforms.substr(0, platforms.find(';'));
        if (!name.empty() && !name.starts_with("xcb") && !name.starts_with("wayland"))
            needsDisplay = false;
        platforms.remove_prefix(std::min(platforms.size(), name.size() + 1));
    }
    const auto set = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && *value != '\0';
    };
    return !needsDisplay || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace quorvel
