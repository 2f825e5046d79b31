#pragma once

#include <string>
#include <vector>

namespace quorvel {

// What tells a map file apart from its earlier self without opening it: its
// inode, size and modification and change times; all zero while it is missing.
struct LayerFileStamp {
    unsigned long long device = 0, inode = 0;
    long long size = -1;
    long long modified = 0, changed = 0;  // nanoseconds
    friend bool operator==(const LayerFileStamp&, const LayerFileStamp&) = default;
};
using LayerFileStamps = std::vector<LayerFileStamp>;

// The files the map service's layers open, relative to the data folder: the
// relief and its stand-in, each shapefile's geometry, index and table, and
// the four districts' rasters.
const std::vector<std::string>& LayerFiles();

// The stamps of LayerFiles() in folder, as InFolder names them.
LayerFileStamps StampLayerFiles(const std::string& folder);

}  // namespace quorvel
