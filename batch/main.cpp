// quorvel-batch: the design rainfall of many points, from a CSV file.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include <unistd.h>

#include <QGuiApplication>

#include "batch/BatchRun.h"
#include "batch/Check.h"
#include "batch/CommandLine.h"
#include "geotiff/GridTiff.h"
#include "rain/PendingFile.h"
#include "rain/SampleMark.h"
#include "report/Register.h"
#include "sheet/RainSheet.h"

namespace {

void SayOnStandardError(std::string_view text)
{
    std::fprintf(stderr, "%s: %.*s\n", quorvel::batch::kProgramName, int(text.size()), text.data());
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace quorvel::batch;
    CommandLine line;
    try {
        line = ParseCommandLine(argc, argv);
    } catch (const StartError& error) {
        SayOnStandardError(error.what());
        SayOnStandardError("see quorvel-batch --help");
        return 2;
    }
    if (line.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (line.check)
        return PrintCheck(line.checkFolder, CheckAppFolder(line.checkFolder), stdout) ? 0 : 1;

    if (quorvel::IsSyntheticSample(AppFolderOf(line.options)))
        SayOnStandardError(std::string(quorvel::kSampleWarning) + " (" + quorvel::kSampleWarningEnglish + ")");
    if (!line.gridsDir.empty()) {
        quorvel::RemovePendingFilesOnSignal();
        try {
            const std::string folder = AppFolderOf(line.options);
            quorvel::FileDigests digests;
            const auto maps = quorvel::GridMaps::Compute(quorvel::ParameterGrids::Load(folder));
            quorvel::WriteGridTiffs(maps, quorvel::GridTiffMetadataOf(folder, digests), line.gridsDir);
            return 0;
        } catch (const std::exception& error) {
            SayOnStandardError(error.what());
            return 2;
        }
    }

    BatchHooks hooks;
    hooks.writeReport = WriteReportWorkbook;
    std::unique_ptr<QGuiApplication> painting;
    std::unique_ptr<quorvel::PointSheets> sheets;
    if (!line.options.sheetsDir.empty()) {
        painting = quorvel::StartOffscreenPainting(argc, argv);
        sheets = std::make_unique<quorvel::PointSheets>(AppFolderOf(line.options));
        hooks.writeSheet = [&sheets](const std::string& path, const std::string& name, quorvel::GaussBoagaPoint point,
                                     const quorvel::PointRain& rain, bool nearCellEdge) {
            sheets->Write(name, point, rain, path, nearCellEdge);
        };
    }
    hooks.progress = [](std::string_view text) { std::fprintf(stderr, "%.*s\n", int(text.size()), text.data()); };
    hooks.standardInput = STDIN_FILENO;
    hooks.standardOutput = STDOUT_FILENO;
    // An interrupted run leaves no half-written results file or report behind.
    quorvel::RemovePendingFilesOnSignal();
    try {
        const BatchTotals totals = RunBatch(line.options, hooks);
        return totals.failed == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        SayOnStandardError(error.what());
        return 2;
    }
}
