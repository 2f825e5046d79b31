// report_fill TEMPLATE REPORT: writes the report of fixed values from
// TEMPLATE into REPORT through WriteRainReport, in a scratch application
// folder, for the checks made with other readers.
#include <cstdio>
#include <filesystem>
#include <string>

#include "rain/Error.h"
#include "report/Report.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: report_fill TEMPLATE REPORT\n");
        return 2;
    }
    std::string scratch = (fs::temp_directory_path() / "report-fill-XXXXXX").string();
    if (!mkdtemp(scratch.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path app(scratch);
    int status = 0;
    try {
        fs::create_directories(app / "programs/prototipo");
        fs::create_directories(app / "output");
        fs::copy_file(argv[1], app / quorvel::kTemplatePath);
        quorvel::WriteRainReport(2385123.5f, 5100001.5f, 2385250.0f, 5100250.0f, 26.448189f,
                                 30.1f, 40.2f, 50.3f, 60.4f, 70.5f, 80.6f, 90.7f,
                                 app.string() + "/", "report");
        fs::copy_file(app / "output/report.xls", argv[2], fs::copy_options::overwrite_existing);
    } catch (const quorvel::Error& error) {
        std::fprintf(stderr, "%s: %s %s\n", error.what(), error.file().c_str(),
                     error.detail().c_str());
        status = 1;
    }
    fs::remove_all(app);
    return status;
}
