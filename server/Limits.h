#pragma once

#include <chrono>
#include <cstddef>

namespace quorvel::server {

// How much work the server takes on at once: past these, requests are
// refused with 503 and Retry-After rather than fill the memory.
struct ServiceLimits {
    // The largest map picture, width x height; --max-map-pixels.
    long long maxMapPixels = 4096LL * 4096;
    // Maps waiting for a renderer beyond those being drawn.
    std::size_t waitingMaps = 16;
    // Batches run at once, and batches waiting their turn.
    std::size_t batches = 2;
    std::size_t waitingBatches = 4;
    // The longest a map or a batch waits for its turn.
    std::chrono::milliseconds maxWait{10000};
};

}  // namespace quorvel::server
