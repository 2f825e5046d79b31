#include "rain/Grid.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "rain/Error.h"
#include "rain/FileDescriptor.h"

namespace quorvel {

namespace {

static_assert(std::endian::native == std::endian::little,
              "grid rasters are little-endian and read as they lie");

// A regular file open for reading; closed on every path out, so no handle
// outlives a failed read.
class File {
public:
    explicit File(const std::string& path) : path_(path), fd_(OpenRegularFile(path)) {}

    std::uint64_t Size() const
    {
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0)
            throw SystemError(path_);
        return std::uint64_t(st.st_size);
    }

    // Reads exactly size bytes at offset; a short read is the end of the file.
    void ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const
    {
        auto* out = static_cast<char*>(buffer);
        while (size > 0) {
            const ssize_t got = ::pread(fd_.get(), out, size, off_t(offset));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw SystemError(path_);
            }
            if (got == 0)
                throw Error(ErrorKind::InputPastEndOfFile, path_);
            out += got;
            size -= std::size_t(got);
            offset += std::uint64_t(got);
        }
    }

    // The whole file when it holds at most limit bytes; otherwise its first
    // limit + 1 bytes, whatever size the file claims.
    std::string ReadUpTo(std::size_t limit) const
    {
        std::string text;
        char buffer[4096];
        while (text.size() <= limit) {
            const ssize_t got = ::read(fd_.get(), buffer, std::min(sizeof buffer, limit + 1 - text.size()));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw SystemError(path_);
            }
            if (got == 0)
                break;
            text.append(buffer, std::size_t(got));
        }
        return text;
    }

private:
    std::string path_;
    FileDescriptor fd_;
};

// Splits off the next line; CR LF, LF or CR alone end it. Empty when the text
// is used up, since a line must hold something or be ended to be there.
std::optional<std::string_view> NextLine(std::string_view& text)
{
    if (text.empty())
        return std::nullopt;
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        const std::string_view line = text;
        text = {};
        return line;
    }
    const std::string_view line = text.substr(0, end);
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n')
        ++next;
    text.remove_prefix(next);
    return line;
}

// Characters 6 to the end, blanks removed, as a 16-bit whole number: an
// optional sign and digits only; fractions and digit grouping are refused.
std::int32_t HeaderCount(std::string_view line, const std::string& path)
{
    if (line.size() <= 5)
        throw Error(ErrorKind::TypeMismatch, path, {"header line without a number", "riga dell'intestazione senza un numero"});
    std::string_view number = line.substr(5);
    while (!number.empty() && number.front() == ' ')
        number.remove_prefix(1);
    while (!number.empty() && number.back() == ' ')
        number.remove_suffix(1);

    bool negative = false;
    if (!number.empty() && (number.front() == '+' || number.front() == '-')) {
        negative = number.front() == '-';
        number.remove_prefix(1);
    }
    if (number.empty())
        throw Error(ErrorKind::TypeMismatch, path, {"header line without a number", "riga dell'intestazione senza un numero"});
    std::int64_t value = 0;
    for (const char c : number) {
        if (c < '0' || c > '9')
            throw Error(ErrorKind::TypeMismatch, path,
                        {"header number is not a whole number", "numero dell'intestazione non intero"});
        if (value <= 100000)
            value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        throw Error(ErrorKind::Overflow, path,
                    {"header number beyond -32768...32767", "numero dell'intestazione fuori da -32768...32767"});
    return std::int32_t(value);
}

struct GridHeader {
    std::int32_t columnCount;
    std::int32_t rowCount;
};

// A header holds three short lines; anything much longer is not a header.
constexpr std::size_t kMaxHeaderSize = 64 * 1024;
constexpr std::size_t kMaxHeaderLine = 4 * 1024;
// The region's grids hold well under a megabyte of values; a header that
// promises hundreds of megabytes is broken, and would fill the memory.
constexpr std::uint64_t kMaxGridBytes = std::uint64_t(256) << 20;

// The next of the header's three lines, number 1 to 3.
std::string_view HeaderLine(std::string_view& rest, int number, const std::string& headerPath)
{
    const auto line = NextLine(rest);
    if (!line)
        throw Error(ErrorKind::InputPastEndOfFile, headerPath);
    if (line->size() > kMaxHeaderLine)
        throw Error(ErrorKind::BadFileFormat, headerPath,
                    {"line " + std::to_string(number) + " is longer than 4 KiB",
                     "la riga " + std::to_string(number) + " è più lunga di 4 KiB"});
    return *line;
}

GridHeader ReadHeader(const std::string& headerPath)
{
    const std::string text = File(headerPath).ReadUpTo(kMaxHeaderSize);
    if (text.size() > kMaxHeaderSize)
        throw Error(ErrorKind::BadFileFormat, headerPath, {"header longer than 64 KiB", "intestazione più lunga di 64 KiB"});
    std::string_view rest = text;
    const std::int32_t columns = HeaderCount(HeaderLine(rest, 1, headerPath), headerPath);
    const std::int32_t rows = HeaderCount(HeaderLine(rest, 2, headerPath), headerPath);
    HeaderLine(rest, 3, headerPath);
    if (rows < 1 || columns < 1)
        throw Error(ErrorKind::SubscriptOutOfRange, headerPath, {"grid without rows or columns", "griglia senza righe o colonne"});
    const std::uint64_t bytes = std::uint64_t(rows) * std::uint64_t(columns) * 4;
    if (bytes > kMaxGridBytes) {
        const std::string counts = std::to_string(rows) + " x " + std::to_string(columns);
        throw Error(ErrorKind::BadFileFormat, headerPath,
                    {counts + " values, more than 256 MiB", counts + " valori, più di 256 MiB"});
    }
    return {columns, rows};
}

// The raster holds exactly the header's rows x columns values. A shorter one
// fails whatever cell is asked for; so does a longer one, since it means the
// header's column count is wrong and every value would be read from the wrong place.
void RequireMatchingRaster(const File& raster, const GridHeader& header, const std::string& rasterPath,
                           const std::string& headerPath)
{
    const std::uint64_t size = raster.Size();
    const std::uint64_t expected = std::uint64_t(header.rowCount) * std::uint64_t(header.columnCount) * 4;
    if (size == expected)
        return;
    const bool shorter = size < expected;
    const std::string counts = std::to_string(size) + " byte invece di " + std::to_string(expected) + ": " +
                               std::to_string(header.rowCount) + " righe × " + std::to_string(header.columnCount) +
                               " colonne × 4 byte";
    const std::string english = std::to_string(size) + " bytes instead of " + std::to_string(expected) + ": " +
                                std::to_string(header.rowCount) + " rows x " + std::to_string(header.columnCount) +
                                " columns x 4 bytes";
    throw Error(shorter ? ErrorKind::InputPastEndOfFile : ErrorKind::BadFileFormat, rasterPath,
                {std::string("raster ") + (shorter ? "shorter" : "longer") + " than its header " + headerPath +
                     " says (" + english + ")",
                 std::string("raster più ") + (shorter ? "corto" : "lungo") +
                     " di quanto dice la sua intestazione " + headerPath + " (" + counts + ")"});
}

bool CellInside(const GridHeader& header, GridCell cell)
{
    return cell.row >= 1 && cell.row <= header.rowCount && cell.column >= 1 && cell.column <= header.columnCount;
}

std::uint64_t CellOffset(std::int32_t columnCount, GridCell cell)
{
    return 4 * (std::uint64_t(cell.row - 1) * std::uint64_t(columnCount) + std::uint64_t(cell.column - 1));
}

std::int32_t ToInt32(double value)
{
    // NaN fails both comparisons and lands here too.
    if (!(value >= double(std::numeric_limits<std::int32_t>::min()) &&
          value <= double(std::numeric_limits<std::int32_t>::max())))
        throw Error(ErrorKind::Overflow, {},
                    {"coordinate beyond the grid arithmetic", "coordinata oltre i limiti del calcolo della griglia"});
    return std::int32_t(value);
}

std::int32_t CheckedAdd(std::int32_t a, std::int32_t b)
{
    std::int32_t sum;
    if (__builtin_add_overflow(a, b, &sum))
        throw Error(ErrorKind::Overflow, {}, {"cell beyond the grid arithmetic", "cella oltre i limiti del calcolo della griglia"});
    return sum;
}

std::int32_t CheckedMul(std::int32_t a, std::int32_t b)
{
    std::int32_t product;
    if (__builtin_mul_overflow(a, b, &product))
        throw Error(ErrorKind::Overflow, {}, {"cell beyond the grid arithmetic", "cella oltre i limiti del calcolo della griglia"});
    return product;
}

std::int32_t CheckedSub(std::int32_t a, std::int32_t b)
{
    std::int32_t difference;
    if (__builtin_sub_overflow(a, b, &difference))
        throw Error(ErrorKind::Overflow, {}, {"cell beyond the grid arithmetic", "cella oltre i limiti del calcolo della griglia"});
    return difference;
}

}  // namespace

GridCell CellForPoint(double x, double y)
{
    const double column = std::floor((x - kGridWestEdge) / kGridCellSize) + 1;
    const double row = kGridRows - std::floor((y - kGridSouthEdge) / kGridCellSize);
    return {ToInt32(row), ToInt32(column)};
}

GaussBoagaPoint CellCentre(GridCell cell)
{
    const std::int32_t east = CheckedAdd(
        CheckedAdd(CheckedMul(CheckedSub(cell.column, 1), kGridCellSize), kGridWestEdge), kGridCellSize / 2);
    const std::int32_t north = CheckedAdd(
        CheckedAdd(CheckedMul(CheckedSub(kGridRows, cell.row), kGridCellSize), kGridSouthEdge), kGridCellSize / 2);
    return {float(east), float(north)};
}

GridArea ReadGridArea(const std::string& headerPath)
{
    const GridHeader header = ReadHeader(headerPath);
    const double north = double(kGridSouthEdge) + double(kGridRows) * kGridCellSize;
    return {double(kGridWestEdge), double(kGridWestEdge) + double(header.columnCount) * kGridCellSize,
            north - double(header.rowCount) * kGridCellSize, north};
}

float ReadGridCell(const std::string& rasterPath, const std::string& headerPath, std::int32_t row,
                   std::int32_t column)
{
    const GridHeader header = ReadHeader(headerPath);
    const File raster(rasterPath);
    RequireMatchingRaster(raster, header, rasterPath, headerPath);
    const GridCell cell{row, column};
    if (!CellInside(header, cell))
        throw Error(ErrorKind::SubscriptOutOfRange, rasterPath,
                    {"cell outside the parameter grid", "cella fuori dalla griglia dei parametri"});
    float value;
    raster.ReadAt(&value, sizeof value, CellOffset(header.columnCount, cell));
    return value;
}

ParameterGrid ParameterGrid::Load(const std::string& rasterPath, const std::string& headerPath)
{
    const GridHeader header = ReadHeader(headerPath);
    const File raster(rasterPath);
    RequireMatchingRaster(raster, header, rasterPath, headerPath);
    ParameterGrid grid;
    grid.rowCount_ = header.rowCount;
    grid.columnCount_ = header.columnCount;
    grid.rasterPath_ = rasterPath;
    grid.values_.resize(std::size_t(header.rowCount) * std::size_t(header.columnCount));
    raster.ReadAt(grid.values_.data(), grid.values_.size() * sizeof(float), 0);
    return grid;
}

bool ParameterGrid::Contains(GridCell cell) const
{
    return CellInside({columnCount_, rowCount_}, cell);
}

float ParameterGrid::At(GridCell cell) const
{
    if (!Contains(cell))
        throw Error(ErrorKind::SubscriptOutOfRange, rasterPath_,
                    {"cell outside the parameter grid", "cella fuori dalla griglia dei parametri"});
    return values_[CellOffset(columnCount_, cell) / 4];
}

}  // namespace quorvel
