// The check of an application folder, on the sample region and on copies of
// it with one fault each.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "batch/Check.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

namespace fs = std::filesystem;

// The sample region as a tree of links in a scratch folder: a fault replaces
// one link by a file of its own, so the sample itself is never touched.
class LinkedCopy {
public:
    LinkedCopy()
    {
        for (const auto& entry : fs::recursive_directory_iterator(QUORVEL_APP_DIR)) {
            const fs::path target = Root() / fs::relative(entry.path(), QUORVEL_APP_DIR);
            if (entry.is_directory())
                fs::create_directories(target);
            else
                fs::create_symlink(entry.path(), target);
        }
    }

    const fs::path& Root() const { return dir_.path(); }

    std::string Read(const std::string& relative) const { return test::ReadText(dir_ / relative); }
    void Replace(const std::string& relative, const std::string& bytes) const
    {
        fs::remove(Root() / relative);
        test::WriteText(dir_ / relative, bytes);
    }

private:
    test::ScratchDir dir_;
};

struct Fault {
    const char* name;
    std::function<void(const LinkedCopy&)> make;
    bool usable;
    const char* subject;   // of the finding that tells it; empty: none expected
    const char* fragment;  // in that finding's text
};

void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.name;
}

// UTM zone 33 north, as ESRI software writes a .prj: metres too, but not Gauss-Boaga.
constexpr const char* kUtm33Prj =
    "PROJCS[\"WGS_1984_UTM_Zone_33N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\","
    "6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Central_Meridian\",15.0],PARAMETER[\"Scale_Factor\",0.9996],"
    "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";

const Fault kFaults[] = {
    {"SampleRegion", [](const LinkedCopy&) {}, true, "", ""},
    {"MissingFile", [](const LinkedCopy& c) { fs::remove(c.Root() / "Shp/V_PROVINCEpoly.shx"); }, false,
     "Shp/V_PROVINCEpoly.shx", "manca"},
    {"HeaderRasterMismatch",
     [](const LinkedCopy& c) {
         std::string header = c.Read("grd/param_cv.hdr");
         header.replace(header.find("361"), 3, "360");
         c.Replace("grd/param_cv.hdr", header);
     },
     false, "grd/param_cv.ras", "374400"},
    {"WrongCrs", [](const LinkedCopy& c) { c.Replace("Shp/V_ISPETTORATI.prj", kUtm33Prj); }, false,
     "Shp/V_ISPETTORATI.shp", "EPSG:32633"},
    {"Table218Lines",
     [](const LinkedCopy& c) {
         std::string table = c.Read("dat/comuniPolyRid.dat");
         table.erase(table.rfind("\r\n", table.size() - 3) + 2);
         c.Replace("dat/comuniPolyRid.dat", table);
     },
     false, "dat/comuniPolyRid.dat", "218 righe invece di 219"},
    {"BrokenTemplate",
     [](const LinkedCopy& c) {
         const std::string xls = c.Read("programs/prototipo/pioggeTRNprot.xls");
         c.Replace("programs/prototipo/pioggeTRNprot.xls", xls.substr(0, xls.size() / 2));
     },
     false, "programs/prototipo/pioggeTRNprot.xls", ""},
    {"EcwWithGeoTiffBeside",
     [](const LinkedCopy& c) {
         fs::rename(c.Root() / "Raster/demTRNSh.ecw", c.Root() / "Raster/demTRNSh.tif");
         c.Replace("Raster/demTRNSh.ecw", "ECW bytes this GDAL cannot read");
     },
     true, "Raster/demTRNSh.ecw", "il programma usa Raster/demTRNSh.tif"},
    {"EcwAlone", [](const LinkedCopy& c) { c.Replace("Raster/demTRNSh.ecw", "ECW bytes this GDAL cannot read"); },
     false, "Raster/demTRNSh.ecw", "gdal_translate -of COG demTRNSh.ecw demTRNSh.tif"},
};

class CheckFolder : public ::testing::TestWithParam<Fault> {};

TEST_P(CheckFolder, FindsTheFaultAndTellsWhetherTheFolderIsUsable)
{
    const Fault& fault = GetParam();
    LinkedCopy copy;
    fault.make(copy);
    const std::vector<Finding> findings = CheckAppFolder(copy.Root().string());

    int errors = 0;
    bool told = *fault.subject == '\0';
    std::string report;
    for (const Finding& finding : findings) {
        errors += finding.level == Finding::Level::Error ? 1 : 0;
        told = told || (finding.subject == fault.subject && finding.level != Finding::Level::Ok &&
                        finding.text.find(fault.fragment) != std::string::npos);
        report += finding.subject + ": " + finding.text + "\n";
    }
    EXPECT_TRUE(told) << report;
    EXPECT_EQ(errors == 0, fault.usable) << report;
    // One fault, one error: the others must not be dragged along.
    EXPECT_LE(errors, 1) << report;

    const std::string command = std::string("'") + QUORVEL_BATCH_PROGRAM + "' --verifica '" + copy.Root().string() +
                                "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), fault.usable ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, CheckFolder, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::batch
