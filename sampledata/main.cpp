// Writes the data of the sample region of Tervania into an application folder:
// parameter grids, municipality table, shapefiles and rasters. The same bytes on
// every run: everything derives from one fixed seed. Options make the rasters
// finer and the place names denser, for a region of the real data's size.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include <gdal_priv.h>

#include "sampledata/Output.h"
#include "sampledata/Region.h"

int main(int argc, char** argv)
{
    using namespace quorvel::sample;
    RasterDetail detail;
    int hamlets = kSampleHamlets;
    std::string folder;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc)
                    throw std::invalid_argument(std::string(arg) + " needs a value");
                return argv[++i];
            };
            auto positive = [&]() {
                const std::string text = value();
                char* end = nullptr;
                const double v = std::strtod(text.c_str(), &end);
                if (end == text.c_str() || *end != '\0' || !(v > 0))
                    throw std::invalid_argument(std::string(arg) + " needs a positive number");
                return v;
            };
            if (arg == "--relief-cell")
                detail.reliefCell = positive();
            else if (arg == "--relief-jpeg")
                detail.reliefJpeg = true;
            else if (arg == "--district-cell")
                detail.districtCell = positive();
            else if (arg == "--only-district")
                detail.onlyDistrict = value();
            else if (arg == "--no-district-overviews")
                detail.districtOverviews = false;
            else if (arg == "--hamlets")
                hamlets = static_cast<int>(positive());
            else if (folder.empty() && !arg.starts_with("-"))
                folder = arg;
            else
                throw std::invalid_argument("unknown argument " + std::string(arg));
        }
        if (folder.empty())
            throw std::invalid_argument("no application folder given");
    } catch (const std::exception& e) {
        std::fprintf(stderr,
                     "%s\nusage: %s [--relief-cell M] [--relief-jpeg] [--district-cell M] [--only-district CODE]\n"
                     "       [--no-district-overviews] [--hamlets N] <application folder>\n",
                     e.what(), argv[0]);
        return 2;
    }
    try {
        namespace fs = std::filesystem;
        for (const char* sub : {"grd", "dat", "Shp", "Raster"})
            fs::create_directories(fs::path(folder) / sub);
        GDALAllRegister();
        // Compression and overviews run on one thread each, so the files do not
        // depend on thread timing.
        CPLSetConfigOption("GDAL_NUM_THREADS", "1");

        const auto start = std::chrono::steady_clock::now();
        Region region;
        BuildOutline(region);
        BuildRivers(region);
        BuildTerrain(region);
        BuildMunicipalities(region);
        BuildRoads(region);
        BuildPlaceNames(region, hamlets);

        WriteGrids(region, folder);
        WriteTable(region, folder);
        WriteDurationLaw(folder);
        WriteShapefiles(region, folder);
        WriteReliefRaster(region, folder, detail);
        WriteDistrictRasters(region, folder, detail);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("Tervania: %zu municipalities, %zu place names, written to %s in %.1f s\n",
                    region.municipalities.size(), region.places.size(), folder.c_str(), took.count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvel-sampledata: %s\n", e.what());
        return 1;
    }
    return 0;
}
