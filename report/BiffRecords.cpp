// Reads a Workbook stream into its records.

#include <cstdio>

#include "rain/Error.h"
#include "report/Biff.h"

namespace quorvel::biff {
namespace {

// The fixed part of every record whose fields the editor reads or writes. A
// record shorter than that is malformed in whichever substream it stands, and
// is refused before anything reads it.
size_t MinimumSize(std::uint16_t type)
{
    switch (type) {
    case kSelection: return 1;
    case kWindow2: case kMergedCells: return 2;
    case kBof: case kXf: case kDefaultRowHeight: return 4;
    case kFormat: return 5;
    case kBlank: case kShrFmla: case kArray: case kTable: return 6;
    case kBoundSheet: case kFont: case kSst: case kRecalcId: case kLabel: case kBoolErr:
    case kRString: case kMulBlank: return 8;
    case kColInfo: case kRk: case kLabelSst: return 10;
    case kDimensions: case kMulRk: return 12;
    case kNumber: return 14;
    case kWindow1: case kRow: case kIndex: return 16;
    case kFormula: return 20;
    default: return 0;
    }
}

}  // namespace

bool IsCell(std::uint16_t type)
{
    switch (type) {
    case kFormula: case kBlank: case kNumber: case kLabel: case kBoolErr: case kRk:
    case kLabelSst: case kRString: case kMulRk: case kMulBlank:
        return true;
    default:
        return false;
    }
}

size_t MultiUnit(std::uint16_t type)
{
    return type == kMulRk ? 6 : type == kMulBlank ? 2 : 0;
}

bool IsAttachment(std::uint16_t type)
{
    return type == kString || type == kShrFmla || type == kArray || type == kTable ||
           type == kContinue;
}

Record MakeRecord(std::uint16_t type, size_t size)
{
    Record record;
    record.type = type;
    record.data.assign(size, 0);
    return record;
}

void Fail(const std::string& file, const ErrorDetail& why)
{
    throw Error(ErrorKind::BadFileFormat, file, why);
}

Workbook ReadWorkbook(std::span<const std::uint8_t> stream, const std::string& file)
{
    Workbook book;
    auto& parts = book.parts;
    const size_t size = stream.size();
    if (size < 8 || U16(stream, 0) != kBof) {
        Fail(file, {"not a BIFF workbook stream", "non è un flusso di cartella di lavoro BIFF"});
    }
    size_t pos = 0;
    int depth = 0;
    while (pos + 4 <= size) {
        Record record;
        record.type = U16(stream, pos);
        const size_t length = U16(stream, pos + 2);
        if (pos + 4 + length > size) {
            Fail(file, {"truncated record", "record troncato"});
        }
        record.origin = static_cast<std::uint32_t>(pos);
        record.data.assign(stream.begin() + pos + 4, stream.begin() + pos + 4 + length);
        pos += 4 + length;
        // Records of embedded charts are carried over unread, except their BOF.
        if ((depth <= 1 || record.type == kBof) && length < MinimumSize(record.type)) {
            char english[80], italian[80];
            std::snprintf(english, sizeof english, "record 0x%04X at offset %u too short",
                          record.type, record.origin);
            std::snprintf(italian, sizeof italian, "record 0x%04X alla posizione %u troppo corto",
                          record.type, record.origin);
            Fail(file, {english, italian});
        }
        if (record.type == kBof) {
            if (depth == 0) {
                if (U16(record.data, 0) != 0x0600) {
                    Fail(file, {"not a BIFF8 workbook", "non è una cartella di lavoro BIFF8 (Excel 97-2003)"});
                }
                parts.push_back({U16(record.data, 2), {}});
            }
            if (++depth > 8) {
                Fail(file, {"substreams nested too deeply", "sottoflussi annidati troppo in profondità"});
            }
        } else if (depth == 0) {
            Fail(file, {"record outside a substream", "record fuori da un sottoflusso"});
        }
        record.nested = depth > 1;
        const bool end = record.type == kEof;
        parts.back().records.push_back(std::move(record));
        if (end && --depth == 0) {
            // Some writers pad the stream after the last substream.
            if (pos + 4 > size || U16(stream, pos) != kBof) {
                book.trailer.assign(stream.begin() + pos, stream.end());
                pos = size;
            }
        }
    }
    if (depth != 0 || pos != size) {
        Fail(file, {"truncated workbook stream", "flusso della cartella di lavoro troncato"});
    }
    if (parts.front().kind != kGlobalsKind) {
        Fail(file, {"no workbook globals", "mancano i dati globali della cartella di lavoro"});
    }
    for (const Record& record : parts.front().records) {
        if (record.type == kFilePass) {
            Fail(file, {"encrypted workbook", "cartella di lavoro cifrata"});
        }
    }
    return book;
}

}  // namespace quorvel::biff
