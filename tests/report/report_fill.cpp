// report_fill TEMPLATE APP_FOLDER/: writes APP_FOLDER/output/report.xls of
// fixed values from TEMPLATE through WriteRainReport, for the checks made
// with other readers.
#include <cstdio>
#include <filesystem>

#include "rain/Error.h"
#include "report/Report.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: report_fill TEMPLATE APP_FOLDER/\n");
        return 2;
    }
    const std::filesystem::path app = argv[2];
    try {
        std::filesystem::create_directories(app / "programs/prototipo");
        std::filesystem::create_directories(app / "output");
        std::filesystem::copy_file(argv[1], app / quorvel::kTemplatePath);
        quorvel::WriteRainReport(2385123.5f, 5100001.5f, 2385250.0f, 5100250.0f, 26.448189f,
                                 30.1f, 40.2f, 50.3f, 60.4f, 70.5f, 80.6f, 90.7f, argv[2], "report");
    } catch (const quorvel::Error& error) {
        std::fprintf(stderr, "%s: %s %s\n", error.what(), error.file().c_str(), error.detail().c_str());
        return 1;
    }
    return 0;
}
