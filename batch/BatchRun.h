#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "crs/Crs.h"
#include "rain/PointRain.h"
#include "rain/Storm.h"
#include "report/Report.h"

namespace quorvel::batch {

inline constexpr const char* kProgramName = "quorvel-batch";

// The first line of the results.
inline constexpr std::string_view kResultsHeader =
    "id,East,North,row,column,centreEast,centreNorth,a2,a1,cv,"
    "q2,q5,q10,q20,q50,q100,q200,error";
// Added at the end of the header and of each row when the input is in
// another reference system: the Gauss-Boaga point used, and "yes" when it lies
// so near its cell's edge that the conversion's accuracy cannot tell the cell.
inline constexpr std::string_view kConvertedHeader = ",eastGB,northGB,nearCellEdge";
// Last of all: "esempio" on each row whose values come from the sample
// region's invented grids, so that they cannot pass for design values.
inline constexpr std::string_view kDataHeader = ",dati";
inline constexpr std::string_view kSampleData = "esempio";

// A run that cannot be done at all for a reason of its own making (bad
// arguments, an input without the columns it needs). Failures of files and
// grids arrive as quorvel::Error.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct BatchOptions {
    std::string pointsPath;   // "-": standard input
    std::string resultsPath;  // empty: standard output
    std::string reportsDir;   // empty: no reports
    std::string sheetsDir;    // empty: no PDF sheets
    // The application folder, holding grd/ and the template; empty: the
    // working directory. The three paths above are not relative to it.
    std::string folder;
    // Relative to the application folder, as the grids are.
    std::string templatePath = kTemplatePath;
    // The system of the input's two coordinate columns (--crs); when unset,
    // WGS84 for columns named lat and lon, Gauss-Boaga otherwise.
    std::optional<ReferenceSystem> system;
    // --durate: the durations whose heights h_<d>_T<T> follow every other
    // column, as the user listed them; empty: none. Needs the folder's law.
    std::string durations;
    // --ietogramma DIR: the design hyetograph of each point as DIR/<id> with
    // the format's extension; empty: none. The storm's settings as given.
    std::string stormsDir;
    StormSpec storm;
    int stormReturnPeriod = 100;
    StormFormat stormFormat = StormFormat::Csv;
    StormStart stormStart;
};

// Writes the report workbook of one point from the template to outputPath,
// whole or not at all. Throws Error.
using ReportWriter = std::function<void(const std::string& templatePath, const std::string& outputPath,
                                        GaussBoagaPoint point, const PointRain& rain)>;

// The report Quorvel writes for one point, made from the template at
// templatePath and written to outputPath. A ReportWriter.
void WriteReportWorkbook(const std::string& templatePath, const std::string& outputPath,
                         GaussBoagaPoint point, const PointRain& rain);

// The options' application folder as the prefix of its files: empty for the
// working directory, otherwise ending with "/".
std::string AppFolderOf(const BatchOptions& options);

// Writes the PDF sheet of one point, named name, to outputPath, whole or not
// at all; nearCellEdge for a converted point within the conversion's accuracy
// of its cell's edge, which the sheet notes. Throws Error.
using SheetWriter = std::function<void(const std::string& outputPath, const std::string& name,
                                       GaussBoagaPoint point, const PointRain& rain, bool nearCellEdge)>;

struct BatchHooks {
    ReportWriter writeReport;  // needed only with reports
    SheetWriter writeSheet;    // needed only with sheets
    // Receives progress lines meant for standard error; may be empty.
    std::function<void(std::string_view line)> progress;
    std::function<std::chrono::steady_clock::time_point()> now = [] {
        return std::chrono::steady_clock::now();
    };
    // Where points come from when the points file is "-", and its name in messages.
    int standardInput = 0;
    std::string standardInputName = "standard input";
    // Where results go when no results file is named.
    int standardOutput = 1;
    // Grids a long-running caller keeps in memory; null: read from the
    // application folder for this run.
    const ParameterGrids* grids = nullptr;
    // Whether those grids are the sample region's; unused without them.
    bool gridsAreSample = false;
};

struct BatchTotals {
    std::uint64_t rows = 0;
    std::uint64_t failed = 0;
};

// How the input is laid out, as its header line tells.
struct InputLayout {
    char separator = ',';
    bool commaDecimal = false;  // true unless the comma separates fields
    std::size_t id = 0, east = 0, north = 0;  // east: the longitude, north: the latitude
    bool latLon = false;                      // the columns are named lat and lon
};

// The layout for a header record split at sep, if it names the columns id,
// East (or Est) and North (or Nord), or else lon (longitude) and lat
// (latitude), each once, in any case and any order.
// Throws StartError when a column is named twice.
bool LayoutFromHeader(char sep, const std::vector<std::string_view>& fields, InputLayout& layout);

// Computes every point of the input in order, the three grids loaded once,
// and writes one result row per input row; a row that fails carries its error
// and the run goes on. Results go to a file only when the whole run succeeds
// (written beside it, then renamed over it). Throws StartError or Error when
// the run cannot be done; no results file is left behind then.
BatchTotals RunBatch(const BatchOptions& options, const BatchHooks& hooks);

// Progress lines for a long run: none during its first second, then at most
// one a second, and a closing line only when there were others.
class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;
    ProgressMeter(std::function<void(std::string_view)> sink, std::function<Clock::time_point()> now);

    void Update(std::uint64_t rows, std::uint64_t failed);
    void Finish(std::uint64_t rows, std::uint64_t failed);

private:
    void Say(std::string_view what, std::uint64_t rows, std::uint64_t failed);

    std::function<void(std::string_view)> sink_;
    std::function<Clock::time_point()> now_;
    Clock::time_point last_;
    bool spoken_ = false;
};

}  // namespace quorvel::batch
