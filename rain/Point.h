#pragma once

namespace quorvel {

// Gauss-Boaga East-zone metres, single precision as everywhere values are kept.
struct GaussBoagaPoint {
    float x = 0;  // East
    float y = 0;  // North
    friend bool operator==(const GaussBoagaPoint&, const GaussBoagaPoint&) = default;
};

}  // namespace quorvel
