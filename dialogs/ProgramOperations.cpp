#include "dialogs/ProgramOperations.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "rain/Error.h"
#include "report/Report.h"

namespace quorvel {

namespace {

// A report that cannot be written for want of its folder is told as such: the
// folder and why, rather than the failure to create a file inside it.
void RequireWritableFolder(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        throw Error(ErrorKind::PathAccess, folder,
                    errno == ENOENT ? ErrorDetail{"the folder does not exist", "la cartella non esiste"}
                                    : SystemDetail(errno));
    if (!S_ISDIR(info.st_mode))
        throw Error(ErrorKind::PathAccess, folder, {"not a folder", "non è una cartella"});
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw Error(ErrorKind::PathAccess, folder,
                    errno == EROFS ? ErrorDetail{"the folder is on a read-only file system",
                                                 "la cartella è su un disco in sola lettura"}
                                   : ErrorDetail{"the folder is read-only: no file can be written in it",
                                                 "la cartella è in sola lettura: non vi si possono scrivere file"});
}

}  // namespace

std::string ProgramOperations::GetAppFolder()
{
    return quorvel::GetAppFolder(kExecutableName);
}

PointRain ProgramOperations::ComputeCellRain(GridCell cell)
{
    return quorvel::ComputeCellRain(cell);
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
    std::string folder = appFolder + kOutputFolder;
    if (folder.ends_with('/'))
        folder.pop_back();
    RequireWritableFolder(folder);
    quorvel::WriteRainReport(east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100,
                             q200, appFolder, outputName);
}

void ProgramOperations::AppendToRegister(PointRunResult& result)
{
    result.record = RecordRun(result, digests_);
    AppendRegisterLine(RegisterPath(result.appFolder), RegisterLine(EntryOf(result, *result.record)));
}

}  // namespace quorvel
