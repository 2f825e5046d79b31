#include "report/Report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "rain/Error.h"
#include "rain/FileDescriptor.h"
#include "rain/PendingFile.h"
#include "report/Workbook.h"

namespace quorvel {
namespace {

// Writes bytes beside path under a temporary name and renames them over path
// once they are on disk, so that path holds either its old content or the
// whole new one.
void ReplaceFile(const std::string& folder, const std::string& path,
                 const std::vector<std::uint8_t>& bytes)
{
    PendingFile file(folder + ".quorvel-report-XXXXXX", folder);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.fd(), 0666 & ~mask) != 0) {
        throw SystemError(path);
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t done = ::write(file.fd(), bytes.data() + written, bytes.size() - written);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            throw SystemError(path, done < 0 ? errno : EIO);
        }
        written += static_cast<size_t>(done);
    }
    file.MoveTo(path, path);
}

}  // namespace

std::vector<std::uint8_t> ReadReportTemplate(const std::string& path)
{
    const FileDescriptor fd = OpenRegularFile(path);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        throw SystemError(path);
    }
    const Error tooLarge(ErrorKind::BadFileFormat, path, {"larger than 16 MiB", "più grande di 16 MiB"});
    if (std::uint64_t(info.st_size) > kMaxTemplateSize) {
        throw tooLarge;
    }
    // The size may change while the file is read: no more than the bound is kept.
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw Error(ErrorKind::PathAccess, path, SystemDetail(errno));
        }
        if (got == 0) {
            return bytes;
        }
        if (bytes.size() + std::size_t(got) > kMaxTemplateSize) {
            throw tooLarge;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
}

std::string GetAppFolder(const std::string& name)
{
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    struct stat info {};
    if (error || name.empty() || ::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw Error(ErrorKind::FileNotFound, name);
    }
    std::string folder = current.string();
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

bool IsSafeOutputName(const std::string& name)
{
    // A blank name would make a hidden file of nothing but the extension.
    return name.find_first_not_of(" \t") != std::string::npos && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string ReportPath(const std::string& appFolder, const std::string& outputName)
{
    return appFolder + kOutputFolder + outputName + kOutputExtension;
}

std::array<ReportCell, 12> ReportCells(float east, float north, float centreEast,
                                       float centreNorth, float a2, float q2, float q5,
                                       float q10, float q20, float q50, float q100, float q200)
{
    auto whole = [](float value) {
        // nearbyint rounds halves to the even neighbour in the default mode.
        const double rounded = std::nearbyint(static_cast<double>(value));
        if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
              rounded <= std::numeric_limits<std::int32_t>::max())) {
            throw Error(ErrorKind::Overflow, {},
                        {"coordinate outside the integer range", "coordinata fuori dall'intervallo dei numeri interi"});
        }
        return rounded;
    };
    auto exact = [](float value) {
        if (!std::isfinite(value)) {
            throw Error(ErrorKind::FloatingPoint, {}, {"value is not a finite number", "il valore non è un numero finito"});
        }
        return static_cast<double>(value);
    };
    return {{{5, 2, whole(east)},
             {5, 5, whole(north)},
             {6, 2, whole(centreEast)},
             {6, 5, whole(centreNorth)},
             {9, 1, exact(a2)},
             {12, 1, exact(q2)},
             {12, 2, exact(q5)},
             {12, 3, exact(q10)},
             {12, 4, exact(q20)},
             {12, 5, exact(q50)},
             {12, 6, exact(q100)},
             {12, 7, exact(q200)}}};
}

void WriteRainReport(float east, float north, float centreEast, float centreNorth, float a2,
                     float q2, float q5, float q10, float q20, float q50, float q100, float q200,
                     const std::string& appFolder, const std::string& outputName)
{
    const std::string path = ReportPath(appFolder, outputName);
    if (!IsSafeOutputName(outputName)) {
        throw Error(ErrorKind::PathAccess, path,
                    {"the name leaves the output folder", "il nome porta fuori dalla cartella output"});
    }
    WriteRainReportFile(east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100,
                        q200, appFolder + kTemplatePath, path);
}

void CheckReportTemplate(const std::string& templatePath)
{
    // The cells' values change only the numbers written, never whether the
    // template can take them.
    BuildReportFile(ReadReportTemplate(templatePath), ReportCells(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                    templatePath);
}

std::vector<std::uint8_t> BuildRainReport(float east, float north, float centreEast, float centreNorth,
                                          float a2, float q2, float q5, float q10, float q20, float q50,
                                          float q100, float q200, const std::string& templatePath)
{
    const auto cells = ReportCells(east, north, centreEast, centreNorth, a2, q2, q5, q10, q20,
                                   q50, q100, q200);
    return BuildReportFile(ReadReportTemplate(templatePath), cells, templatePath);
}

void WriteRainReportFile(float east, float north, float centreEast, float centreNorth, float a2,
                         float q2, float q5, float q10, float q20, float q50, float q100,
                         float q200, const std::string& templatePath,
                         const std::string& outputPath)
{
    const std::vector<std::uint8_t> report = BuildRainReport(
        east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100, q200, templatePath);
    ReplaceFileWith(outputPath, report);
}

void ReplaceFileWith(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    const std::size_t slash = path.rfind('/');
    ReplaceFile(slash == std::string::npos ? std::string() : path.substr(0, slash + 1), path, bytes);
}

}  // namespace quorvel
