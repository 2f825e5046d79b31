// Reads a Workbook stream into its records.

#include <cstdio>
#include <cstring>

#include "rain/Error.h"
#include "report/Biff.h"

namespace quorvel::biff {
namespace {

// The fixed part of a record whose fields are read or written where it
// stands: in the globals, in every sheet (row blocks, cells, formulas, the
// window), or only in the sheet the report's cells go into. Anywhere else
// the record is copied unread, however short.
size_t MinimumSize(std::uint16_t type, Scope scope)
{
    if (scope == Scope::Globals) {
        switch (type) {
        case kXf: return 4;
        case kFormat: return 5;
        case kBoundSheet: case kFont: case kSst: case kRecalcId: return 8;
        case kWindow1: return 16;
        default: return 0;
        }
    }
    switch (type) {
    case kWindow2: return 2;
    case kBlank: return 6;
    case kLabel: case kBoolErr: case kRString: case kMulBlank: return 8;
    case kRk: case kLabelSst: return 10;
    case kMulRk: return 12;
    case kNumber: return 14;
    case kRow: case kIndex: return 16;
    case kFormula: return 20;
    default: break;
    }
    if (scope == Scope::EditedSheet) {
        switch (type) {
        case kSelection: return 1;
        case kMergedCells: return 2;
        case kShrFmla: case kArray: case kTable: return 6;
        case kColInfo: return 10;
        case kDimensions: return 12;
        default: break;
        }
    }
    return 0;
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

double DecodeRk(std::uint32_t rk)
{
    double value;
    if (rk & 2) {
        value = static_cast<std::int32_t>(rk) >> 2;
    } else {
        std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFC) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return rk & 1 ? value / 100 : value;
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

void FailShort(const Record& record, const std::string& file)
{
    char english[80], italian[80];
    std::snprintf(english, sizeof english, "record 0x%04X at offset %u too short", record.type,
                  record.origin);
    std::snprintf(italian, sizeof italian, "record 0x%04X alla posizione %u troppo corto",
                  record.type, record.origin);
    Fail(file, {english, italian});
}

void CheckSizes(const Substream& part, Scope scope, const std::string& file)
{
    for (const Record& record : part.records) {
        // Records of embedded charts are carried over unread.
        if (!record.nested && record.data.size() < MinimumSize(record.type, scope)) {
            FailShort(record, file);
        }
    }
}

// The SST's strings run on across its CONTINUE records; a string's characters
// that cross into a CONTINUE start with a fresh option byte there.
std::vector<std::u16string> ReadSharedStrings(const std::vector<Record>& records, size_t sstIndex,
                                              const std::string& file)
{
    std::vector<const Bytes*> segments{&records[sstIndex].data};
    for (size_t i = sstIndex + 1; i < records.size() && records[i].type == kContinue; ++i) {
        segments.push_back(&records[i].data);
    }
    size_t segment = 0, at = 0;
    auto available = [&]() -> bool {
        while (segment < segments.size() && at >= segments[segment]->size()) {
            ++segment;
            at = 0;
        }
        return segment < segments.size();
    };
    auto byte = [&]() -> std::uint8_t {
        if (!available()) {
            Fail(file, {"shared strings cut short", "tabella delle stringhe condivise troncata"});
        }
        return (*segments[segment])[at++];
    };
    auto skip = [&](size_t count) {
        for (size_t k = 0; k < count; ++k) {
            byte();
        }
    };
    // Each byte read in its own statement: the operands of | are unsequenced.
    auto u16 = [&]() {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | byte() << 8);
    };
    auto u32 = [&]() {
        const std::uint32_t low = u16();
        return low | static_cast<std::uint32_t>(u16()) << 16;
    };

    u32();
    const std::uint32_t unique = u32();
    std::vector<std::u16string> strings;
    for (std::uint32_t n = 0; n < unique && available(); ++n) {
        const std::uint16_t count = u16();
        const std::uint8_t options = byte();
        bool wide = options & 1;
        const std::uint16_t runs = options & 8 ? u16() : 0;
        const std::uint32_t extra = options & 4 ? u32() : 0;
        std::u16string text;
        for (std::uint16_t k = 0; k < count; ++k) {
            if (at >= segments[segment]->size()) {
                ++segment;
                at = 0;
                wide = byte() & 1;
            }
            text += wide ? static_cast<char16_t>(u16()) : static_cast<char16_t>(byte());
        }
        skip(4 * static_cast<size_t>(runs));
        skip(extra);
        strings.push_back(std::move(text));
    }
    return strings;
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
        if (record.type == kBof && length < 4) {
            FailShort(record, file);
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
