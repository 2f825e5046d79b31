#include "batch/BatchRun.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "batch/Csv.h"
#include "batch/FileNameKey.h"
#include "crs/TypedPointIn.h"
#include "rain/Durations.h"
#include "rain/Error.h"
#include "rain/FileDescriptor.h"
#include "rain/PendingFile.h"
#include "rain/SampleMark.h"
#include "report/Report.h"

namespace quorvel::batch {

namespace {

constexpr std::size_t kFlushSize = std::size_t(1) << 20;
// Commas between North and the error column of a row without values.
constexpr std::string_view kNoValues = ",,,,,,,,,,,,,,,";

std::string Quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

// A descriptor the caller closes.
int OpenForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError(path);
    FileDescriptor file(fd);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        throw Error(ErrorKind::PathAccess, path, {"a folder, not a file", "è una cartella, non un file"});
    return file.release();
}

std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

InputLayout ReadLayout(CsvReader& reader, CsvRecord& header, const std::string& path)
{
    InputLayout layout;
    for (const char sep : {'\t', ';', ','}) {
        if (!reader.Peek(sep, header))
            throw StartError(path + ": empty file; the first line must name the columns id, East and North (or lat and lon)");
        if (LayoutFromHeader(sep, header.fields, layout)) {
            reader.Skip();
            return layout;
        }
    }
    const std::string_view start = reader.Start();
    if (start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF"))
        throw StartError(path + ": UTF-16 text; save it as CSV in UTF-8");
    throw StartError(path + ": the first line must name the columns id, East and North (or lat and lon), "
                            "separated by commas, semicolons or tabs");
}

// Where a results path leads: a link is kept and the file it leads to
// written, created when it does not exist yet, as a shell's ">" does.
std::string FollowLinks(const std::string& path)
{
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code ec;
    for (int hops = 0; fs::is_symlink(target, ec); ++hops) {
        const fs::path next = fs::read_symlink(target, ec);
        if (ec || hops == 40)
            throw SystemError(path, ec ? ec.value() : ELOOP);
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.string();
}

// Results into a file that appears complete or not at all, or straight into
// standard output (or a device or pipe named as the results file).
class ResultsOutput {
public:
    ResultsOutput(const std::string& path, int standardOutput)
    {
        buffer_.reserve(kFlushSize + 4096);
        if (path.empty()) {
            name_ = "standard output";
            fd_ = standardOutput;
            return;
        }
        name_ = path;
        const std::string target = FollowLinks(path);

        struct stat st {};
        const bool exists = ::stat(target.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode))
            throw Error(ErrorKind::PathAccess, path, {"a folder, not a file", "è una cartella, non un file"});
        if (exists && !S_ISREG(st.st_mode)) {
            owned_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
            if (owned_ < 0)
                throw SystemError(path);
            fd_ = owned_;
            return;
        }

        mode_t mode;
        if (exists) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        pending_.emplace(target + ".XXXXXX", path);
        target_ = target;
        fd_ = pending_->fd();
        ::fchmod(fd_, mode);
    }

    ~ResultsOutput()
    {
        if (owned_ >= 0)
            ::close(owned_);
    }
    ResultsOutput(const ResultsOutput&) = delete;
    ResultsOutput& operator=(const ResultsOutput&) = delete;

    std::string& text() { return buffer_; }

    void FlushIfFull()
    {
        if (buffer_.size() >= kFlushSize)
            Flush();
    }

    void Commit()
    {
        Flush();
        if (pending_)
            pending_->MoveTo(target_, name_);
    }

private:
    void Flush()
    {
        const char* data = buffer_.data();
        std::size_t size = buffer_.size();
        while (size > 0) {
            const ssize_t put = ::write(fd_, data, size);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                throw Error(ErrorKind::PathAccess, name_, SystemDetail(errno));
            }
            data += put;
            size -= std::size_t(put);
        }
        buffer_.clear();
    }

    std::string name_;
    std::string target_;
    std::optional<PendingFile> pending_;
    int fd_ = -1;
    int owned_ = -1;  // a device or pipe named as the results file
    std::string buffer_;
};

// The part of a result row from row to q200, or why there is none.
struct CellOutcome {
    bool ok = false;
    std::string_view text;
    std::string_view durations;  // the heights' columns, comma first, when asked for
};

// A cell's text is its columns, then its duration heights; columns is the
// length of the first part, 0 for a failure.
CellOutcome Outcome(std::size_t columns, std::string_view text)
{
    if (columns == 0)
        return {false, text, {}};
    return {true, text.substr(0, columns), text.substr(columns)};
}

// The heights of the law at each duration for each return period.
struct DurationColumns {
    DurationLaw law;
    std::vector<Duration> durations;
};

// Every point of a cell gets the same numbers from ComputePointRain, which
// reads the point only to find its cell; so each cell inside the grids is
// computed and written out once, for its first point, and its text reused
// after that. The texts lie side by side, so a row costs few cache misses.
class CellResults {
public:
    CellResults(const ParameterGrids& grids, const DurationColumns* durations)
        : grids_(grids), durations_(durations), slots_(std::size_t(grids.a2.rowCount()) * std::size_t(grids.a2.columnCount()))
    {
    }

    // Valid until the next call. East and north as exact as they are known.
    CellOutcome For(double east, double north)
    {
        GridCell cell;
        try {
            cell = CellForPoint(east, north);
        } catch (const Error& error) {
            scratch_ = error.what();
            return {false, scratch_, {}};
        }
        if (!grids_.a2.Contains(cell)) {
            scratch_.clear();
            const std::size_t columns = Compute(cell, scratch_);
            return Outcome(columns, scratch_);
        }
        Slot& slot = slots_[std::size_t(cell.row - 1) * std::size_t(grids_.a2.columnCount()) +
                            std::size_t(cell.column - 1)];
        if (slot.size == 0) {
            if (texts_.size() > kMaxTexts) {
                scratch_.clear();
                const std::size_t columns = Compute(cell, scratch_);
                return Outcome(columns, scratch_);
            }
            slot.offset = std::uint32_t(texts_.size());
            slot.columns = std::uint16_t(Compute(cell, texts_));
            slot.size = std::uint16_t(texts_.size() - slot.offset);
        }
        return Outcome(slot.columns, std::string_view(texts_).substr(slot.offset, slot.size));
    }

private:
    // Small, so that the slots of a whole region stay in the processor's cache.
    // Neither a failure nor a cell's columns are ever empty: size 0 is a cell
    // not computed yet. 14 numbers of at most 49 characters and their commas,
    // and at most 64 x 7 heights as long, fit in 16 bits.
    struct Slot {
        std::uint32_t offset = 0;
        std::uint16_t size = 0;
        std::uint16_t columns = 0;  // as Outcome takes it
    };
    static_assert(sizeof(Slot) == 8);
    // Beyond this the cells are computed afresh for each point.
    static constexpr std::size_t kMaxTexts = std::numeric_limits<std::uint32_t>::max() - 4096;

    static std::string CellText(GridCell cell)
    {
        std::string text = "row ";
        AppendInteger(text, cell.row);
        text += ", column ";
        AppendInteger(text, cell.column);
        return text;
    }

    static std::string FailureText(const Error& error, GridCell cell)
    {
        switch (error.kind()) {
        case ErrorKind::SubscriptOutOfRange:
            return "outside the parameter grids (" + CellText(cell) + ")";
        case ErrorKind::NoValidData:
            return "no valid data in the cell (" + CellText(cell) + ")";
        case ErrorKind::NoValidRainfall:
            return "the parameters of the cell give no valid rainfall (" + error.detail() + ")";
        default:
            break;
        }
        return error.what();
    }

    // Appends the values or the failure; the length of the columns' part
    // appended, 0 for a failure.
    std::size_t Compute(GridCell cell, std::string& text) const
    {
        const std::size_t start = text.size();
        PointRain rain;
        try {
            rain = ComputeCellRain(cell, grids_);
        } catch (const Error& error) {
            text += FailureText(error, cell);
            return 0;
        }
        AppendInteger(text, rain.cell.row);
        text += ',';
        AppendInteger(text, rain.cell.column);
        for (const float value : {rain.centre.x, rain.centre.y, rain.a2, rain.a1, rain.cv}) {
            text += ',';
            AppendSingle(text, value);
        }
        for (const float value : rain.quantiles.InOrder()) {
            text += ',';
            AppendSingle(text, value);
        }
        const std::size_t columns = text.size() - start;
        if (durations_)
            for (const Duration& duration : durations_->durations) {
                // The heights are DepthValue's, with the duration's power taken once.
                const double factor = DurationFactor(durations_->law, rain.a2, duration.hours);
                for (const float height : rain.quantiles.InOrder()) {
                    text += ',';
                    AppendSingle(text, float(double(height) * factor));
                }
            }
        return columns;
    }

    const ParameterGrids& grids_;
    const DurationColumns* durations_;
    std::vector<Slot> slots_;
    std::string texts_;
    std::string scratch_;
};

// path under the application folder, unless it is absolute.
std::string InFolder(const std::string& folder, const std::string& path)
{
    if (folder.empty() || path.starts_with('/'))
        return path;
    return folder.ends_with('/') ? folder + path : folder + '/' + path;
}

// The files a run reads, known by device and inode, so that no output
// replaces one of them by any name, link or hard link: written over, a grid
// or the template would break every later run.
class RunInputs {
public:
    RunInputs(const BatchOptions& options, int pointsFd, const std::string& pointsName)
    {
        struct stat info {};
        if (::fstat(pointsFd, &info) == 0 && S_ISREG(info.st_mode))
            files_.push_back({info.st_dev, info.st_ino, "the points file " + pointsName});
        for (const char* grid : {kA2Raster, kA2Header, kA1Raster, kA1Header, kCvRaster, kCvHeader,
                                 options.templatePath.c_str()}) {
            const std::string path = InFolder(options.folder, grid);
            if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
                files_.push_back({info.st_dev, info.st_ino, path});
        }
    }

    // What the run reads that path leads to, if anything.
    const std::string* At(const std::string& path) const
    {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            return nullptr;
        for (const Input& input : files_)
            if (input.device == info.st_dev && input.inode == info.st_ino)
                return &input.name;
        return nullptr;
    }

private:
    struct Input {
        dev_t device;
        ino_t inode;
        std::string name;
    };
    std::vector<Input> files_;
};

// One file per successful row, named by its id, in a folder of its own:
// the report workbooks, or the PDF sheets.
class PointFiles {
public:
    using Writer = SheetWriter;

    PointFiles(std::string dir, const char* what, const char* extension, Writer writer, const RunInputs& inputs,
               const std::string& resultsPath)
        : dir_(std::move(dir)), what_(what), extension_(extension), writer_(std::move(writer)), inputs_(inputs)
    {
        if (dir_.empty())
            return;
        if (!writer_)
            throw std::invalid_argument(std::string(what) + "s asked for without a writer");
        std::error_code ec;
        std::filesystem::create_directories(dir_, ec);
        if (!std::filesystem::is_directory(dir_))
            throw Error(ErrorKind::PathAccess, dir_,
                        ec ? SystemDetail(ec.value()) : ErrorDetail{"not a folder", "non è una cartella"});
        if (!dir_.ends_with('/'))
            dir_ += '/';
        // Results written into the folder under a file's name would be lost
        // to that file, or it to them, when the run ends.
        if (!resultsPath.empty()) {
            const std::filesystem::path results = FollowLinks(resultsPath);
            const std::filesystem::path parent = results.has_parent_path() ? results.parent_path() : ".";
            if (std::filesystem::equivalent(parent, dir_, ec))
                resultsKey_ = FileNameKey(results.filename().string());
        }
    }

    bool on() const { return !dir_.empty(); }

    // Empty when the file is written, otherwise why it is not.
    std::string Write(std::string_view id, std::uint64_t line, GaussBoagaPoint point, const PointRain& rain,
                      bool nearCellEdge)
    {
        const std::string name(id), failed = what_ + " not written: ";
        if (name.empty())
            return failed + "no id to name it";
        const bool control = std::any_of(name.begin(), name.end(),
                                         [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; });
        if (control || !IsSafeOutputName(name))
            return failed + "the id " + Quoted(name) + " cannot name a file in the " + what_ + "s folder";
        if (!resultsKey_.empty() && FileNameKey(name + extension_) == resultsKey_)
            return failed + "it would replace the results file";
        // Office drives do not tell "A" from "a": such ids would share one file.
        const auto [earlier, fresh] = used_.try_emplace(FileNameKey(name), Earlier{line, name});
        if (!fresh) {
            std::string text = failed + "the id is already used on line ";
            if (earlier->second.id != name)
                text = failed + "the id names the same file as " + Quoted(earlier->second.id) + " on line ";
            AppendInteger(text, std::int64_t(earlier->second.line));
            return text;
        }
        const std::string path = dir_ + name + extension_;
        if (const std::string* input = inputs_.At(path))
            return failed + "it would replace " + *input + ", which the run reads";
        try {
            writer_(path, name, point, rain, nearCellEdge);
        } catch (const Error& error) {
            return failed + error.what();
        }
        return {};
    }

private:
    std::string dir_;
    std::string what_;
    std::string extension_;
    Writer writer_;
    const RunInputs& inputs_;
    struct Earlier {
        std::uint64_t line;
        std::string id;
    };
    std::unordered_map<std::string, Earlier> used_;  // by FileNameKey
    std::string resultsKey_;  // of the results file, when it lies in the folder
};

PointFiles ReportFiles(const BatchOptions& options, const ReportWriter& writer, const RunInputs& inputs)
{
    std::string templatePath = InFolder(options.folder, options.templatePath);
    // Found unusable now, once, rather than on every row.
    if (!options.reportsDir.empty() && writer)
        CheckReportTemplate(templatePath);
    return PointFiles(options.reportsDir, "report", kOutputExtension,
                      writer ? PointFiles::Writer([writer, templatePath](const std::string& path, const std::string&,
                                                                         GaussBoagaPoint point, const PointRain& rain,
                                                                         bool) {
                          writer(templatePath, path, point, rain);
                      })
                             : PointFiles::Writer(),
                      inputs, options.resultsPath);
}

// The law and the durations --durate asks for, each within the law's range.
std::optional<DurationColumns> DurationsOf(const BatchOptions& options)
{
    if (options.durations.empty() && options.stormsDir.empty())
        return std::nullopt;
    const std::optional<DurationLaw> law = ReadDurationLaw(AppFolderOf(options));
    const char* option = options.durations.empty() ? "--ietogramma" : "--durate";
    if (!law)
        throw StartError(std::string(option) + " needs the depth-duration law " + kDurationLawFile +
                         ", which the application folder lacks");
    DurationColumns columns{*law, {}};
    try {
        if (!options.stormsDir.empty())
            DesignStorm(*law, 30, 0.3f, options.storm, AppFolderOf(options) + kDurationLawFile);
        if (options.durations.empty())
            return std::nullopt;
        columns.durations = ParseDurations(options.durations);
        for (const Duration& duration : columns.durations)
            CheckDuration(*law, duration.hours, AppFolderOf(options) + kDurationLawFile);
    } catch (const Error& error) {
        throw StartError(std::string(option) + ": " + error.detail());
    }
    return columns;
}

// --ietogramma: one storm file per point, written as the reports are.
PointFiles StormFiles(const BatchOptions& options, const RunInputs& inputs)
{
    if (options.stormsDir.empty())
        return PointFiles({}, "hyetograph", "", {}, inputs, options.resultsPath);
    const DurationLaw law = *ReadDurationLaw(AppFolderOf(options));
    const auto at = std::find(kReturnPeriods.begin(), kReturnPeriods.end(), options.stormReturnPeriod);
    const std::size_t period = std::size_t(at - kReturnPeriods.begin());
    return PointFiles(options.stormsDir, "hyetograph", StormExtension(options.stormFormat),
                      [law, period, &options](const std::string& path, const std::string& name, GaussBoagaPoint,
                                              const PointRain& rain, bool) {
                          const float h1 = rain.quantiles.InOrder()[period];
                          const Hyetograph storm = DesignStorm(law, h1, rain.a2, options.storm);
                          std::string station = name;
                          std::replace_if(station.begin(), station.end(), [](char c) { return c == ' ' || c == '\t'; }, '_');
                          const std::string text = StormText(storm, options.stormFormat, station, options.stormStart);
                          ReplaceFileWith(path, std::vector<std::uint8_t>(text.begin(), text.end()));
                      },
                      inputs, options.resultsPath);
}

// What is wrong with one coordinate of a row, in the words of its system.
void AppendCoordinateProblem(std::string& out, const char* column, NumberStatus status, std::string_view text,
                             ReferenceSystem system)
{
    if (!out.empty())
        out += "; ";
    out += column;
    switch (status) {
    case NumberStatus::Ok: break;
    case NumberStatus::Empty: out += " is missing"; break;
    case NumberStatus::NotANumber:
        out += IsGeographic(system) ? " is not an angle: " : " is not a number: ";
        out += Quoted(text);
        break;
    case NumberStatus::OutOfRange:
        out += !IsGeographic(system) ? " is beyond single precision: "
               : column == std::string_view("lat") ? " is beyond 90 degrees: "
                                                   : " is beyond 180 degrees: ";
        out += Quoted(text);
        break;
    }
}

ReferenceSystem InputSystem(const BatchOptions& options, const InputLayout& layout)
{
    if (!options.system)
        return layout.latLon ? ReferenceSystem::Wgs84 : ReferenceSystem::GaussBoagaEast;
    if (layout.latLon && *options.system != ReferenceSystem::Wgs84)
        throw StartError("the columns lat and lon hold WGS84 coordinates, not EPSG:" +
                         std::to_string(EpsgCode(*options.system)));
    return *options.system;
}

// Reads the row's point in system and converts it to Gauss-Boaga; the
// values as read go into the East and North columns.
bool ReadConvertedPoint(ReferenceSystem system, std::string_view eastText, std::string_view northText,
                        std::string& out, std::string& failure, SystemPoint& gaussBoaga)
{
    const bool geographic = IsGeographic(system);
    SystemPoint typed;
    const NumberStatus east = ReadSystemCoordinate(system, true, eastText, ".", typed.x);
    const NumberStatus north = ReadSystemCoordinate(system, false, northText, ".", typed.y);
    const auto append = [&out](double value) {
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        out.append(text, result.ptr);
    };
    out += ',';
    if (east == NumberStatus::Ok)
        append(typed.x);
    out += ',';
    if (north == NumberStatus::Ok)
        append(typed.y);
    if (east != NumberStatus::Ok)
        AppendCoordinateProblem(failure, geographic ? "lon" : "East", east, eastText, system);
    if (north != NumberStatus::Ok)
        AppendCoordinateProblem(failure, geographic ? "lat" : "North", north, northText, system);
    if (!failure.empty())
        return false;
    try {
        gaussBoaga = ToGaussBoaga(system, typed);
    } catch (const Error& error) {
        failure = error.detail();
        return false;
    }
    return true;
}

}  // namespace

std::string AppFolderOf(const BatchOptions& options)
{
    return InFolder(options.folder, "");
}

void WriteReportWorkbook(const std::string& templatePath, const std::string& outputPath,
                         GaussBoagaPoint point, const PointRain& rain)
{
    const RainQuantiles& q = rain.quantiles;
    WriteRainReportFile(point.x, point.y, rain.centre.x, rain.centre.y, rain.a2, q.q2, q.q5, q.q10, q.q20,
                        q.q50, q.q100, q.q200, templatePath, outputPath);
}

bool LayoutFromHeader(char sep, const std::vector<std::string_view>& fields, InputLayout& layout)
{
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t id = kNone, east = kNone, north = kNone, lon = kNone, lat = kNone;
    const auto take = [](std::size_t& column, std::size_t i, const char* name) {
        if (column != kNone)
            throw StartError(std::string("the column ") + name + " is named twice in the first line");
        column = i;
    };
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string name = AsciiLower(fields[i]);
        if (name == "id")
            take(id, i, "id");
        else if (name == "east" || name == "est")
            take(east, i, "East");
        else if (name == "north" || name == "nord")
            take(north, i, "North");
        else if (name == "lon" || name == "longitude")
            take(lon, i, "lon");
        else if (name == "lat" || name == "latitude")
            take(lat, i, "lat");
    }
    // East and North first: a file that has them may carry lat and lon besides.
    const bool latLon = (east == kNone || north == kNone) && lon != kNone && lat != kNone;
    if (latLon) {
        east = lon;
        north = lat;
    }
    if (id == kNone || east == kNone || north == kNone)
        return false;
    layout = {sep, sep != ',', id, east, north, latLon};
    return true;
}

BatchTotals RunBatch(const BatchOptions& options, const BatchHooks& hooks)
{
    const bool standardInput = options.pointsPath == "-";
    const FileDescriptor input(standardInput ? -1 : OpenForReading(options.pointsPath));
    const std::string inputName = standardInput ? hooks.standardInputName : options.pointsPath;
    const int pointsFd = standardInput ? hooks.standardInput : input.get();
    // Before anything is read: results written over an input would lose it.
    const RunInputs inputs(options, pointsFd, inputName);
    if (const std::string* input = options.resultsPath.empty() ? nullptr : inputs.At(options.resultsPath))
        throw StartError("the results file " + options.resultsPath + " would replace " + *input +
                         ", which the run reads");
    CsvReader reader(pointsFd, inputName);
    CsvRecord record;
    const InputLayout layout = ReadLayout(reader, record, inputName);
    const ReferenceSystem system = InputSystem(options, layout);
    const bool converted = system != ReferenceSystem::GaussBoagaEast;

    std::optional<ParameterGrids> loaded;
    if (!hooks.grids)
        loaded = ParameterGrids::Load(AppFolderOf(options));
    const ParameterGrids& grids = hooks.grids ? *hooks.grids : *loaded;
    const std::optional<DurationColumns> durations = DurationsOf(options);
    const bool sample = hooks.grids ? hooks.gridsAreSample : IsSyntheticSample(AppFolderOf(options));
    PointFiles reports = ReportFiles(options, hooks.writeReport, inputs);
    PointFiles sheets(options.sheetsDir, "sheet", ".pdf", hooks.writeSheet, inputs, options.resultsPath);
    PointFiles storms = StormFiles(options, inputs);
    ResultsOutput results(options.resultsPath, hooks.standardOutput);
    CellResults cells(grids, durations ? &*durations : nullptr);
    ProgressMeter meter(hooks.progress, hooks.now);

    std::string& out = results.text();
    out.append(kResultsHeader);
    if (converted)
        out.append(kConvertedHeader);
    out.append(kDataHeader);
    std::string noHeights;
    if (durations)
        for (const Duration& duration : durations->durations)
            for (const int period : kReturnPeriods) {
                out += ",h_" + duration.label + "_T";
                AppendInteger(out, period);
                noHeights += ',';
            }
    out += '\n';

    BatchTotals totals;
    std::string failure;
    while (reader.Next(layout.separator, record)) {
        ++totals.rows;
        const auto field = [&record](std::size_t i) {
            return i < record.fields.size() ? record.fields[i] : std::string_view();
        };
        const std::string_view id = field(layout.id);
        GaussBoagaPoint point;
        SystemPoint gaussBoaga;
        AppendField(out, id);
        failure.clear();
        if (converted) {
            if (ReadConvertedPoint(system, field(layout.east), field(layout.north), out, failure, gaussBoaga))
                point = {float(gaussBoaga.x), float(gaussBoaga.y)};
        } else {
            const NumberStatus east = ParseSingle(field(layout.east), layout.commaDecimal, point.x);
            const NumberStatus north = ParseSingle(field(layout.north), layout.commaDecimal, point.y);
            out += ',';
            if (east == NumberStatus::Ok)
                AppendSingle(out, point.x);
            out += ',';
            if (north == NumberStatus::Ok)
                AppendSingle(out, point.y);
            if (east != NumberStatus::Ok)
                AppendCoordinateProblem(failure, "East", east, field(layout.east), ReferenceSystem::GaussBoagaEast);
            if (north != NumberStatus::Ok)
                AppendCoordinateProblem(failure, "North", north, field(layout.north), ReferenceSystem::GaussBoagaEast);
        }
        const bool pointRead = failure.empty();
        std::string_view cellHeights;
        if (failure.empty()) {
            // A converted point's cell comes from all its digits; the point kept is single.
            const double east = converted ? gaussBoaga.x : point.x, north = converted ? gaussBoaga.y : point.y;
            const CellOutcome cell = cells.For(east, north);
            cellHeights = cell.durations;
            if (!cell.ok)
                failure = cell.text;
            else if (reports.on() || sheets.on() || storms.on()) {
                const PointRain rain = ComputeCellRain(CellForPoint(east, north), grids);
                const bool nearEdge = converted && NearCellEdge(gaussBoaga);
                failure = reports.on() ? reports.Write(id, record.line, point, rain, nearEdge) : std::string();
                if (failure.empty() && sheets.on())
                    failure = sheets.Write(id, record.line, point, rain, nearEdge);
                if (failure.empty() && storms.on())
                    failure = storms.Write(id, record.line, point, rain, nearEdge);
            }
            if (failure.empty()) {
                out += ',';
                out += cell.text;
                out += ',';
            }
        }
        if (!failure.empty()) {
            ++totals.failed;
            out += kNoValues;
            AppendField(out, failure);
        }
        if (converted && pointRead) {
            out += ',';
            AppendSingle(out, point.x);
            out += ',';
            AppendSingle(out, point.y);
            out += NearCellEdge(gaussBoaga) ? ",yes" : ",no";
        } else if (converted) {
            out += ",,,";
        }
        out += ',';
        if (sample && failure.empty())
            out += kSampleData;
        if (durations)
            out += failure.empty() ? cellHeights : std::string_view(noHeights);
        out += '\n';
        results.FlushIfFull();
        if (reports.on() || sheets.on() || storms.on() || totals.rows % 64 == 0)
            meter.Update(totals.rows, totals.failed);
    }
    results.Commit();
    meter.Finish(totals.rows, totals.failed);
    return totals;
}

ProgressMeter::ProgressMeter(std::function<void(std::string_view)> sink, std::function<Clock::time_point()> now)
    : sink_(std::move(sink)), now_(std::move(now))
{
    if (sink_)
        last_ = now_();
}

void ProgressMeter::Update(std::uint64_t rows, std::uint64_t failed)
{
    if (!sink_)
        return;
    const Clock::time_point now = now_();
    if (now - last_ < std::chrono::seconds(1))
        return;
    last_ = now;
    Say("", rows, failed);
}

void ProgressMeter::Finish(std::uint64_t rows, std::uint64_t failed)
{
    if (spoken_)
        Say(", done", rows, failed);
}

void ProgressMeter::Say(std::string_view what, std::uint64_t rows, std::uint64_t failed)
{
    std::string line = kProgramName;
    line += ": ";
    AppendInteger(line, std::int64_t(rows));
    line += " rows, ";
    AppendInteger(line, std::int64_t(failed));
    line += " failed";
    line += what;
    sink_(line);
    spoken_ = true;
}

}  // namespace quorvel::batch
