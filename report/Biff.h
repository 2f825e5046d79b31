#pragma once

// The records of a BIFF8 Workbook stream as the report writer holds them
// between reading the template and laying the report out: one list of
// records per substream, each record remembering where it stood.

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "rain/Error.h"

namespace quorvel::biff {

enum RecordType : std::uint16_t {
    kFormula = 0x0006,
    kEof = 0x000A,
    kPrecision = 0x000E,
    kExternSheet = 0x0017,
    kSelection = 0x001D,
    kFilePass = 0x002F,
    kFont = 0x0031,
    kContinue = 0x003C,
    kWindow1 = 0x003D,
    kPane = 0x0041,
    kDefColWidth = 0x0055,
    kColInfo = 0x007D,
    kBoundSheet = 0x0085,
    kScl = 0x00A0,
    kMulRk = 0x00BD,
    kMulBlank = 0x00BE,
    kRString = 0x00D6,
    kDbCell = 0x00D7,
    kXf = 0x00E0,
    kMergedCells = 0x00E5,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kExtSst = 0x00FF,
    kSupBook = 0x01AE,
    kRecalcId = 0x01C1,
    kDimensions = 0x0200,
    kBlank = 0x0201,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kString = 0x0207,
    kRow = 0x0208,
    kIndex = 0x020B,
    kArray = 0x0221,
    kDefaultRowHeight = 0x0225,
    kTable = 0x0236,
    kWindow2 = 0x023E,
    kRk = 0x027E,
    kFormat = 0x041E,
    kShrFmla = 0x04BC,
    kBof = 0x0809,
    kPlv = 0x088B,
};

constexpr std::uint16_t kGlobalsKind = 0x0005;
constexpr std::uint16_t kWorksheetKind = 0x0010;
constexpr std::uint16_t kMacroSheetKind = 0x0040;
constexpr std::uint32_t kAdded = std::numeric_limits<std::uint32_t>::max();
constexpr int kRowsPerBlock = 32;

using Bytes = std::vector<std::uint8_t>;

struct Record {
    std::uint16_t type = 0;
    Bytes data;
    std::uint32_t origin = kAdded;  // offset in the template's stream
    bool nested = false;            // inside an embedded chart
    std::uint32_t offset = 0;       // offset in the output stream
};

struct Substream {
    std::uint16_t kind = 0;
    std::vector<Record> records;
};

// The globals first, then the sheets in stream order; the trailer is what
// some writers pad the stream with after the last substream.
struct Workbook {
    std::vector<Substream> parts;
    Bytes trailer;
};

inline std::uint16_t U16(std::span<const std::uint8_t> data, size_t at)
{
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

inline std::uint32_t U32(std::span<const std::uint8_t> data, size_t at)
{
    return static_cast<std::uint32_t>(U16(data, at)) |
           static_cast<std::uint32_t>(U16(data, at + 2)) << 16;
}

inline void Put16(Bytes& data, size_t at, std::uint32_t value)
{
    data[at] = static_cast<std::uint8_t>(value);
    data[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Put32(Bytes& data, size_t at, std::uint32_t value)
{
    Put16(data, at, value & 0xFFFF);
    Put16(data, at + 2, value >> 16);
}

bool IsCell(std::uint16_t type);

// Bytes per cell of a MULRK (XF and RK value) or MULBLANK (XF); 0 for the
// records of a single cell.
size_t MultiUnit(std::uint16_t type);

// Records that belong to the cell record before them.
bool IsAttachment(std::uint16_t type);

Record MakeRecord(std::uint16_t type, size_t size);

// The number an RK value holds.
double DecodeRk(std::uint32_t rk);

// Error(BadFileFormat) naming file.
[[noreturn]] void Fail(const std::string& file, const ErrorDetail& why);

// The records of a stream. A stream that is not an unencrypted BIFF8
// workbook, or whose records do not add up, is Error(BadFileFormat) naming file.
Workbook ReadWorkbook(std::span<const std::uint8_t> stream, const std::string& file);

// The strings of the SST at records[sstIndex] and the CONTINUE records after
// it. Error(BadFileFormat) naming file when they end before their count.
std::vector<std::u16string> ReadSharedStrings(const std::vector<Record>& records, size_t sstIndex,
                                              const std::string& file);

// Where a substream stands: its records' sizes are checked against the
// fields read or written of them there.
enum class Scope { Globals, Sheet, EditedSheet };

[[noreturn]] void FailShort(const Record& record, const std::string& file);

// Error(BadFileFormat) naming file for the first record of the substream
// too short for what is read or written of it in that scope.
void CheckSizes(const Substream& part, Scope scope, const std::string& file);

// Every formula of the worksheets computed where it can be, its result stored
// as the formula's cached value (with a STRING record for text); the others
// keep an empty text, and all do under "precision as shown". All keep the
// flag to be recalculated on load. sharedStrings are the SST's strings.
void StoreFormulaResults(std::vector<Substream>& parts,
                         const std::vector<std::u16string>& sharedStrings);

// Whether the globals hold a PRECISION record with full precision cleared:
// "precision as shown", under which every result follows the cells' formats.
bool PrecisionAsShown(const Substream& globals);

// The stream of the records in their order: DBCELL and INDEX sized to the
// rows, every offset into the stream (sheet positions, row blocks, SST
// buckets) located again. Error(BadFileFormat) naming file when a record or
// the stream grows past what the format can hold.
Bytes WriteWorkbook(Workbook& book, const std::string& file);

}  // namespace quorvel::biff
