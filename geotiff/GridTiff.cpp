#include "geotiff/GridTiff.h"

#include <atomic>
#include <cerrno>

#include <unistd.h>

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "rain/Error.h"
#include "rain/FileDescriptor.h"
#include "rain/PendingFile.h"
#include "rain/SampleMark.h"
#include "report/Register.h"

namespace quorvel {

namespace {

Error GdalFailure(const std::string& what)
{
    const std::string reason = CPLGetLastErrorMsg();
    return Error(ErrorKind::BadFileFormat, what,
                 {"GDAL cannot write the GeoTIFF: " + reason, "GDAL non riesce a scrivere il GeoTIFF: " + reason});
}

// A name in GDAL's memory file system no other call uses at the same time.
std::string MemoryName(const char* what)
{
    static std::atomic<unsigned long> next{0};
    return "/vsimem/quorvel-" + std::to_string(::getpid()) + "-" + std::to_string(next++) + "-" + what;
}

}  // namespace

GridTiffMetadata GridTiffMetadataOf(const std::string& folder, FileDigests& digests)
{
    GridTiffMetadata metadata;
    for (const char* file : {kA2Raster, kA2Header, kA1Raster, kA1Header, kCvRaster, kCvHeader}) {
        std::string key = std::string("sha256_") + file;
        for (char& c : key)
            if (c == '/' || c == '.')
                c = '_';
        metadata.emplace_back(key, digests.Sha256(folder + file));
    }
    if (IsSyntheticSample(folder))
        metadata.emplace_back("dati", "esempio");
    return metadata;
}

std::string GridTiff(const GridMaps& maps, std::size_t map, const GridTiffMetadata& metadata)
{
    GDALAllRegister();
    const std::string what = std::string(kGridMapNames.at(map)) + ".tif";
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* cog = GetGDALDriverManager()->GetDriverByName("COG");
    if (!memory || !cog)
        throw GdalFailure(what);
    GDALDatasetUniquePtr grid(memory->Create("", maps.columns, maps.rows, 1, GDT_Float32, nullptr));
    if (!grid)
        throw GdalFailure(what);
    const double geo[6] = {double(kGridWestEdge), double(kGridCellSize), 0, kGridNorthEdge, 0, -double(kGridCellSize)};
    OGRSpatialReference gaussBoaga;
    if (gaussBoaga.importFromEPSG(3004) != OGRERR_NONE || grid->SetGeoTransform(const_cast<double*>(geo)) != CE_None ||
        grid->SetSpatialRef(&gaussBoaga) != CE_None)
        throw GdalFailure(what);
    GDALRasterBand* band = grid->GetRasterBand(1);
    band->SetNoDataValue(kGridMapNoData);
    band->SetDescription(kGridMapNames[map]);
    for (const auto& [key, value] : metadata)
        grid->SetMetadataItem(key.c_str(), value.c_str());
    if (band->RasterIO(GF_Write, 0, 0, maps.columns, maps.rows, const_cast<float*>(maps.values[map].data()),
                       maps.columns, maps.rows, GDT_Float32, 0, 0) != CE_None)
        throw GdalFailure(what);

    // Deflate with the floating-point predictor keeps every value's bits and
    // compresses the smooth fields well.
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PREDICTOR", "YES");
    options.SetNameValue("LEVEL", "6");
    const std::string name = MemoryName(what.c_str());
    GDALDatasetUniquePtr written(cog->CreateCopy(name.c_str(), grid.get(), FALSE, options.List(), nullptr, nullptr));
    if (!written) {
        VSIUnlink(name.c_str());
        throw GdalFailure(what);
    }
    written.reset();
    vsi_l_offset size = 0;
    GByte* bytes = VSIGetMemFileBuffer(name.c_str(), &size, TRUE);
    if (!bytes)
        throw GdalFailure(what);
    std::string out(reinterpret_cast<const char*>(bytes), std::size_t(size));
    CPLFree(bytes);
    return out;
}

void WriteGridTiffs(const GridMaps& maps, const GridTiffMetadata& metadata, const std::string& folder)
{
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (std::size_t map = 0; map < kGridMapNames.size(); ++map) {
        const std::string bytes = GridTiff(maps, map, metadata);
        const std::string target = prefix + kGridMapNames[map] + ".tif";
        PendingFile file(target + ".XXXXXX", target);
        WriteAll(file.fd(), bytes, target);
        file.MoveTo(target, target);
    }
}

}  // namespace quorvel
