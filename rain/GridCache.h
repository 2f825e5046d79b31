#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

#include "rain/Error.h"
#include "rain/PointRain.h"

namespace quorvel {

// The grid files are being replaced: they changed moments ago, or while they
// were read, and no earlier grids can answer meanwhile. Asking again shortly
// will do.
class GridsBeingReplaced : public Error {
public:
    using Error::Error;
};

// The three parameter grids of a folder held in memory, for answers that must
// come at once (the values under the pointer, the server). Every call first
// looks at the six grid files and reads the grids again when any of them was
// replaced or changed, so an answer is always the one a run would give from
// the files as they are now. Safe to share between threads.
class GridCache {
public:
    // folder: empty, or a path ending with "/".
    //
    // settle: for a program that answers while others replace its data. A
    // set whose files changed less than settle ago may be half written: the
    // grids read before keep answering until it rests, and reads whole, with
    // every raster the size its header says and no file changing during the
    // read. Zero follows every change at once.
    explicit GridCache(std::string folder = {}, std::chrono::milliseconds settle = {});

    // The grids as the files are now. The snapshot stays valid and unchanged
    // for as long as the caller holds it, whatever reloads happen meanwhile.
    // Throws Error as ParameterGrids::Load does; a failure is not remembered,
    // so the next call tries the files again. With a settle time and no
    // earlier grids, a set still changing is tried twice, then throws
    // GridsBeingReplaced.
    std::shared_ptr<const ParameterGrids> Current();

    // ComputePointRain(point, *Current()).
    PointRain Compute(GaussBoagaPoint point);

private:
    // What tells a file apart from its earlier self without reading it: a
    // copy kept with its time (cp -p) or renamed into place still differs in
    // its inode or change time.
    struct Stamp {
        unsigned long long device = 0, inode = 0;
        long long size = -1;
        long long modifiedSeconds = 0, modifiedNanoseconds = 0;
        long long changedSeconds = 0, changedNanoseconds = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    using Stamps = std::array<Stamp, 6>;
    Stamps ReadStamps() const;
    // Whether a file of the set changed less than the settle time ago, by
    // its change time or by when these stamps were first seen here.
    bool Settling(const Stamps& stamps);
    // Loads the set; nothing when it changed during the read or is still settling.
    // failure: the load's error, when the set was changing while it failed.
    std::shared_ptr<const ParameterGrids> LoadWhole(const Stamps& before, bool& changing,
                                                    std::optional<Error>& failure);

    std::string folder_;
    std::chrono::milliseconds settle_;
    std::mutex mutex_;
    Stamps stamps_{};
    std::shared_ptr<const ParameterGrids> grids_;
    // The latest stamps seen, and since when: a file cut short by cp keeps
    // its old times until the copy writes to it.
    Stamps seen_{};
    std::chrono::steady_clock::time_point seenSince_{};
};

}  // namespace quorvel
