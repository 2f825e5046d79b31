#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace quorvel {
class OverviewCache;
}

namespace quorvel::server {

// The overviews of the folder's large rasters (the relief and the district
// rasters) that come without them, as the desktop builds them in the user's
// cache: found there, or built in the background from start-up, one line in
// the log when they are ready. Until then the map leaves those rasters out.
class Overviews {
public:
    // folder: absolute, ending with "/".
    explicit Overviews(const std::string& folder);
    ~Overviews();
    Overviews(const Overviews&) = delete;
    Overviews& operator=(const Overviews&) = delete;

    // The dataset to read file through with its overviews; empty while there is none.
    std::string For(const std::string& file);
    // "building" while any is being built, otherwise "ready".
    const char* State();

private:
    std::mutex mutex_;
    std::map<std::string, std::string> cached_;  // file -> dataset
    std::size_t pending_ = 0;
    std::unique_ptr<OverviewCache> cache_;
};

}  // namespace quorvel::server
