#include "wms/LayerFiles.h"

#include "maplayers/DetailView.h"
#include "maplayers/LayerTable.h"

#include <sys/stat.h>

namespace quorvel {

const std::vector<std::string>& LayerFiles()
{
    static const std::vector<std::string> files = [] {
        std::vector<std::string> all = {kReliefFile, kReliefStandIn};
        for (const char* shapes : {"Shp/comuniPoly", "Shp/V_PROVINCEpoly", "Shp/toponomasticaComuni",
                                   "Shp/toponomastica25kdep", "Shp/V_ISPETTORATI"})
            for (const char* part : {".shp", ".shx", ".dbf"})
                all.push_back(std::string(shapes) + part);
        for (const char* code : kDistrictCodes)
            all.push_back(DistrictRasterFile(code).toStdString());
        return all;
    }();
    return files;
}

LayerFileStamps StampLayerFiles(const std::string& folder)
{
    LayerFileStamps stamps;
    stamps.reserve(LayerFiles().size());
    for (const std::string& file : LayerFiles()) {
        struct stat info {};
        LayerFileStamp& stamp = stamps.emplace_back();
        if (::stat(InFolder(folder, file).c_str(), &info) == 0)
            stamp = {info.st_dev, info.st_ino, info.st_size,
                     info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
                     info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec};
    }
    return stamps;
}

}  // namespace quorvel
