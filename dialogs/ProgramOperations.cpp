#include "dialogs/ProgramOperations.h"

#include <filesystem>
#include <system_error>

#include "report/Report.h"

namespace quorvel {

std::string ProgramOperations::GetAppFolder()
{
    return quorvel::GetAppFolder(kExecutableName);
}

PointRain ProgramOperations::ComputePointRain(GaussBoagaPoint point)
{
    return quorvel::ComputePointRain(point);
}

GridArea ProgramOperations::ParameterGridArea()
{
    // The three grids share one geometry; a2's is the first read.
    return ReadGridArea(kA2Header);
}

bool ProgramOperations::IsSafeOutputName(const std::string& outputName)
{
    return quorvel::IsSafeOutputName(outputName);
}

bool ProgramOperations::ReportExists(const std::string& appFolder, const std::string& outputName)
{
    // Anything under that name counts, even a dangling link: the write would replace it.
    std::error_code error;
    return std::filesystem::exists(
        std::filesystem::symlink_status(ReportPath(appFolder, outputName), error));
}

void ProgramOperations::WriteRainReport(float east, float north, float centreEast,
                                        float centreNorth, float a2, float q2, float q5, float q10,
                                        float q20, float q50, float q100, float q200,
                                        const std::string& appFolder,
                                        const std::string& outputName)
{
    quorvel::WriteRainReport(east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100,
                             q200, appFolder, outputName);
}

}  // namespace quorvel
