// Lays the records of a Workbook stream out again: the indexes sized to the
// rows, then every offset into the stream located anew.

#include <algorithm>
#include <map>

#include "report/Biff.h"

namespace quorvel::biff {
namespace {

void SizeIndexes(std::vector<Substream>& parts)
{
    for (size_t i = 1; i < parts.size(); ++i) {
        auto& records = parts[i].records;
        size_t blocks = 0, rows = 0;
        for (Record& record : records) {
            if (record.nested) {
                continue;
            }
            if (record.type == kRow) {
                ++rows;
            } else if (record.type == kDbCell) {
                ++blocks;
                record.data.resize(4 + 2 * std::min<size_t>(rows, kRowsPerBlock));
                rows = 0;
            }
        }
        for (Record& record : records) {
            if (record.type == kIndex && !record.nested) {
                record.data.resize(16 + 4 * blocks);
            }
        }
    }
}

// Each record's offset in the new stream, and the stream's size.
size_t PlaceRecords(Workbook& book, const std::string& file)
{
    std::uint64_t offset = 0;
    for (Substream& part : book.parts) {
        for (Record& record : part.records) {
            if (record.data.size() > 0xFFFF) {
                Fail(file, {"record too long", "record troppo lungo"});
            }
            record.offset = static_cast<std::uint32_t>(offset);
            offset += 4 + record.data.size();
        }
    }
    if (offset + book.trailer.size() > std::numeric_limits<std::int32_t>::max()) {
        Fail(file, {"workbook stream too large", "flusso della cartella di lavoro troppo grande"});
    }
    return static_cast<size_t>(offset + book.trailer.size());
}

void FixRowBlocks(Substream& part, const std::string& file)
{
    std::vector<const Record*> rows;
    std::map<std::uint16_t, std::uint32_t> firstCell;
    std::uint32_t defColWidth = 0;
    bool hasDefColWidth = false;
    std::vector<std::uint32_t> blocks;
    for (Record& record : part.records) {
        if (record.nested) {
            continue;
        }
        if (record.type == kDefColWidth) {
            defColWidth = record.offset;
            hasDefColWidth = true;
        } else if (record.type == kRow) {
            rows.push_back(&record);
        } else if (IsCell(record.type)) {
            firstCell.emplace(U16(record.data, 0), record.offset);
        } else if (record.type == kDbCell) {
            Bytes& data = record.data;
            Put32(data, 0, rows.empty() ? 0 : record.offset - rows.front()->offset);
            std::uint32_t from = rows.empty() ? 0 : rows.front()->offset + 20;
            for (size_t k = 0; k < rows.size() && 4 + 2 * k + 2 <= data.size(); ++k) {
                auto cell = firstCell.find(U16(rows[k]->data, 0));
                std::uint32_t step = 0;
                if (cell != firstCell.end()) {
                    step = cell->second - from;
                    from = cell->second;
                }
                if (step > 0xFFFF) {
                    Fail(file, {"row block too large", "blocco di righe troppo grande"});
                }
                Put16(data, 4 + 2 * k, step);
            }
            blocks.push_back(record.offset);
            rows.clear();
            firstCell.clear();
        }
    }
    for (Record& record : part.records) {
        if (record.type == kIndex && !record.nested) {
            if (hasDefColWidth) {
                Put32(record.data, 12, defColWidth);
            }
            for (size_t k = 0; k < blocks.size(); ++k) {
                Put32(record.data, 16 + 4 * k, blocks[k]);
            }
        }
    }
}

void FixOffsets(std::vector<Substream>& parts, const std::string& file)
{
    auto& globals = parts.front().records;
    // Looked up, not searched: a template may hold thousands of sheets, SST
    // pieces and buckets, and searching each for each would take minutes.
    std::map<std::uint32_t, std::uint32_t> sheetMoved;
    for (size_t i = parts.size() - 1; i >= 1; --i) {
        sheetMoved[parts[i].records.front().origin] = parts[i].records.front().offset;
    }
    std::vector<const Record*> strings;  // the SST and its CONTINUE records, by origin
    for (const Record& target : globals) {
        if (target.origin != kAdded && (target.type == kSst || target.type == kContinue)) {
            strings.push_back(&target);
        }
    }
    std::stable_sort(strings.begin(), strings.end(),
                     [](const Record* a, const Record* b) { return a->origin < b->origin; });
    for (Record& record : globals) {
        if (record.type == kBoundSheet && !record.nested) {
            if (const auto moved = sheetMoved.find(U32(record.data, 0)); moved != sheetMoved.end()) {
                Put32(record.data, 0, moved->second);
            }
        } else if (record.type == kExtSst && !record.nested) {
            // Bucket positions point into the SST and its CONTINUE records,
            // which keep their bytes and only move.
            for (size_t at = 2; at + 8 <= record.data.size(); at += 8) {
                const std::uint32_t position = U32(record.data, at);
                auto holder = std::upper_bound(strings.begin(), strings.end(), position,
                                               [](std::uint32_t p, const Record* r) { return p < r->origin; });
                if (holder != strings.begin()) {
                    const Record& target = **std::prev(holder);
                    if (position < target.origin + 4 + target.data.size()) {
                        Put32(record.data, at, position - target.origin + target.offset);
                    }
                }
            }
        }
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        FixRowBlocks(parts[i], file);
    }
}

Bytes Serialize(const Workbook& book, size_t size)
{
    Bytes out;
    out.reserve(size);
    for (const Substream& part : book.parts) {
        for (const Record& record : part.records) {
            const size_t at = out.size();
            out.resize(at + 4);
            Put16(out, at, record.type);
            Put16(out, at + 2, static_cast<std::uint32_t>(record.data.size()));
            out.insert(out.end(), record.data.begin(), record.data.end());
        }
    }
    out.insert(out.end(), book.trailer.begin(), book.trailer.end());
    return out;
}

}  // namespace

Bytes WriteWorkbook(Workbook& book, const std::string& file)
{
    SizeIndexes(book.parts);
    const size_t size = PlaceRecords(book, file);
    FixOffsets(book.parts, file);
    return Serialize(book, size);
}

}  // namespace quorvel::biff
