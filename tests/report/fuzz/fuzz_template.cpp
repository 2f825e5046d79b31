// libFuzzer target: any bytes as a report template, through the whole build
// of the report file. It must answer with the report's bytes or
// Error(BadFileFormat), never crash, leak or hang.
#include <cstdint>
#include <cstdlib>

#include "rain/Error.h"
#include "report/Workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    static const auto cells = quorvel::ReportCells(2400000, 5100000, 2400250, 5100250, 0.3f, 30,
                                                   40, 50, 60, 70, 80, 90);
    try {
        quorvel::BuildReportFile({data, size}, cells, "fuzz.xls");
    } catch (const quorvel::Error& error) {
        if (error.kind() != quorvel::ErrorKind::BadFileFormat) {
            std::abort();
        }
    }
    return 0;
}
