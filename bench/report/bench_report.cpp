// WriteRainReport on the sample template (target: at most 2 ms median), and
// beside it headless LibreOffice converting the same template, for scale;
// then the report built from templates of 1 MiB made to load one part of the
// writer each (target: at most 100 ms each, refused or made).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BiffReader.h"
#include "LoadTemplates.h"
#include "rain/Error.h"
#include "report/Report.h"
#include "report/Workbook.h"

namespace fs = std::filesystem;

namespace {

fs::path MakeFolder(const char* prefix)
{
    std::string pattern = (fs::temp_directory_path() / prefix).string() + "XXXXXX";
    return mkdtemp(pattern.data());
}

const fs::path& AppFolder()
{
    static const fs::path app = [] {
        fs::path folder = MakeFolder("bench-report-");
        fs::create_directories(folder / "programs/prototipo");
        fs::create_directory(folder / "output");
        fs::copy_file(QUORVEL_SAMPLE_TEMPLATE, folder / quorvel::kTemplatePath);
        return folder;
    }();
    return app;
}

void Write(const std::string& app)
{
    quorvel::WriteRainReport(2400000, 5100000, 2400250, 5100250, 0.35f, 31.5f, 42.25f, 49.125f,
                             56.0f, 65.5f, 72.75f, 79.875f, app, "Piogge");
}

// The report written must hold the point in C6, and B17 (= B13 * 1^a2) its
// computed result, before its writing is timed.
bool ReportIsRight(const std::string& app)
{
    using namespace quorvel::test;
    const Bytes stream = WorkbookStream(ReadFileBytes(app + "output/Piogge.xls"));
    if (!OffsetProblems(stream).empty()) {
        return false;
    }
    bool point = false, formula = false;
    for (const BiffRecord& r : ReadBiff(stream)) {
        if (r.sheet == 0 && r.type == 0x0203 && Get16(r.data, 0) == 5 && Get16(r.data, 2) == 2) {
            point = GetDouble(r.data, 6) == 2400000.0;
        }
        if (r.sheet == 0 && r.type == 0x0006 && Get16(r.data, 0) == 16 && Get16(r.data, 2) == 1) {
            formula = GetDouble(r.data, 6) == 31.5;
        }
    }
    return point && formula;
}

void BM_WriteRainReport(benchmark::State& state)
{
    const std::string app = AppFolder().string() + "/";
    Write(app);
    if (!ReportIsRight(app)) {
        state.SkipWithError("the report does not hold the point");
        return;
    }
    for (auto _ : state) {
        Write(app);
    }
}
BENCHMARK(BM_WriteRainReport)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

// The same report built in memory: the writer's own work, without the disk
// (temporary file, fsync, rename).
void BM_BuildReportInMemory(benchmark::State& state)
{
    const quorvel::test::Bytes templateFile = quorvel::test::ReadFileBytes(QUORVEL_SAMPLE_TEMPLATE);
    const auto cells = quorvel::ReportCells(2400000, 5100000, 2400250, 5100250, 0.35f, 31.5f,
                                            42.25f, 49.125f, 56.0f, 65.5f, 72.75f, 79.875f);
    if (quorvel::test::OffsetProblems(quorvel::test::WorkbookStream(
            quorvel::BuildReportFile(templateFile, cells, "bench"))) != "") {
        state.SkipWithError("the report is inconsistent");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvel::BuildReportFile(templateFile, cells, "bench"));
    }
}
BENCHMARK(BM_BuildReportInMemory)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

// A hostile template of 1 MiB: it must be refused as a bad file or give a
// report whose C6 holds the point, before its build is timed.
void BM_HostileTemplate(benchmark::State& state, const quorvel::test::HostileTemplate& hostile)
{
    const auto cells = quorvel::ReportCells(2400000, 5100000, 2400250, 5100250, 0.35f, 31.5f,
                                            42.25f, 49.125f, 56.0f, 65.5f, 72.75f, 79.875f);
    try {
        using namespace quorvel::test;
        const Bytes stream = WorkbookStream(quorvel::BuildReportFile(hostile.file, cells, "bench"));
        bool right = false;
        for (const BiffRecord& r : ReadBiff(stream)) {
            right = right || (r.sheet == 0 && r.type == 0x0203 && Get16(r.data, 0) == 5 &&
                              Get16(r.data, 2) == 2 && GetDouble(r.data, 6) == 2400000.0);
        }
        if (!right) {
            state.SkipWithError("the report does not hold the point");
            return;
        }
    } catch (const quorvel::Error& error) {
        if (error.kind() != quorvel::ErrorKind::BadFileFormat) {
            state.SkipWithError(error.what());
            return;
        }
    }
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(quorvel::BuildReportFile(hostile.file, cells, "bench"));
        } catch (const quorvel::Error&) {
        }
    }
}

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median" && run.run_name.function_name == "BM_WriteRainReport") {
                medianMs = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double medianMs = 0;
};

// Median wall time of converting the template with headless LibreOffice; its
// first start, which builds the profile, is not counted.
double SofficeMs(int runs)
{
    const fs::path work = MakeFolder("bench-soffice-");
    const std::string command = "soffice -env:UserInstallation=file://" + work.string() +
                                "/profile --headless --convert-to xls --outdir " + work.string() +
                                "/out " + (AppFolder() / quorvel::kTemplatePath).string() +
                                " >/dev/null 2>&1";
    std::vector<double> times;
    for (int i = 0; i <= runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            fs::remove_all(work);
            return 0;
        }
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        if (i > 0) {
            times.push_back(took.count());
        }
    }
    fs::remove_all(work);
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<quorvel::test::HostileTemplate> hostile = quorvel::test::HostileTemplates(1 << 20);
    for (const auto& each : hostile) {
        benchmark::RegisterBenchmark(("BM_HostileTemplate/" + each.name).c_str(), BM_HostileTemplate, each)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double soffice = SofficeMs(3);
    if (reporter.medianMs > 0 && soffice > 0) {
        std::printf("WriteRainReport median %.3f ms; soffice --headless --convert-to xls median "
                    "%.0f ms; soffice takes %.0f times as long\n",
                    reporter.medianMs, soffice, soffice / reporter.medianMs);
    } else {
        std::printf("soffice could not convert the template\n");
    }
    fs::remove_all(AppFolder());
    return 0;
}
