// Writes the data of the sample region of Tervania into an application folder:
// parameter grids, municipality table, shapefiles and rasters. The same bytes on
// every run: everything derives from one fixed seed.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include <gdal_priv.h>

#include "sampledata/Output.h"
#include "sampledata/Region.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <application folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    try {
        namespace fs = std::filesystem;
        for (const char* sub : {"grd", "dat", "Shp", "Raster"})
            fs::create_directories(fs::path(folder) / sub);
        GDALAllRegister();
        // Compression and overviews run on one thread each, so the files do not
        // depend on thread timing.
        CPLSetConfigOption("GDAL_NUM_THREADS", "1");

        const auto start = std::chrono::steady_clock::now();
        using namespace quorvel::sample;
        Region region;
        BuildOutline(region);
        BuildRivers(region);
        BuildTerrain(region);
        BuildMunicipalities(region);
        BuildRoads(region);
        BuildPlaceNames(region);

        WriteGrids(region, folder);
        WriteTable(region, folder);
        WriteShapefiles(region, folder);
        WriteReliefRaster(region, folder);
        WriteDistrictRasters(region, folder);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("Tervania: %zu municipalities, %zu place names, written to %s in %.1f s\n",
                    region.municipalities.size(), region.places.size(), folder.c_str(), took.count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvel-sampledata: %s\n", e.what());
        return 1;
    }
    return 0;
}
