// libFuzzer target: any bytes as a report template. The reader must answer
// with a report or Error(BadFileFormat), never crash, leak or hang.
#include <glib.h>

#include <cstdint>
#include <cstdlib>

#include "rain/Error.h"
#include "report/Workbook.h"

// libgsf warns on stderr about every malformed container; that only slows the run.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    return 0;
}

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
